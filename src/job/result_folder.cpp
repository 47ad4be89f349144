#include "job/result_folder.h"

#include <filesystem>

#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::job {

bool MakeFolders(std::string_view path) {
    const std::string_view separator(&text::kPathSeparator, 1);
    constexpr std::size_t kSkippedPrefix = 0;  // the root
    for (std::size_t p = text::Find(path, separator); p != text::kNotFound;
         p = text::Find(path, separator, p + 1)) {
        const std::string_view prefix = path.substr(0, p);
        if (prefix.size() == kSkippedPrefix || platform::PathExists(prefix)) continue;
        if (!platform::CreateOneFolder(prefix)) return false;
    }
    return true;
}

bool LeavesItsBase(std::string_view relative) {
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find_first_of("/\\", start);
        if (end == std::string_view::npos) end = relative.size();
        if (relative.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

std::string ResultFolder(std::string_view articleFolder) {
    using namespace text::literals;
    return text::WithSeparator(articleFolder) + "转存结果"_gbk + text::kPathSeparator;
}

std::string ResultFolder(std::string_view articleFolder, const ExtensionOptions& options) {
    if (options.outputFolder.empty()) return ResultFolder(articleFolder);
    return text::WithSeparator(options.outputFolder);
}

bool OutputFolderUsable(std::string_view articleFolder, const ExtensionOptions& options) {
    if (options.outputFolder.empty()) return true;
    if (!options.outputFolder.starts_with(text::kPathSeparator)) return false;
    std::error_code ec;
    return !std::filesystem::equivalent(platform::NativePath(options.outputFolder),
                                        platform::NativePath(articleFolder), ec);
}

}  // namespace zembrat::job
