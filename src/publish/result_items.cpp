#include "publish/result_items.h"

#include <ctime>
#include <map>
#include <set>
#include <system_error>

#include "platform/files.h"
#include "record/run_record.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::publish {
namespace {

// A path below the result folder as the server names it: UTF-8, "/" between pieces.
std::string RemotePath(const std::string& relative) {
    return text::Utf8FromGbk(text::ReplaceAll(relative, "\\", "/"));
}

}  // namespace

std::vector<PublishItem> ResultItems(const record::RunRecord& record,
                                     const std::string& resultFolder, bool articles) {
    const std::string folder = text::WithSeparator(resultFolder);
    // Stored name -> the item; address -> stored name, to find who uses each image.
    std::map<std::string, PublishItem> images;
    std::map<std::string, std::string> storedAt;
    record.ForEachStoredImage([&](const record::ImageEntry& image) {
        const std::filesystem::path local = platform::NativePath(folder + image.storedPath);
        std::error_code error;
        if (!std::filesystem::is_regular_file(local, error)) return;
        storedAt[image.address] = image.storedPath;
        PublishItem& item = images[image.storedPath];
        item.localFile = local.string();
        item.remotePath = RemotePath(image.storedPath);
    });
    std::vector<PublishItem> written;
    record.ForEachArticle([&](const record::ArticleEntry& article) {
        std::set<std::string> named;
        for (const record::ReferenceEntry& ref : article.references) {
            const auto it = storedAt.find(ref.address);
            if (it == storedAt.end() || !named.insert(it->second).second) continue;
            images[it->second].usedBy.push_back(text::Utf8FromGbk(article.path));
        }
        if (!articles || article.resultPath.empty()) return;
        const std::filesystem::path local = platform::NativePath(folder + article.resultPath);
        std::error_code error;
        if (!std::filesystem::is_regular_file(local, error)) return;
        written.push_back({local.string(), RemotePath(article.resultPath), {}});
    });
    std::vector<PublishItem> items;
    items.reserve(images.size() + written.size());
    for (auto& [name, item] : images) items.push_back(std::move(item));
    for (PublishItem& item : written) items.push_back(std::move(item));
    return items;
}

std::optional<ManifestEntry> RecordManifest::Find(const std::string& target,
                                                  const std::string& remotePath) {
    const std::optional<record::PublishedEntry> entry = record_.Published(target, remotePath);
    if (!entry) return std::nullopt;
    return ManifestEntry{entry->size, entry->md5, entry->time};
}

bool RecordManifest::Put(const std::string& target,
                         const std::vector<std::pair<std::string, ManifestEntry>>& published) {
    std::vector<record::PublishedEntry> entries;
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    for (const auto& [path, entry] : published)
        entries.push_back({target, path, entry.size, entry.md5, now});
    return record_.PutPublished(entries);
}

}  // namespace zembrat::publish
