#include "job/job_driver.h"

#include "automation/regex_object.h"
#include "job/folders.h"
#include "job/image_download.h"
#include "job/image_refs.h"
#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::job {
namespace {

using namespace text::literals;
using platform::MessageAnswer;
using platform::MessageButtons;

// The four boxes the run reads again and again; they stay disabled while it runs.
constexpr EditBox kLockedBoxes[] = {EditBox::NewPrefix, EditBox::ExcludedRanges,
                                    EditBox::OldPrefix, EditBox::ImageFolder};

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

JobDriver::JobDriver(JobWindow& window, web::WebClient& web) : window_(window), web_(web) {}

void JobDriver::RequestStop() {
    window_.SetStartCaption(StoppingCaption());
    stopRequested_ = true;
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
    // The run's two pattern objects live until it returns.
    automation::PatternMatcher tags;
    automation::PatternMatcher excludes;

    listing_ = true;
    articles_ = ListArticles(Setting(EditBox::ArticleFolder), Setting(EditBox::ArticleFilter),
                             method_, [this] { window_.ProcessEvents(); });
    listing_ = false;
    if (articles_.empty()) {
        if (closing_) return;  // the window is closing: no message for it
        window_.ShowMessage("在这个目录下‘"_gbk + Setting(EditBox::ArticleFolder) + "’找不到‘"_gbk +
                                Setting(EditBox::ArticleFilter) + "’类型的文件！"_gbk,
                            MessageButtons::Ok);
        return;
    }

    running_ = true;
    window_.SetStartCaption(StopCaption());
    stopRequested_ = false;
    if (closing_) RequestStop();  // the window began to close while the articles were listed
    failedWrites_ = 0;
    window_.SetProgressVisible(true);
    window_.SetStatusLabelVisible(true);
    for (EditBox box : kLockedBoxes) window_.SetEditEnabled(box, false);
    window_.SetProgressMaximum(static_cast<long>(articles_.size()));
    tags.SetPattern(ImageTagPattern());

    const std::string resultFolder = ResultFolder(Setting(EditBox::ArticleFolder));
    if (!MakeFolders(resultFolder) || !platform::IsFolder(resultFolder)) {
        // Nothing could be written there: end before reading any article.
        Finish();
        window_.ShowMessage("无法创建结果目录："_gbk + resultFolder, MessageButtons::Ok);
        return;
    }

    excludes.SetPattern(
        automation::PatternMatcher::WildcardToPattern(Setting(EditBox::ExcludedRanges)));
    RunArticles(resultFolder, tags, excludes);
    Finish();
    if (closing_) return;

    std::string message = "处理完成。处理的结果保存在这个目录："_gbk + resultFolder + "\r\n\r\n";
    if (failedWrites_ > 0) {
        message += "有 "_gbk + std::to_string(failedWrites_) + " 篇文章未能写入。"_gbk + "\r\n";
    }
    message += "请问是否打开它？"_gbk;
    if (window_.ShowMessage(message, MessageButtons::YesNo) == MessageAnswer::Yes) {
        window_.OpenInFileManager(resultFolder);
    }
}

void JobDriver::RunArticles(const std::string& resultFolder, automation::PatternMatcher& tags,
                            automation::PatternMatcher& excludes) {
    const std::size_t count = articles_.size();
    for (std::size_t i = 1; i <= count; ++i) {
        if (stopRequested_) break;
        const std::string path = articles_[i - 1];  // a copy: a nested run may replace the list
        window_.SetProgressPosition(static_cast<long>(i));
        window_.SetStatusText(ArticleStatusText(count, i, path));

        text::Bytes article;
        if (!platform::ReadWholeFile(path, article)) {
            // Writing an empty result in its place would pass off a lost article as done.
            ++failedWrites_;
            continue;
        }
        const std::vector<ImageRef> refs = CollectImageRefs(article, tags, excludes, window_);
        article = DownloadImages(std::move(article), refs, resultFolder, window_, web_, stopRequested_);
        if (!platform::WriteWholeFile(resultFolder + text::FileName(path), article)) {
            ++failedWrites_;
        }
    }
}

void JobDriver::Finish() {
    window_.SetProgressVisible(false);
    window_.SetStatusLabelVisible(false);
    for (EditBox box : kLockedBoxes) window_.SetEditEnabled(box, true);
    window_.SetStartCaption(StartCaption());
    window_.ClearRows();
    running_ = false;
}

}  // namespace zembrat::job
