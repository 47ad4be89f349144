// A run on the console: the event points a console gives a run (Ctrl+C or SIGTERM as the stop,
// messages on standard error) and what it shows as the run goes (the progress line).
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "job/run.h"
#include "platform/event_points.h"

namespace zembrat::cli {

// A name, an address or a message as a console line may show it: every control character is
// written escaped (a line feed as \n, a carriage return as \r, a tab as \t, any other C0 or DEL
// as \x1b, a C1 character of UTF-8 as \u009b), so that no article can move the cursor, set the
// terminal's title or print a line of its own. keepLineEnds: CR LF and LF between the lines of
// the program's own message stay line ends.
std::string Printable(std::string_view utf8, bool keepLineEnds = false);

// Ctrl+C and SIGTERM: the first is noted for the run to take as a stop; a second one ends the
// program at once (130 after Ctrl+C, 143 after SIGTERM).
void InstallInterruptHandler();
void RestoreInterruptHandler();
// Interrupts received since the handler was installed.
int InterruptCount();
// The exit status of a run the first interrupt stopped: 130 for Ctrl+C, 143 for SIGTERM.
int InterruptStatus();

// The run's way to the console: an interrupt requests the stop; messages go to standard error.
class ConsoleEvents : public platform::EventPoints {
  public:
    ConsoleEvents();
    // Takes a pending interrupt as a stop.
    void Poll();
    void ProcessEvents() override { Poll(); }
    void KeepPainted() override;
    // Text to standard error in UTF-8; a question is answered No unshown.
    platform::MessageAnswer ShowMessage(const platform::MessageRequest& request) override;

    std::function<void()> beforeMessage;  // clears a progress line
    std::function<void()> onWait;         // a download waits

  private:
    std::stop_source stop_;
};

// What the console shows as the run goes: one line that redraws itself on a terminal, or one
// line per article.
class ConsoleProgress : public job::RunObserver {
  public:
    ConsoleProgress(bool quiet, bool terminal, ConsoleEvents& events);
    ConsoleProgress(const ConsoleProgress&) = delete;
    ConsoleProgress& operator=(const ConsoleProgress&) = delete;

    void RunBegins(const std::vector<std::string>& articles,
                   const std::string& resultFolder) override;
    void ImageSettled(std::size_t row, const job::ImageRecord& record) override;
    void ArticleEnds(const std::string& path, job::ArticleEnd end,
                     const std::vector<job::ImageRecord>& images) override;

    // The articles are named by their paths below folder (see job::ShownBelow) when it is not
    // empty.
    void ShowArticlesBelow(std::string folder) { below_ = std::move(folder); }

    // Redraws the terminal line, at most ten times a second unless forced.
    void Draw(bool force);
    // Clears the terminal line (before a message) or ends it (after the run).
    void ClearLine();
    void EndLine();

  private:
    std::string Line() const;

    bool quiet_;
    bool terminal_;
    ConsoleEvents& events_;
    std::size_t total_ = 0;
    std::size_t articlesDone_ = 0;
    std::size_t stored_ = 0;
    std::size_t failed_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDraw_{};
    bool lineShown_ = false;
    std::string below_;
};

}  // namespace zembrat::cli
