// The job's window and event points on a console: the settings are fixed for the run, the
// status list is only counted, messages go to standard error, and Ctrl+C is the stop button.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "job/job_driver.h"
#include "job/job_window.h"
#include "job/run_report.h"
#include "platform/event_points.h"

namespace zembrat::cli {

// The run report is the job's; the console writes it.
using job::ArticleEndText;
using job::ArticleRows;
using job::CsvReport;
using job::FailReasonText;
using job::JsonReport;
using job::OutcomeText;
using job::ParseCsvReport;
using job::ReportRow;

// Ctrl+C: the first SIGINT is noted for the run to take as a stop; the second ends the
// program at once with status 130.
void InstallInterruptHandler();
void RestoreInterruptHandler();
// SIGINTs received since the handler was installed.
int InterruptCount();

class ConsoleWindow : public job::JobWindow {
  public:
    explicit ConsoleWindow(std::map<job::EditBox, std::string> settings)
        : settings_(std::move(settings)) {}

    std::string StartCaption() const override { return caption_; }
    void SetStartCaption(const std::string& caption) override { caption_ = caption; }
    std::string EditText(job::EditBox box) const override;
    void SetEditEnabled(job::EditBox, bool) override {}
    void SetProgressVisible(bool) override {}
    void SetStatusLabelVisible(bool) override {}
    void SetProgressMaximum(long) override {}
    void SetProgressPosition(long) override {}
    void SetStatusText(const std::string&) override {}
    void ClearRows() override { rows_ = 0; }
    void InsertRow(int, job::StatusIcon) override { ++rows_; }
    void SetCellText(int, int, const std::string&) override {}
    void SetRowIcon(int row, job::StatusIcon icon) override;
    void ScrollToRow(int) override {}
    int RowCount() const override { return rows_; }
    bool OpenInFileManager(const std::string&) override { return false; }

    // Images that ended saved or failed so far in this run.
    std::size_t stored = 0;
    std::size_t failed = 0;
    // Called when a row ends saved or failed.
    std::function<void()> onImage;

  private:
    std::map<job::EditBox, std::string> settings_;
    std::string caption_ = job::StartCaption();
    int rows_ = 0;
};

class ConsoleEvents : public platform::EventPoints {
  public:
    ConsoleEvents(ConsoleWindow& window) : window_(window) {}
    void SetDriver(job::JobDriver* driver) { driver_ = driver; }

    // Takes a pending Ctrl+C as a press of the stop button once a run is going.
    void Poll();
    void ProcessEvents() override { Poll(); }
    void KeepPainted() override;
    // Text to standard error in UTF-8; the completion question is answered No unshown.
    platform::MessageAnswer ShowMessage(const platform::MessageRequest& request) override;

    std::function<void()> beforeMessage;  // clears a progress line
    std::function<void()> onWait;         // a download waits

  private:
    ConsoleWindow& window_;
    job::JobDriver* driver_ = nullptr;
    int taken_ = 0;
    bool pending_ = false;
};

// What the console shows and keeps as the articles end: the progress, the counts of the
// summary and, when asked for, the report's rows.
class ConsoleRun : public job::RunObserver {
  public:
    struct Setup {
        bool quiet = false;
        bool terminal = false;       // standard error is a terminal: one line that redraws itself
        bool keepRows = false;       // for a report
        bool decideDropped = true;   // read each article again for its dropped references
        std::string oldPrefix;       // GBK, for the decisions
        std::string excludedRanges;  // GBK
    };
    ConsoleRun(Setup setup, const job::JobDriver& driver, ConsoleWindow& window,
               ConsoleEvents& events);
    ConsoleRun(const ConsoleRun&) = delete;
    ConsoleRun& operator=(const ConsoleRun&) = delete;

    void ArticleDone(const std::string& path, ArticleEnd end,
                     const std::vector<job::ImageRecord>& images) override;
    // Redraws the terminal line, at most ten times a second unless forced.
    void Draw(bool force);
    // Clears the terminal line (before a message) or ends it (after the run).
    void ClearLine();
    void EndLine();
    // Fills skipped and rows from the articles ended; after the run.
    void Complete();

    std::size_t articlesDone = 0;
    std::size_t skipped = 0;  // references found but dropped, or never reached
    std::vector<ReportRow> rows;

  private:
    struct Article {
        std::string path;
        ArticleEnd end;
        std::vector<job::ImageRecord> images;
        std::vector<job::RefVerdict> verdicts;  // empty when drops are not told
    };
    std::string Line() const;
    std::vector<Article> articles_;  // every article ended, in run order

    Setup setup_;
    const job::JobDriver& driver_;
    ConsoleWindow& window_;
    ConsoleEvents& events_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDraw_{};
    bool lineShown_ = false;
};

}  // namespace zembrat::cli
