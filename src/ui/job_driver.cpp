#include "ui/job_driver.h"

#include <utility>

#include "job/image_names.h"
#include "job/result_folder.h"
#include "job/run_report.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "text/codec.h"
#include "ui/publish_rows.h"
#include "web/web_client.h"

namespace zembrat::ui {
namespace {

using namespace text::literals;
using platform::MessageAnswer;
using platform::MessageButtons;

// The four boxes the run reads again and again; they stay disabled while it runs.
constexpr EditBox kLockedBoxes[] = {EditBox::NewPrefix, EditBox::ExcludedRanges, EditBox::OldPrefix,
                                    EditBox::ImageFolder};

}  // namespace

const std::string& StartCaption() {
    static const std::string caption = "开始下载并替换图片地址"_gbk;
    return caption;
}

const std::string& StopCaption() {
    static const std::string caption = "停止下载"_gbk;
    return caption;
}

const std::string& StoppingCaption() {
    static const std::string caption = "正在停止中.."_gbk;
    return caption;
}

const std::string& QueuedText() {
    static const std::string text = "队列中.."_gbk;
    return text;
}

const std::string& FailedRowText(job::FailReason reason) {
    static const std::string failed = "下载失败 "_gbk;
    static const std::string notAnImage = "不是图片 "_gbk;
    static const std::string notSaved = "保存失败 "_gbk;
    static const std::string placeholder = "疑似防盗链占位图 "_gbk;
    switch (reason) {
        case job::FailReason::Placeholder:
            return placeholder;
        case job::FailReason::NotAnImage:
            return notAnImage;
        case job::FailReason::CannotWrite:
            return notSaved;
        default:
            return failed;
    }
}

JobDriver::JobDriver(JobWindow& window, web::WebClient& web, platform::EventPoints& events)
    : window_(window), web_(web), events_(events) {}

platform::MessageAnswer JobDriver::Tell(const std::string& text, MessageButtons buttons) {
    platform::MessageRequest request;
    request.text = text;
    request.buttons = buttons;
    return events_.ShowMessage(request);
}

void JobDriver::RequestStop() {
    window_.SetStartCaption(StoppingCaption());
    stop_.request_stop();
}

void JobDriver::StopForClose() {
    closing_ = true;
    if (running_) RequestStop();
}

job::RunInputs JobDriver::Inputs(job::ListingMethod method) const {
    job::RunInputs inputs;
    inputs.settings = ShownSettings(window_);
    inputs.options = options_;
    inputs.method = method;
    inputs.refresh = refreshNext_;
    return inputs;
}

void JobDriver::StartOrStop(job::ListingMethod method) {
    if (listing_) return;  // the listing is still going: the press is ignored
    if (window_.StartCaption() != StartCaption()) {
        RequestStop();
        return;
    }
    job::RunInputs inputs = Inputs(method);
    refreshNext_ = false;
    Start(std::move(inputs));
}

void JobDriver::StartPlanned(job::RunInputs inputs) {
    if (listing_ || running_ || window_.StartCaption() != StartCaption()) return;
    Start(std::move(inputs));
}

void JobDriver::Start(job::RunInputs given) {
    closing_ = false;
    lastInputs_ = std::move(given);
    const job::RunInputs& inputs = lastInputs_;
    job::RunObservers observers;
    observers.Add(*this);
    if (watcher_) observers.Add(*watcher_);
    StatusRows rows(window_, inputs.settings.imageFolder);
    observers.Add(rows);
    shownBelow_ = job::ShownBelow(inputs);
    job::ReportCollector report(shownBelow_, !inputs.options.hotlink);
    if (inputs.options.writeReport) observers.Add(report);

    listing_ = true;
    const job::RunResult result = job::Run(inputs, web_, events_, observers, sleep_);
    listing_ = false;
    articles_ = result.articles;
    switch (result.end) {
        case job::RunEnd::ImageFolderLeaves:
        case job::RunEnd::OutputFolderRefused:
        case job::RunEnd::NoArticles:
            // The window is closing: no message for it.
            if (!closing_) Tell(job::RunEndMessage(result, inputs.settings), MessageButtons::Ok);
            return;
        case job::RunEnd::ResultFolderFailed:
        case job::RunEnd::ResultFolderInUse:
        case job::RunEnd::RecordFromNewerVersion:
            Finish();
            Tell(job::RunEndMessage(result, inputs.settings), MessageButtons::Ok);
            return;
        case job::RunEnd::Finished:
            break;
    }
    counts_ = result.counts;
    if (inputs.options.writeReport &&
        platform::WriteFileBeneath(result.resultFolder, job::ReportFileName(),
                                   job::CsvReport(report.rows(), true)))
        counts_.reportPath = result.resultFolder + job::ReportFileName();
    // The result goes onto the site before the question, once the run has ended whole.
    if (inputs.options.publishAfterRun && !counts_.stopped && !closing_)
        counts_.publishLine = Publish(result.resultFolder);
    Finish();
    if (closing_) return;

    if (Tell(job::CompletionMessage(counts_, result.resultFolder), MessageButtons::YesNo) ==
            MessageAnswer::Yes &&
        !window_.OpenInFileManager(result.resultFolder)) {
        Tell("无法打开文件管理器："_gbk + result.resultFolder, MessageButtons::Ok);
    }
    OfferPrefix();
}

void JobDriver::RunBegins(const std::vector<std::string>& articles, const std::string&) {
    listing_ = false;
    running_ = true;
    window_.SetStartCaption(StopCaption());
    stop_ = std::stop_source();
    events_.SetStopToken(stop_.get_token());
    if (closing_) RequestStop();  // the window began to close while the articles were listed
    counts_ = job::RunCounts{};
    articles_ = articles;
    window_.SetProgressVisible(true);
    window_.SetStatusLabelVisible(true);
    for (EditBox box : kLockedBoxes) window_.SetEditEnabled(box, false);
    window_.SetProgressMaximum(static_cast<long>(articles.size()));
}

void JobDriver::ArticleBegins(std::size_t index, const std::string& path) {
    window_.SetProgressPosition(static_cast<long>(index));
    window_.SetStatusText(job::ArticleStatusText(articles_.size(), index, path, shownBelow_));
}

StatusRows::StatusRows(JobWindow& window, const std::string& imageFolder)
    : window_(window), downloading_("正在下载到 "_gbk + imageFolder) {}

void StatusRows::ReferencesDecided(const std::string&, const std::vector<job::RefVerdict>&) {
    window_.ClearRows();
}

void StatusRows::ImageQueued(std::size_t, const job::ImageRef& ref) {
    window_.InsertRow(0, StatusIcon::Queued);
    window_.SetCellText(0, 0, QueuedText());
    window_.SetCellText(0, 1, ref.address);
}

void StatusRows::ImageBegins(std::size_t row) {
    const int r = static_cast<int>(row);
    window_.ScrollToRow(r);
    window_.SetRowIcon(r, StatusIcon::Downloading);
    window_.SetCellText(r, 0, downloading_);
}

void StatusRows::ImageSettled(std::size_t row, const job::ImageRecord& record) {
    const int r = static_cast<int>(row);
    if (record.outcome == job::ImageOutcome::Failed) {
        window_.SetRowIcon(r, StatusIcon::Failed);
        window_.SetCellText(r, 0, FailedRowText(record.reason));
        window_.SetRowToolTip(r, job::FailureWords(record));
    } else {
        window_.SetRowIcon(r, StatusIcon::Saved);
        window_.SetCellText(r, 0, record.storedPath);
        // Reused without a download: the row says why.
        if (record.reason == job::FailReason::Recorded)
            window_.SetRowToolTip(r, job::FailureWords(record));
    }
}

std::string JobDriver::Publish(const std::string& resultFolder) {
    running_ = true;
    window_.SetStartCaption(StopCaption());
    stop_ = std::stop_source();
    events_.SetStopToken(stop_.get_token());
    for (EditBox box : kLockedBoxes) window_.SetEditEnabled(box, false);
    WindowPublish request = PublishRequest();
    request.resultFolder = resultFolder;
    WindowPublished published = PublishInWindow(window_, events_, request, stop_.get_token());
    offeredPrefix_ = std::move(published.offeredPrefix);
    return std::move(published.line);
}

WindowPublish JobDriver::PublishRequest() {
    const job::JobSettings settings = Inputs(job::ListingMethod::FolderObject).settings;
    return WindowPublish{options_.publishTargets,
                         options_.publishTarget,
                         options_.publishArticles,
                         job::ResultFolder(settings.articleFolder, options_),
                         settings.newPrefix,
                         options_.publishUploads,
                         job::ImageFolderBelow(settings.imageFolder),
                         settings.articleFilter,
                         [this](const std::string& question) {
                             return Tell(question, MessageButtons::YesNo) == MessageAnswer::Yes;
                         },
                         keyring_};
}

void JobDriver::OfferPrefix() {
    if (offeredPrefix_.empty() || closing_) return;
    const std::string prefix = std::exchange(offeredPrefix_, {});
    if (Tell(
            "文章没有发布：它们的图片地址不在这个目标的公开地址下。\r\n是否把新的域名前缀改为 "_gbk +
                prefix + "？改好后再运行一次，文章就会指向网站上的图片。"_gbk,
            MessageButtons::YesNo) == MessageAnswer::Yes)
        window_.SetEditText(EditBox::NewPrefix, prefix);
}

void JobDriver::PublishNow() {
    if (listing_ || running_) return;
    closing_ = false;
    const std::string line = Publish(job::ResultFolder(
        Inputs(job::ListingMethod::FolderObject).settings.articleFolder, options_));
    Finish();
    if (!closing_) Tell(line, MessageButtons::Ok);
    OfferPrefix();
}

void JobDriver::Finish() {
    window_.SetProgressVisible(false);
    window_.SetStatusLabelVisible(false);
    for (EditBox box : kLockedBoxes) window_.SetEditEnabled(box, true);
    window_.SetStartCaption(StartCaption());
    window_.ClearRows();
    events_.SetStopToken({});
    running_ = false;
}

}  // namespace zembrat::ui
