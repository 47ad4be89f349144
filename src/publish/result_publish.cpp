#include "publish/result_publish.h"

#include "publish/result_items.h"
#include "publish/target_list.h"
#include "record/run_record.h"

namespace zembrat::publish {

ResultPublish PublishResult(const ResultPublishRequest& request, PublishObserver& observer,
                            std::stop_token stop, const std::function<void()>& pump) {
    ResultPublish result;
    result.target = ResolveTarget(request.keptTargets, request.target, result.message);
    if (!result.target) return result;
    record::RunRecord record;
    const bool opened = record.Open(request.resultFolder) != record::OpenResult::Failed;
    result.recordMessage = record.Message();
    if (!result.recordMessage.empty() && request.recordSays)
        request.recordSays(result.recordMessage);
    if (!opened) {
        result.end = ResultPublishEnd::RecordFailed;
        return result;
    }
    result.items = ResultItems(record, request.resultFolder, request.articles);
    if (result.items.empty()) {
        result.end = ResultPublishEnd::NothingToPublish;
        return result;
    }
    result.end = ResultPublishEnd::Published;
    Credentials credentials = request.credentials;
    RecordManifest manifest(record);
    const Target& target = *result.target;
    const auto publishOnce = [&] {
        return Publish(
            result.items, target.name, [&] { return MakeTransport(target, credentials); },
            &manifest, observer, request.options, stop, pump);
    };
    result.summary = publishOnce();
    if (result.summary.hostKeyUnknown && !credentials.acceptNewHostKey && request.trustNewHostKey &&
        request.trustNewHostKey(result.summary.message)) {
        credentials.acceptNewHostKey = true;
        result.summary = publishOnce();
    }
    return result;
}

}  // namespace zembrat::publish
