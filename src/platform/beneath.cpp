#include "platform/beneath.h"

#include <filesystem>
#include <system_error>

#include "platform/files.h"
#include "text/gbk.h"

namespace zembrat::platform {

bool IsRealFolder(std::string_view path) {
    std::error_code ec;
    return std::filesystem::symlink_status(NativePath(path), ec).type() ==
           std::filesystem::file_type::directory;
}

StoreOutcome StoreBytesBeneath(const std::string& base, const std::string& relative,
                               std::string_view bytes) {
    const std::string full = base + relative;
    if (PathExists(full)) {
        if (IsFolder(full)) return StoreOutcome::Taken;
        text::Bytes existing;
        return ReadWholeFile(full, existing) && existing == bytes ? StoreOutcome::Same
                                                                  : StoreOutcome::Taken;
    }
    std::error_code ec;
    std::filesystem::create_directories(NativePath(text::DirectoryPart(full)), ec);
    if (!WriteWholeFile(full, bytes)) {
        std::filesystem::remove(NativePath(full), ec);
        return StoreOutcome::Failed;
    }
    return StoreOutcome::Stored;
}

bool WriteFileBeneath(const std::string& base, const std::string& relative, std::string_view bytes) {
    return WriteWholeFile(base + relative, bytes);
}

}  // namespace zembrat::platform
