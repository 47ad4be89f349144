// One run over the article folder, started and stopped from the start/stop button.
#pragma once

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "job/article_listing.h"
#include "job/extension_options.h"
#include "job/image_download.h"
#include "job/job_window.h"
#include "platform/messages.h"

namespace zembrat::automation {
class PatternMatcher;
}
namespace zembrat::platform {
class EventPoints;
}  // namespace zembrat::platform
namespace zembrat::web {
class WebClient;
}

namespace zembrat::job {

// The button's captions; the caption is the run's visible state and decides start or stop.
const std::string& StartCaption();     // "开始下载并替换图片地址"
const std::string& StopCaption();      // "停止下载"
const std::string& StoppingCaption();  // "正在停止中.."

// "(count:i)base": the status label while the i-th of count articles is processed.
std::string ArticleStatusText(std::size_t count, std::size_t index, const std::string& path);

// What one run did, counted for the completion message.
struct RunCounts {
    std::size_t articlesWritten = 0;
    std::size_t unreadableArticles = 0;  // could not be read, so not written
    std::size_t failedWrites = 0;        // read and dealt with, but the result could not be written
    std::size_t imagesStored = 0;        // rows that ended saved
    std::size_t imagesFailed = 0;        // rows that ended failed
    bool stopped = false;                // the run was stopped before its last article was done
    std::string reportPath;              // the run report written into the result folder, if any
};

// The name of the run report the window writes into the result folder: "转存报告.csv".
const std::string& ReportFileName();

// The completion message of a run whose results are in resultFolder: "处理完成。" (or "已停止。"
// after a stop), the folder, one line per kind of failure, then the question.
std::string CompletionMessage(const RunCounts& counts, const std::string& resultFolder);

// What a front end learns as a run goes (a report, a console's progress): each article as it
// ends, with what became of its kept references.
class RunObserver {
  public:
    enum class ArticleEnd { Written, Unreadable, NotWritten, CutShort };
    virtual ~RunObserver() = default;
    virtual void ArticleDone(const std::string& path, ArticleEnd end,
                             const std::vector<ImageRecord>& images) = 0;
};

// A run over given articles instead of the listed ones, for a front end that re-runs part of an
// earlier run. Each article is read from its input (an earlier result, say) and written to the
// result folder under its own name; only the references keep accepts are downloaded.
struct RunPlan {
    std::vector<std::string> articles;  // GBK paths, in run order
    std::vector<std::string> inputs;    // one per article: the file its text is read from
    // (article path, absolute address): whether the reference is downloaded; empty keeps all.
    std::function<bool(const std::string&, const std::string&)> keep;
};

class JobDriver {
  public:
    // The client downloads the images and the event points are the run's way to the window;
    // all three outlive the driver.
    JobDriver(JobWindow& window, web::WebClient& web, platform::EventPoints& events);
    JobDriver(const JobDriver&) = delete;
    JobDriver& operator=(const JobDriver&) = delete;

    // The button's one entry. While no run is going it runs one over the articles the method
    // lists and returns when the run has finished; during a run (called from an event point
    // inside it) it only requests a stop, which the run takes at once: the download in flight is
    // abandoned and the article it cut short is not written. Presses while the articles are
    // being listed are ignored.
    void StartOrStop(ListingMethod method);

    // The window is closing: stop at once (or before the first article, when the articles are
    // still being listed) and skip the completion question.
    void StopForClose();

    bool running() const { return running_; }
    bool stopRequested() const { return stop_.stop_requested(); }
    const std::vector<std::string>& articles() const { return articles_; }
    // The counts of the last run.
    const RunCounts& counts() const { return counts_; }
    // The extension options of the runs to come (read once when a run starts); by default all
    // off, the described run.
    void SetOptions(const ExtensionOptions& options) { options_ = options; }
    const ExtensionOptions& options() const { return options_; }
    // Told about every article of the runs to come; nullptr for none.
    void SetObserver(RunObserver* observer) { observer_ = observer; }
    // The runs to come follow the plan instead of listing the article folder; nullopt for the
    // listed run.
    void SetPlan(std::optional<RunPlan> plan) { plan_ = std::move(plan); }

  private:
    void RequestStop();
    void RunArticles(const std::string& resultFolder, automation::PatternMatcher& tags,
                     automation::PatternMatcher& excludes);
    void Finish();
    std::string Setting(EditBox box) const { return window_.EditText(box); }
    platform::MessageAnswer Tell(const std::string& text, platform::MessageButtons buttons);

    JobWindow& window_;
    web::WebClient& web_;
    platform::EventPoints& events_;
    std::stop_source stop_{std::nostopstate};
    bool listing_ = false;
    bool running_ = false;
    bool closing_ = false;
    ListingMethod method_ = ListingMethod::FolderObject;
    std::vector<std::string> articles_;
    RunCounts counts_;
    RunObserver* observer_ = nullptr;
    ExtensionOptions options_;
    ExtensionOptions runOptions_;  // the options of the run in progress
    std::optional<RunPlan> plan_;
};

}  // namespace zembrat::job
