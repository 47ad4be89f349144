// The run's results: every reference of the last run (article, address, outcome, reason in
// words, stored name, bytes) with filters, the run's place while it goes, and the retry of its
// failed images. A window of its own beside the main window, so that it can stay open while the
// run goes on.
#pragma once

#include <QDialog>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "job/run.h"
#include "job/run_report.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace zembrat::ui {

// Watches the runs for the results dialog: the rows of the articles ended (job::ReportCollector),
// the run's place and its images done and failed.
class RunWatch : public job::RunObserver {
  public:
    using Clock = std::chrono::steady_clock;
    // inputs: those of the run about to begin, asked when it begins. now: the clock (tests).
    explicit RunWatch(std::function<const job::RunInputs&()> inputs,
                      std::function<Clock::time_point()> now = Clock::now);

    void RunBegins(const std::vector<std::string>& articles,
                   const std::string& resultFolder) override;
    void ArticleBegins(std::size_t index, const std::string& path) override;
    void ReferencesDecided(const std::string& path,
                           const std::vector<job::RefVerdict>& verdicts) override;
    void ImageQueued(std::size_t row, const job::ImageRef& ref) override;
    void ImageSettled(std::size_t row, const job::ImageRecord& record) override;
    void ArticleEnds(const std::string& path, job::ArticleEnd end,
                     const std::vector<job::ImageRecord>& images) override;

    // Called when a run begins, after the watch has taken it up.
    std::function<void()> begins;

    bool begun() const { return begun_; }
    // The inputs of the run watched, as it began.
    const job::RunInputs& inputs() const { return inputs_; }
    const std::string& resultFolder() const { return resultFolder_; }
    // The rows of the articles ended so far, then those of the article taken up now: its
    // settled images as they ended, the others "not reached" until they do.
    const std::vector<job::ReportRow>& rows() const;
    // The run's place in words (UTF-8): "第 5 篇，共 12 篇：posts/trip/index.md" while an article
    // is taken up; then the images done and failed and, once an article has ended, the time
    // left as the articles so far took it.
    std::string PlaceLine() const;
    std::string CountsLine(bool running) const;
    // Changes with every event: the dialog shows the rows again only when it moved.
    std::size_t generation() const { return generation_; }

  private:
    std::function<const job::RunInputs&()> askInputs_;
    std::function<Clock::time_point()> now_;
    bool begun_ = false;
    job::RunInputs inputs_;
    std::string resultFolder_;
    std::string below_;
    std::unique_ptr<job::ReportCollector> collector_;
    std::size_t articleCount_ = 0, articleIndex_ = 0, articlesEnded_ = 0;
    std::string articlePath_;
    // The article taken up now: its verdicts and the records of its rows settled so far.
    std::string currentPath_;
    std::vector<job::RefVerdict> currentVerdicts_;
    std::vector<std::optional<job::ImageRecord>> currentRecords_;
    mutable std::vector<job::ReportRow> rows_;
    mutable std::size_t rowsGeneration_ = static_cast<std::size_t>(-1);
    std::size_t imagesDone_ = 0, imagesFailed_ = 0;
    Clock::time_point began_;
    std::size_t generation_ = 0;
};

// The dialog: modeless, it follows the watch while it is shown.
class ResultsDialog : public QDialog {
    Q_OBJECT
  public:
    // watch outlives the dialog. running: whether a run goes now.
    ResultsDialog(const RunWatch& watch, std::function<bool()> running, QWidget* parent);

    // Shows the watch's rows and place as they are now.
    void Refresh();
    // The path of the report the last run wrote (GBK), empty for none: "打开报告" opens it.
    void SetReportPath(const std::string& path);

  signals:
    // "重试失败的图片" was pressed.
    void retryRequested();

  protected:
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void ShowRows();
    void SelectionChanged();
    void OpenArticle();

    const RunWatch& watch_;
    std::function<bool()> running_;
    std::string reportPath_;
    std::size_t shownGeneration_ = static_cast<std::size_t>(-1);
    int timer_ = 0;
    QLabel* place_ = nullptr;
    QLabel* counts_ = nullptr;
    QCheckBox* showFailed_ = nullptr;
    QCheckBox* showStored_ = nullptr;
    QCheckBox* showReused_ = nullptr;
    QCheckBox* showDropped_ = nullptr;
    QTreeWidget* rows_ = nullptr;
    QPushButton* retry_ = nullptr;
    QPushButton* openReport_ = nullptr;
    QPushButton* openArticle_ = nullptr;
};

// A row's outcome in words: "已转存", "沿用", "失败", "已丢弃", "未处理" (UTF-8).
const char* OutcomeWords(const std::string& outcome);

}  // namespace zembrat::ui
