// The start/stop button's run: the button's caption as the run's visible state, the boxes locked
// while it runs, the status list, the progress and the completion question. The run itself is
// job::Run; this builds its inputs from the boxes and shows its events in the window.
#pragma once

#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "job/run.h"
#include "platform/messages.h"
#include "ui/job_window.h"
#include "ui/publish_rows.h"

namespace zembrat::platform {
class EventPoints;
}  // namespace zembrat::platform
namespace zembrat::web {
class WebClient;
}

namespace zembrat::ui {

// The button's captions; the caption is the run's visible state and decides start or stop.
const std::string& StartCaption();     // "开始下载并替换图片地址"
const std::string& StopCaption();      // "停止下载"
const std::string& StoppingCaption();  // "正在停止中.."

// The row captions of the status list.
const std::string& QueuedText();  // "队列中.."
// "下载失败 ", "不是图片 " or "保存失败 ": the storage-location cell of a failed row.
const std::string& FailedRowText(job::FailReason reason);

// The status list as a run fills it: emptied for each article's references, one queued row per
// kept reference (each inserted at the top, so that they stand in article order), each row's
// download and end.
class StatusRows : public job::RunObserver {
  public:
    // imageFolder: as typed, for the caption of a row whose download runs.
    StatusRows(JobWindow& window, const std::string& imageFolder);

    void ReferencesDecided(const std::string& path,
                           const std::vector<job::RefVerdict>& verdicts) override;
    void ImageQueued(std::size_t row, const job::ImageRef& ref) override;
    void ImageBegins(std::size_t row) override;
    void ImageSettled(std::size_t row, const job::ImageRecord& record) override;

  private:
    JobWindow& window_;
    std::string downloading_;  // "正在下载到 " + the image folder
};

class JobDriver : private job::RunObserver {
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
    void StartOrStop(job::ListingMethod method);

    // The window is closing: stop at once (or before the first article, when the articles are
    // still being listed) and skip the completion question.
    void StopForClose();

    bool running() const { return running_; }
    bool stopRequested() const { return stop_.stop_requested(); }
    const std::vector<std::string>& articles() const { return articles_; }
    // The counts of the last run.
    const job::RunCounts& counts() const { return counts_; }
    // The extension options of the runs to come (read once when a run starts); by default all
    // off, the plain run.
    void SetOptions(const job::ExtensionOptions& options) { options_ = options; }
    const job::ExtensionOptions& options() const { return options_; }
    // The next run (only that one) asks again for the images stored before, under the
    // incremental option.
    void RefreshNextRun() { refreshNext_ = true; }
    // Publishes the result folder of the settings the boxes show to the chosen target (the
    // options' publish fields), with the button as its stop; tells what happened. Nothing while a
    // run goes.
    void PublishNow();
    // A run over the given inputs (a retry's, with its plan), as the button starts one; nothing
    // while a run goes.
    void StartPlanned(job::RunInputs inputs);
    // The inputs of the last run begun (its settings as the boxes held them then).
    const job::RunInputs& lastInputs() const { return lastInputs_; }
    // An observer of every run to come besides the window's own (the window's results); it
    // outlives the driver's runs. nullptr for none.
    void SetWatcher(job::RunObserver* watcher) { watcher_ = watcher; }
    // What a publish of the boxes' result onto the kept targets is asked now.
    WindowPublish PublishRequest();
    // The desktop's keyring a publish reads the targets' secrets from; empty: none.
    void SetKeyring(publish::KeyringLookup keyring) { keyring_ = std::move(keyring); }
    // Test seam: how the retry wait sleeps.
    void SetSleep(job::SleepFunction sleep) { sleep_ = sleep; }

  private:
    // The run's events, shown in the window.
    void RunBegins(const std::vector<std::string>& articles,
                   const std::string& resultFolder) override;
    void ArticleBegins(std::size_t index, const std::string& path) override;

    job::RunInputs Inputs(job::ListingMethod method) const;
    void Start(job::RunInputs inputs);
    void RequestStop();
    void Finish();
    // Publishes resultFolder under options_, with the run's locks and its stop; the line for the
    // completion message (GBK).
    std::string Publish(const std::string& resultFolder);
    // After a publish that left the articles out for their prefix: offers to set the new prefix
    // to the target's public address.
    void OfferPrefix();
    platform::MessageAnswer Tell(const std::string& text, platform::MessageButtons buttons);

    JobWindow& window_;
    web::WebClient& web_;
    platform::EventPoints& events_;
    std::stop_source stop_{std::nostopstate};
    bool listing_ = false;
    bool running_ = false;
    bool closing_ = false;
    std::vector<std::string> articles_;
    std::string shownBelow_;  // the run's articles are shown by their paths below it
    job::RunCounts counts_;
    job::ExtensionOptions options_;
    bool refreshNext_ = false;
    job::RunInputs lastInputs_;
    job::RunObserver* watcher_ = nullptr;
    job::SleepFunction sleep_ = job::RealSleep;
    publish::KeyringLookup keyring_;
    std::string offeredPrefix_;  // GBK: what the last publish offers as the new prefix
};

}  // namespace zembrat::ui
