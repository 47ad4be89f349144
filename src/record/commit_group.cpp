#include "record/commit_group.h"

#include "record/run_record.h"

namespace zembrat::record {

CommitGroup::CommitGroup(RunRecord& record, std::chrono::milliseconds window)
    : record_(record), window_(window) {}

CommitGroup::~CommitGroup() {
    if (watcher_.joinable()) {
        watcher_.request_stop();
        watcher_.join();
    }
    Flush();
}

void CommitGroup::BeginArticle(const std::unique_lock<std::mutex>&) {
    if (openedAt_) return;
    record_.Begin();
    openedAt_ = Clock::now();
    if (!watcher_.joinable())
        watcher_ = std::jthread([this](std::stop_token stop) { Watch(stop); });
    opened_.notify_one();
}

void CommitGroup::EndArticle(const std::unique_lock<std::mutex>&) {
    if (openedAt_ && Clock::now() - *openedAt_ >= window_) CommitNow();
}

void CommitGroup::Flush() {
    const std::unique_lock held = Hold();
    if (openedAt_) CommitNow();
}

void CommitGroup::CommitNow() {
    record_.Commit();  // a record that fails closes and says why; the run goes on
    openedAt_.reset();
}

void CommitGroup::Watch(std::stop_token stop) {
    std::unique_lock held = Hold();
    while (!stop.stop_requested()) {
        if (!openedAt_) {
            opened_.wait(held, stop, [this] { return openedAt_.has_value(); });
            continue;
        }
        const Clock::time_point due = *openedAt_ + window_;
        // An article holding the record when the window passes is committed with its group
        // when it ends (EndArticle), never in part.
        opened_.wait_until(held, stop, due, [] { return false; });
        if (openedAt_ && Clock::now() >= *openedAt_ + window_) CommitNow();
    }
}

}  // namespace zembrat::record
