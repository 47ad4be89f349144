#include "publish/result_items.h"

#include <ctime>
#include <map>
#include <set>

#include "platform/files.h"
#include "publish/curl_session.h"
#include "publish/served_as.h"
#include "record/run_record.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::publish {
namespace {

// The item for a recorded path below folder: read beneath it, refused when the path is not plain.
PublishItem ItemAt(const std::string& folder, const std::string& relative) {
    PublishItem item;
    item.folder = folder;
    item.localFile = relative;
    item.remotePath = RemotePathOf(relative);
    // A plain relative path below the folder, as every remote path must be.
    if (!SplitRemotePath(item.remotePath))
        item.refused = "\"" + item.remotePath +
                       "\" is no plain path below the result folder in the run record; it was "
                       "neither read nor sent";
    return item;
}

}  // namespace

std::string RemotePathOf(const std::string& relative) {
    // Converted first: a GBK character's second byte may be that of "\\".
    return text::ReplaceAll(text::Utf8FromGbk(relative), "\\", "/");
}

std::vector<PublishItem> ResultItems(const record::RunRecord& record,
                                     const std::string& resultFolder, bool articles) {
    const std::string folder = text::WithSeparator(resultFolder);
    // Stored name -> the item; address -> stored name, to find who uses each image. A file no
    // longer there is left out; anything else at its name is listed, to fail with its reason.
    std::map<std::string, PublishItem> images;
    std::map<std::string, std::string> storedAt;
    record.ForEachStoredImage([&](const record::ImageEntry& image) {
        PublishItem item = ItemAt(folder, image.storedPath);
        if (item.refused.empty() && !platform::PathExists(folder + image.storedPath)) return;
        item.size = image.size;
        item.crc32 = image.crc;
        // Named by their bytes, which never change under the name.
        item.servedAs = {ContentTypeOf(item.remotePath), std::string(kImmutableCaching)};
        storedAt[image.address] = image.storedPath;
        images[image.storedPath] = std::move(item);
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
        PublishItem item = ItemAt(folder, article.resultPath);
        if (item.refused.empty() && !platform::PathExists(folder + article.resultPath)) return;
        item.sha256 = article.resultHash;
        item.servedAs = {ContentTypeOf(item.remotePath), std::string(kArticleCaching)};
        written.push_back(std::move(item));
    });
    std::vector<PublishItem> items;
    items.reserve(images.size() + written.size());
    for (auto& [name, item] : images) items.push_back(std::move(item));
    for (PublishItem& item : written) items.push_back(std::move(item));
    return items;
}

std::vector<PublishItem> FolderItems(const std::string& resultFolder,
                                     const std::string& imageFolder,
                                     const std::string& articleFilter) {
    const std::string folder = text::WithSeparator(resultFolder);
    std::vector<PublishItem> items;
    const std::string below = imageFolder.empty() ? "" : text::WithSeparator(imageFolder);
    for (const std::string& name : platform::SearchFiles(folder + below, "*")) {
        // A content name: the CRC-32 in upper-case hexadecimal, then the extension.
        const std::size_t dot = name.find('.');
        const std::string stem = name.substr(0, dot);
        if (dot == std::string::npos || stem.empty() || stem.size() > 8 ||
            stem.find_first_not_of("0123456789ABCDEF") != std::string::npos)
            continue;
        PublishItem item = ItemAt(folder, below + name);
        item.crc32 = static_cast<std::uint32_t>(std::stoul(stem, nullptr, 16));
        item.servedAs = {ContentTypeOf(item.remotePath), std::string(kImmutableCaching)};
        items.push_back(std::move(item));
    }
    if (articleFilter.empty()) return items;
    for (const std::string& name : platform::SearchFiles(folder, articleFilter)) {
        if (name.starts_with(".")) continue;  // the record, its journals, temporary files
        PublishItem item = ItemAt(folder, name);
        item.servedAs = {ContentTypeOf(item.remotePath), std::string(kArticleCaching)};
        items.push_back(std::move(item));
    }
    return items;
}

std::optional<ManifestEntry> RecordManifest::Find(const std::string& place,
                                                  const std::string& remotePath) {
    const std::optional<record::PublishedEntry> entry = record_.Published(place, remotePath);
    if (!entry) return std::nullopt;
    return ManifestEntry{entry->size, entry->md5, entry->time};
}

bool RecordManifest::Put(const std::string& place,
                         const std::vector<std::pair<std::string, ManifestEntry>>& published) {
    std::vector<record::PublishedEntry> entries;
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    for (const auto& [path, entry] : published)
        entries.push_back({place, path, entry.size, entry.md5, now});
    return record_.PutPublished(entries);
}

bool RecordManifest::Forget(const std::string& place, const std::vector<std::string>& remotePaths) {
    return record_.ForgetPublished(place, remotePaths);
}

}  // namespace zembrat::publish
