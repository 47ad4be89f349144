#include "job/job_driver.h"

#include <optional>

#include "automation/regex_object.h"
#include "job/folders.h"
#include "job/image_refs.h"
#include "job/ref_decisions.h"
#include "job/ref_scanner.h"
#include "job/run_report.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"
#include "web/fetch_group.h"
#include "web/web_client.h"

namespace zembrat::job {
namespace {

using namespace text::literals;
using platform::MessageAnswer;
using platform::MessageButtons;

// The four boxes the run reads again and again; they stay disabled while it runs.
constexpr EditBox kLockedBoxes[] = {EditBox::NewPrefix, EditBox::ExcludedRanges, EditBox::OldPrefix,
                                    EditBox::ImageFolder};

std::string CountLine(std::size_t count, const std::string& what) {
    return "有 "_gbk + std::to_string(count) + what + "\r\n";
}

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

std::string ArticleStatusText(std::size_t count, std::size_t index, const std::string& path) {
    return "(" + std::to_string(count) + ":" + std::to_string(index) + ")" + text::BaseName(path);
}

const std::string& ReportFileName() {
    static const std::string name = "转存报告.csv"_gbk;
    return name;
}

std::string CompletionMessage(const RunCounts& counts, const std::string& resultFolder) {
    std::string message = counts.stopped ? "已停止。"_gbk : "处理完成。"_gbk;
    message += "处理的结果保存在这个目录："_gbk + resultFolder + "\r\n\r\n";
    if (counts.unreadableArticles > 0)
        message += CountLine(counts.unreadableArticles, " 篇文章无法读取。"_gbk);
    if (counts.failedWrites > 0) message += CountLine(counts.failedWrites, " 篇文章未能写入。"_gbk);
    if (counts.imagesFailed > 0) message += CountLine(counts.imagesFailed, " 张图片未能转存。"_gbk);
    if (!counts.reportPath.empty()) message += "转存报告："_gbk + counts.reportPath + "\r\n";
    message += "请问是否打开它？"_gbk;
    return message;
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

void JobDriver::StartOrStop(ListingMethod method) {
    if (listing_) return;  // the listing is still going: the press is ignored
    if (window_.StartCaption() != StartCaption()) {
        RequestStop();
        return;
    }
    method_ = method;
    closing_ = false;
    runOptions_ = options_;
    // Fetched over TLS, an image never falls back to plain http on the way.
    web_.SetRefuseHttpsDowngrade(runOptions_.https);
    web_.SetOpensHttps(runOptions_.https);

    const std::string imageFolder = Setting(EditBox::ImageFolder);
    if (LeavesItsBase(imageFolder)) {
        Tell("图片存放目录不能超出结果目录："_gbk + imageFolder, MessageButtons::Ok);
        return;
    }

    // The run's two pattern objects live until it returns.
    automation::PatternMatcher tags;
    automation::PatternMatcher excludes;

    listing_ = true;
    articles_ = plan_ ? plan_->articles
                      : ListArticles(Setting(EditBox::ArticleFolder),
                                     Setting(EditBox::ArticleFilter), method_, events_);
    listing_ = false;
    if (articles_.empty()) {
        if (closing_) return;  // the window is closing: no message for it
        const std::string folder = Setting(EditBox::ArticleFolder);
        if (!platform::IsFolder(folder)) {
            Tell("文章目录不存在："_gbk + folder, MessageButtons::Ok);
            return;
        }
        Tell("在这个目录下‘"_gbk + folder + "’找不到‘"_gbk + Setting(EditBox::ArticleFilter) +
                 "’类型的文件！"_gbk,
             MessageButtons::Ok);
        return;
    }

    running_ = true;
    window_.SetStartCaption(StopCaption());
    stop_ = std::stop_source();
    events_.SetStopToken(stop_.get_token());
    if (closing_) RequestStop();  // the window began to close while the articles were listed
    counts_ = RunCounts{};
    window_.SetProgressVisible(true);
    window_.SetStatusLabelVisible(true);
    for (EditBox box : kLockedBoxes) window_.SetEditEnabled(box, false);
    window_.SetProgressMaximum(static_cast<long>(articles_.size()));
    tags.SetPattern(ImageTagPattern());

    const std::string resultFolder = ResultFolder(Setting(EditBox::ArticleFolder));
    if (!MakeFolders(resultFolder) || !platform::IsRealFolder(resultFolder)) {
        // Nothing could be written there (or only through a link): end before reading any article.
        Finish();
        Tell("无法创建结果目录："_gbk + resultFolder, MessageButtons::Ok);
        return;
    }

    excludes.SetPattern(
        automation::PatternMatcher::WildcardToPattern(Setting(EditBox::ExcludedRanges)));
    RunArticles(resultFolder, tags, excludes);
    Finish();
    if (closing_) return;

    if (Tell(CompletionMessage(counts_, resultFolder), MessageButtons::YesNo) ==
            MessageAnswer::Yes &&
        !window_.OpenInFileManager(resultFolder)) {
        Tell("无法打开文件管理器："_gbk + resultFolder, MessageButtons::Ok);
    }
}

void JobDriver::RunArticles(const std::string& resultFolder, automation::PatternMatcher& tags,
                            automation::PatternMatcher& excludes) {
    const std::stop_token stop = stop_.get_token();
    const std::size_t count = articles_.size();
    // The report tells drops by the described reading; under options that read otherwise it
    // lists the kept references.
    std::vector<ReportRow> report;
    const bool reporting = runOptions_.writeReport;
    const bool decideDrops = reporting && !ReadsReferencesDifferently(runOptions_);
    // Downloads at once share one pool of connections for the whole run.
    std::optional<web::FetchGroup> atOnce;
    if (runOptions_.downloadsAtOnce > 1) atOnce.emplace(web_, runOptions_.downloadsAtOnce);
    for (std::size_t i = 1; i <= count; ++i) {
        if (stop.stop_requested()) break;
        const std::string path = articles_[i - 1];  // a copy: a nested run may replace the list
        window_.SetProgressPosition(static_cast<long>(i));
        window_.SetStatusText(ArticleStatusText(count, i, path));

        text::Bytes article;
        auto tell = [&](RunObserver::ArticleEnd end, const std::vector<ImageRecord>& images) {
            if (observer_) observer_->ArticleDone(path, end, images);
            if (!reporting) return;
            const std::vector<RefVerdict> verdicts =
                decideDrops && end != RunObserver::ArticleEnd::Unreadable
                    ? DecideImageRefs(article, Setting(EditBox::OldPrefix),
                                      Setting(EditBox::ExcludedRanges))
                    : std::vector<RefVerdict>{};
            std::vector<ReportRow> rows = ArticleRows(path, end, verdicts, images);
            report.insert(report.end(), std::make_move_iterator(rows.begin()),
                          std::make_move_iterator(rows.end()));
        };
        const std::string input = plan_ ? plan_->inputs.at(i - 1) : path;
        if (!platform::ReadWholeFile(input, article)) {
            // Writing an empty result in its place would pass off a lost article as done.
            ++counts_.unreadableArticles;
            tell(RunObserver::ArticleEnd::Unreadable, {});
            continue;
        }
        std::vector<ImageRef> refs =
            CollectImageRefs(article, tags, excludes, window_, events_, runOptions_,
                             IsMarkdownName(text::FileName(path)));
        if (plan_ && plan_->keep) {
            std::erase_if(refs, [&](const ImageRef& r) { return !plan_->keep(path, r.address); });
            // The rows follow the kept references one to one, as the downloads expect.
            window_.ClearRows();
            for (auto r = refs.rbegin(); r != refs.rend(); ++r) AddQueuedRow(window_, r->address);
        }
        if (stop.stop_requested()) {
            tell(RunObserver::ArticleEnd::CutShort, {});
            break;
        }
        const DownloadSummary summary =
            DownloadImages(article, refs, resultFolder, window_, web_, events_, runOptions_,
                           RealSleep, atOnce ? &*atOnce : nullptr);
        counts_.imagesStored += summary.stored;
        counts_.imagesFailed += summary.failed;
        // An article cut short by a stop is not written: an earlier result of it stays as it was.
        if (!summary.complete) {
            tell(RunObserver::ArticleEnd::CutShort, summary.records);
            break;
        }
        if (platform::WriteFileBeneath(resultFolder, text::FileName(path), article)) {
            ++counts_.articlesWritten;
            tell(RunObserver::ArticleEnd::Written, summary.records);
        } else {
            ++counts_.failedWrites;
            tell(RunObserver::ArticleEnd::NotWritten, summary.records);
        }
    }
    if (reporting && platform::WriteFileBeneath(resultFolder, ReportFileName(), CsvReport(report)))
        counts_.reportPath = resultFolder + ReportFileName();
    counts_.stopped =
        stop.stop_requested() &&
        counts_.articlesWritten + counts_.failedWrites + counts_.unreadableArticles < count;
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

}  // namespace zembrat::job
