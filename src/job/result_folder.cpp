#include "job/result_folder.h"

#include <unistd.h>

#include <filesystem>

#include "job/article_listing.h"
#include "platform/file_store.h"
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

bool CarriesPageBundle(std::string_view articlePath, const ExtensionOptions& options) {
    if (!options.recursive || options.outputFolder.empty()) return false;
    const std::string name = text::FileName(articlePath);
    return name.starts_with("index.") || name.starts_with("_index.");
}

namespace {

// The whole regular file at base/relative, opened by the rule a run writes by.
bool ReadBeneath(std::string_view base, std::string_view relative, std::string& bytes) {
    const int fd = platform::OpenFileBeneath(base, relative);
    if (fd < 0) return false;
    bytes.clear();
    char buffer[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return n == 0;
}

}  // namespace

std::size_t CopyPageBundle(std::string_view articleFolder, const std::string& articlePath,
                           const std::string& resultFolder, const std::set<std::string>& articles,
                           platform::EventPoints& events) {
    const std::string folder = text::DirectoryPart(articlePath);
    // The result folder the run would make inside the article folder without --output.
    const std::string inside = ResultFolder(articleFolder);
    std::size_t failed = 0;
    std::string bytes;
    for (const std::string& file :
         ListArticles(folder, "*", ListingMethod::FolderObject, events, {true, resultFolder})) {
        if (articles.contains(file) || file.starts_with(inside)) continue;
        const std::string relative = ArticleBelow(articleFolder, file);
        const platform::StoreBytesResult stored =
            ReadBeneath(articleFolder, relative, bytes)
                ? platform::StoreBytesBeneath(resultFolder, relative, bytes)
                : platform::StoreBytesResult::Failed;
        if (stored != platform::StoreBytesResult::Stored &&
            stored != platform::StoreBytesResult::Same)
            ++failed;
    }
    return failed;
}

}  // namespace zembrat::job
