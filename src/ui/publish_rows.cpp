#include "ui/publish_rows.h"

#include "job/run.h"
#include "platform/event_points.h"
#include "publish/result_publish.h"
#include "publish/target_list.h"
#include "text/codec.h"
#include "text/gbk.h"
#include "ui/target_probe.h"

namespace zembrat::ui {
namespace {

using namespace text::literals;

StatusIcon IconOf(publish::PublishOutcome outcome) {
    switch (outcome) {
        case publish::PublishOutcome::Uploaded:
        case publish::PublishOutcome::Published:
        case publish::PublishOutcome::AlreadyThere:
        case publish::PublishOutcome::WouldUpload:
            return StatusIcon::Saved;
        case publish::PublishOutcome::Conflict:
        case publish::PublishOutcome::Failed:
        case publish::PublishOutcome::Stopped:
            return StatusIcon::Failed;
    }
    return StatusIcon::Failed;
}

}  // namespace

void PublishRows::ItemsListed(const std::vector<publish::PublishItem>& items,
                              const publish::Target& target) {
    settled_ = 0;
    uploading_ = "正在发布到 "_gbk + text::GbkFromUtf8(target.name);
    window_.ClearRows();
    // Inserted at the top from the last, so that the rows stand in item order.
    for (std::size_t i = items.size(); i-- > 0;) {
        window_.InsertRow(0, StatusIcon::Queued);
        window_.SetCellText(0, 0, "队列中.."_gbk);
        window_.SetCellText(0, 1, text::GbkFromUtf8(items[i].remotePath));
    }
    window_.SetProgressVisible(true);
    window_.SetStatusLabelVisible(true);
    window_.SetProgressMaximum(static_cast<long>(items.size()));
    window_.SetProgressPosition(0);
    window_.SetStatusText(uploading_);
}

void PublishRows::ItemBegins(std::size_t index) {
    const int row = static_cast<int>(index);
    window_.SetRowIcon(row, StatusIcon::Downloading);
    window_.SetCellText(row, 0, uploading_);
    window_.ScrollToRow(row);
}

void PublishRows::ItemSettled(std::size_t index, const publish::PublishRow& settled) {
    const int row = static_cast<int>(index);
    window_.SetRowIcon(row, IconOf(settled.outcome));
    window_.SetCellText(row, 0, PublishRowText(settled.outcome));
    if (!settled.message.empty()) window_.SetRowToolTip(row, PublishWords(settled.message));
    window_.SetProgressPosition(static_cast<long>(++settled_));
}

WindowPublished PublishInWindow(JobWindow& window, platform::EventPoints& events,
                                const WindowPublish& request, std::stop_token stop) {
    publish::ResultPublishRequest asked;
    asked.resultFolder = request.resultFolder;
    for (const std::string& url : request.targets)
        asked.keptTargets.push_back(text::Utf8FromGbk(url));
    asked.target = text::Utf8FromGbk(request.chosen);
    asked.articles = request.articles;
    asked.newPrefix = request.newPrefix;
    asked.options.atOnce = request.uploads;
    asked.imageFolder = request.imageFolder;
    asked.articleFilter = request.articleFilter;
    asked.keyring = request.keyring;
    const auto pump = [&] { events.ProcessEvents(); };
    WindowPublished ended;
    // An SFTP host met for the first time: the user is asked once, before any row is marked,
    // whether to trust its key; trusted, one login keeps it in known_hosts.
    std::string error;
    if (const std::optional<publish::Target> target =
            publish::ResolveTarget(asked.keptTargets, asked.target, error);
        target && target->protocol == publish::Protocol::Sftp && target->hostKeySha256.empty()) {
        const TargetProbe probe = ProbeTarget(*target, asked.credentials, asked.keyring, {}, pump);
        if (probe.hostKeyUnknown) {
            const std::string name = text::GbkFromUtf8(target->name);
            if (!request.trustNewHostKey ||
                !request.trustNewHostKey(NewHostKeyQuestion(probe.fingerprint))) {
                ended.line = "没有发布到 "_gbk + name + "：没有信任这个主机的密钥。\r\n"_gbk;
                return ended;
            }
            publish::Credentials trusting = asked.credentials;
            trusting.acceptNewHostKey = true;
            const TargetProbe kept = ProbeTarget(*target, trusting, asked.keyring, {}, pump);
            if (!kept.loggedIn) {
                ended.line =
                    "无法发布到 "_gbk + name + "："_gbk + PublishWords(kept.message) + "\r\n"_gbk;
                return ended;
            }
        }
    }
    PublishRows rows(window);
    const publish::ResultPublish published = publish::PublishResult(asked, rows, stop, pump);
    if (published.end == publish::ResultPublishEnd::NoTarget) {
        ended.line = "无法发布："_gbk + PublishWords(published.message) + "\r\n";
        return ended;
    }
    const publish::Target& target = *published.target;
    const std::string name = text::GbkFromUtf8(target.name);
    if (published.end == publish::ResultPublishEnd::RecordNewer) {
        ended.line = "无法发布到 "_gbk + name + "："_gbk +
                     job::NewerRecordMessage(published.resultFolder, published.newerRecordVersion) +
                     "\r\n";
        return ended;
    }
    if (published.end == publish::ResultPublishEnd::RecordFailed) {
        ended.line = "无法发布到 "_gbk + name +
                     "：结果文件夹里的运行记录无法打开（命令行 --publish 会说明详情）。\r\n"_gbk;
        return ended;
    }
    if (published.end == publish::ResultPublishEnd::NothingToPublish) {
        ended.line = "没有可发布到 "_gbk + name + " 的文件。\r\n"_gbk;
        return ended;
    }
    const publish::PublishSummary& summary = published.summary;
    window.SetProgressVisible(false);
    window.SetStatusLabelVisible(false);
    using publish::PublishOutcome;
    std::string line = "发布到 "_gbk + name + "："_gbk;
    if (!summary.connected) {
        ended.line = line + "无法登录，"_gbk + PublishWords(summary.message) + "。\r\n"_gbk;
        return ended;
    }
    line += "上传 "_gbk + std::to_string(summary.Count(PublishOutcome::Uploaded)) + " 个，"_gbk +
            "已有 "_gbk +
            std::to_string(summary.Count(PublishOutcome::Published) +
                           summary.Count(PublishOutcome::AlreadyThere)) +
            " 个"_gbk;
    if (const std::size_t n = summary.Count(PublishOutcome::Conflict))
        line += "，冲突 "_gbk + std::to_string(n) + " 个（未覆盖）"_gbk;
    if (const std::size_t n = summary.Count(PublishOutcome::Failed))
        line += "，失败 "_gbk + std::to_string(n) + " 个"_gbk;
    if (const std::size_t n = summary.Count(PublishOutcome::Stopped))
        line += "，未上传 "_gbk + std::to_string(n) + " 个"_gbk;
    line += "。\r\n"_gbk;
    if (!published.articlesRefused.empty()) {
        line += "文章未发布：文章里的图片地址以 "_gbk + request.newPrefix +
                " 开头（新的域名前缀），而这个目标的图片在 "_gbk +
                text::GbkFromUtf8(target.publicAddress) +
                "。请把新的域名前缀改为它后再运行。\r\n"_gbk;
        ended.offeredPrefix = text::GbkFromUtf8(target.publicAddress);
    }
    // The address the site shows the files under, offered as the new domain prefix.
    if (!target.publicAddress.empty())
        line += "这个目标的图片地址："_gbk + text::GbkFromUtf8(target.publicAddress) +
                "，可填作新的域名前缀。\r\n"_gbk;
    ended.line = std::move(line);
    return ended;
}

}  // namespace zembrat::ui
