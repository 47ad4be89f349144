#include "job/folders.h"

#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::job {

bool MakeFolders(std::string_view path) {
    const std::string_view separator(&text::kPathSeparator, 1);
#ifdef _WIN32
    constexpr std::size_t kSkippedPrefix = 2;  // "C:"
#else
    constexpr std::size_t kSkippedPrefix = 0;  // the root
#endif
    for (std::size_t p = text::Find(path, separator); p != text::kNotFound;
         p = text::Find(path, separator, p + 1)) {
        const std::string_view prefix = path.substr(0, p);
        if (prefix.size() == kSkippedPrefix || platform::PathExists(prefix)) continue;
        if (!platform::CreateOneFolder(prefix)) return false;
    }
    return true;
}

std::string ResultFolder(std::string_view articleFolder) {
    using namespace text::literals;
    return text::WithSeparator(articleFolder) + "转存结果"_gbk + text::kPathSeparator;
}

}  // namespace zembrat::job
