#include "platform/file_replace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/file_descriptor.h"
#include "platform/files.h"
#include "platform/folders_beneath.h"
#include "platform/temporary_files.h"
#include "text/codec.h"

namespace zembrat::platform {
using namespace files_detail;

bool WriteFileBeneath(std::string_view base, std::string_view relativeName,
                      std::string_view bytes) {
    return WriteFileBeneath(base, relativeName, bytes, 0666);
}

bool WriteFileBeneath(std::string_view base, std::string_view relativeName, std::string_view bytes,
                      unsigned permissions) {
    const auto names = PathNames(relativeName);
    if (!names || base.empty()) return false;
    const Fd folder = OpenFolders(base, *names, names->size() - 1);
    if (!folder) return false;
    std::string temporary;
    if (!WriteTemporary(folder.get(), bytes, permissions & 0777u, false, temporary)) return false;
    // The rename replaces the entry itself: a link at the name is replaced, not written through.
    if (::renameat(folder.get(), temporary.c_str(), folder.get(), names->back().c_str()) == 0)
        return true;
    Discard(folder.get(), temporary);
    return false;
}

std::size_t RemoveLeftoverTemporaries(std::string_view base, std::string_view relativeFolder) {
    if (base.empty()) return 0;
    const Fd top = OpenFolders(base, {}, 0);
    if (!top) return 0;
    std::size_t removed = SweepFolder(top.get());
    if (relativeFolder.empty()) return removed;
    const auto names = PathNames(std::string(relativeFolder) + "/_");
    if (!names || names->size() < 2) return removed;
    const Fd folder = OpenFolders(base, *names, names->size() - 1, false);
    if (folder) removed += SweepFolder(folder.get());
    return removed;
}

bool WriteFileAtomically(std::string_view path, std::string_view bytes) {
    const std::size_t cut = path.rfind(text::kPathSeparator);
    const std::string name(cut == std::string_view::npos ? path : path.substr(cut + 1));
    if (name.empty()) return false;
    const std::string folderPath(cut == std::string_view::npos ? std::string_view(".")
                                 : cut == 0                    ? path.substr(0, 1)
                                                               : path.substr(0, cut));
    const Fd folder(Retrying([&] {
        return ::open(NativePath(folderPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }));
    if (!folder) return false;
    std::string temporary;
    if (!WriteTemporary(folder.get(), bytes, 0666, true, temporary)) return false;
    if (::renameat(folder.get(), temporary.c_str(), folder.get(), NativePath(name).c_str()) != 0) {
        Discard(folder.get(), temporary);
        return false;
    }
    // The new name itself reaches the disk only with the folder.
    ::fsync(folder.get());
    return true;
}

}  // namespace zembrat::platform
