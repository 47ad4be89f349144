// Articles' changes to the run record grouped into transactions: the articles that end within a
// window of each other (100 ms for a run) go into one transaction, committed once the window has
// passed since its first change, whether more articles end or the run waits (a thread of its own
// commits then), and at once at Flush (a stop, a signal, the end of the run). A kill thus loses
// at most the articles of the last window, which the next run does again; an article is never
// kept in part, as its changes go into one transaction whole.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace zembrat::record {

class RunRecord;

// The window of a run's groups: a kill loses at most the articles that ended in its last 100 ms.
inline constexpr std::chrono::milliseconds kCommitWindow{100};

class CommitGroup {
  public:
    using Clock = std::chrono::steady_clock;

    CommitGroup(RunRecord& record, std::chrono::milliseconds window);
    ~CommitGroup();  // flushes
    CommitGroup(const CommitGroup&) = delete;
    CommitGroup& operator=(const CommitGroup&) = delete;

    // Every use of the record goes through Hold: no commit comes in between while it is held.
    std::unique_lock<std::mutex> Hold() { return std::unique_lock(mutex_); }
    // With the record held: one article's changes begin (the group's transaction is opened when
    // none is), and they end (the group is committed when its window has passed).
    void BeginArticle(const std::unique_lock<std::mutex>& held);
    void EndArticle(const std::unique_lock<std::mutex>& held);
    // Commits the open group now (the record not held).
    void Flush();

  private:
    void CommitNow();
    void Watch(std::stop_token stop);

    RunRecord& record_;
    std::chrono::milliseconds window_;
    std::mutex mutex_;
    std::condition_variable_any opened_;
    std::optional<Clock::time_point> openedAt_;  // the open group's first change
    std::jthread watcher_;                       // started with the first group
};

}  // namespace zembrat::record
