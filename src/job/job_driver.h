// One run over the article folder, started and stopped from the start/stop button.
#pragma once

#include <string>
#include <vector>

#include "job/article_listing.h"
#include "job/job_window.h"

namespace zembrat::automation {
class PatternMatcher;
}
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

class JobDriver {
public:
    // The client downloads the images; both outlive the driver.
    JobDriver(JobWindow& window, web::WebClient& web);
    JobDriver(const JobDriver&) = delete;
    JobDriver& operator=(const JobDriver&) = delete;

    // The button's one entry. While no run is going it runs one over the articles the method
    // lists and returns when the run has finished; during a run (called from the event
    // processing inside it) it only requests a stop. Presses while the articles are being
    // listed are ignored.
    void StartOrStop(ListingMethod method);

    // The window is closing: stop after the current article (or before the first one, when the
    // articles are still being listed) and skip the completion question.
    void StopForClose();

    bool running() const { return running_; }
    bool stopRequested() const { return stopRequested_; }
    const std::vector<std::string>& articles() const { return articles_; }

private:
    void RequestStop();
    void RunArticles(const std::string& resultFolder, automation::PatternMatcher& tags,
                     automation::PatternMatcher& excludes);
    void Finish();
    std::string Setting(EditBox box) const { return window_.EditText(box); }

    JobWindow& window_;
    web::WebClient& web_;
    bool stopRequested_ = false;
    bool listing_ = false;
    bool running_ = false;
    bool closing_ = false;
    ListingMethod method_ = ListingMethod::FolderObject;
    std::vector<std::string> articles_;
    std::size_t failedWrites_ = 0;
};

}  // namespace zembrat::job
