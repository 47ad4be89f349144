#include "publish/result_publish.h"

#include <algorithm>
#include <cctype>

#include "platform/files.h"
#include "publish/result_items.h"
#include "publish/secret_files.h"
#include "publish/target_list.h"
#include "record/run_record.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::publish {
namespace {

// Whether an address prefix and a public address name one place: the host in any letter case, a
// final "/" or none, the scheme left out (a prefix may be given without one; http and https reach
// the same files).
bool SameAddress(std::string a, std::string b) {
    const auto plain = [](std::string& address) {
        if (const std::size_t scheme = address.find("://"); scheme != std::string::npos)
            address.erase(0, scheme + 3);
        else if (address.starts_with("//"))
            address.erase(0, 2);
        while (!address.empty() && address.back() == '/') address.pop_back();
        const std::size_t path = std::min(address.find('/'), address.size());
        std::transform(address.begin(), address.begin() + static_cast<std::ptrdiff_t>(path),
                       address.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    };
    plain(a);
    plain(b);
    return a == b;
}

}  // namespace

bool OpenResult(const ResultPublishRequest& request, record::RunRecord& record,
                ResultPublish& result) {
    result.target = ResolveTarget(request.keptTargets, request.target, result.message);
    if (!result.target) return false;
    result.resultFolder = request.resultFolder;
    // A run's result: its record, or (a run that kept none) its image folder.
    const auto holdsResult = [&request](const std::string& folder) {
        if (folder.empty()) return false;
        const std::string base = text::WithSeparator(folder);
        return platform::PathExists(base + record::RunRecord::FileName()) ||
               (!request.imageFolder.empty() && platform::PathExists(base + request.imageFolder));
    };
    if (!holdsResult(request.resultFolder) && holdsResult(request.namedFolder))
        result.resultFolder = request.namedFolder;
    const record::OpenResult how = record.Open(result.resultFolder);
    const bool opened = how != record::OpenResult::Failed;
    result.fromFiles = how == record::OpenResult::Created;  // no record was there
    result.recordMessage = record.Message();
    if (!result.recordMessage.empty() && request.recordSays)
        request.recordSays(result.recordMessage);
    if (!opened || how == record::OpenResult::Newer) {
        result.end = opened ? ResultPublishEnd::RecordNewer : ResultPublishEnd::RecordFailed;
        result.newerRecordVersion = record.NewerVersion();
        return false;
    }
    return true;
}

ResultPublish PublishResult(const ResultPublishRequest& request, PublishObserver& observer,
                            std::stop_token stop, const std::function<void()>& pump) {
    ResultPublish result;
    record::RunRecord record;
    if (!OpenResult(request, record, result)) return result;
    const Target& target = *result.target;
    bool articles = request.articles;
    if (articles && !request.newPrefix.empty() && !target.publicAddress.empty() &&
        !SameAddress(text::Utf8FromGbk(request.newPrefix), target.publicAddress)) {
        articles = false;
        result.articlesRefused =
            "the articles were not published: their images point at " +
            text::Utf8FromGbk(request.newPrefix) + " (the new prefix), but " + target.name +
            " shows them at " + target.publicAddress +
            " (its public address); set the new prefix to that address and run again";
    }
    // No record was there, or none that knows a stored image (one a publish of the files made
    // holds only its manifest): the files are what there is to publish, the record keeps the
    // manifest.
    if (!result.fromFiles) result.items = ResultItems(record, result.resultFolder, articles);
    if (result.items.empty()) {
        result.fromFiles = true;
        result.items = FolderItems(result.resultFolder, request.imageFolder,
                                   articles ? request.articleFilter : std::string());
    }
    if (result.items.empty()) {
        result.end = ResultPublishEnd::NothingToPublish;
        return result;
    }
    result.end = ResultPublishEnd::Published;
    Credentials credentials = request.credentials;
    credentials.password = KeyringPassword(target, credentials, request.keyring);
    RecordManifest manifest(record);
    // Kept by where the files go, whatever the target is called.
    const std::string place = TargetPlace(target);
    // The target's own number of uploads at once, when it gives one.
    PublishOptions options = request.options;
    if (target.uploads) options.atOnce = target.uploads;
    const auto publishOnce = [&] {
        observer.ItemsListed(result.items, target);
        return Publish(
            result.items, place, [&] { return MakeTransport(target, credentials); }, &manifest,
            observer, options, stop, pump);
    };
    result.summary = publishOnce();
    if (result.summary.hostKeyUnknown && !credentials.acceptNewHostKey && request.trustNewHostKey &&
        request.trustNewHostKey(result.summary.hostKey)) {
        credentials.acceptNewHostKey = true;
        result.summary = publishOnce();
    }
    return result;
}

}  // namespace zembrat::publish
