#include "publish/publish_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include <sys/stat.h>

#include "text/digest.h"

namespace zembrat::publish {
namespace {

// What the calling thread hears from the uploaders.
struct Event {
    std::size_t index = 0;
    bool begins = false;  // else settled, with row
    PublishRow row;
};

std::optional<std::string> ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

// Each file's size and MD5 into local, on a few threads when there are many files (a publish
// the manifest answers whole spends most of its time here); whether each could be read. A file
// the manifest knows, of its size and not changed since the second before it was published, is
// taken as published without reading it.
std::vector<bool> DigestFiles(const std::vector<PublishItem>& items,
                              const std::vector<std::optional<ManifestEntry>>& known,
                              std::vector<ManifestEntry>& local) {
    std::vector<char> readable(items.size(), 0);
    std::atomic<std::size_t> next = 0;
    auto digest = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < items.size();) {
            struct stat status {};
            if (known[i] && ::stat(items[i].localFile.c_str(), &status) == 0 &&
                S_ISREG(status.st_mode) &&
                static_cast<std::uint64_t>(status.st_size) == known[i]->size &&
                status.st_mtim.tv_sec < known[i]->time) {
                local[i] = *known[i];
                readable[i] = 1;
                continue;
            }
            std::optional<std::string> md5 = text::FileMd5Hex(items[i].localFile);
            std::error_code error;
            const auto size = std::filesystem::file_size(items[i].localFile, error);
            if (!md5 || error) continue;
            local[i] = {static_cast<std::uint64_t>(size), std::move(*md5)};
            readable[i] = 1;
        }
    };
    constexpr std::size_t kFilesPerThread = 64;
    const std::size_t threads = std::min<std::size_t>(
        {std::max(1u, std::thread::hardware_concurrency()),
         static_cast<std::size_t>(PublishOptions::kMaxAtOnce), items.size() / kFilesPerThread + 1});
    {
        std::vector<std::jthread> helpers;
        for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(digest);
        digest();
    }
    return std::vector<bool>(readable.begin(), readable.end());
}

// The uploaders share the work list; the calling thread alone tells the observer.
class Uploads {
  public:
    Uploads(const std::vector<PublishItem>& items, const std::vector<ManifestEntry>& local,
            std::vector<std::size_t> due, bool dryRun, std::stop_token stop)
        : items_(items),
          local_(local),
          due_(std::move(due)),
          dryRun_(dryRun),
          stop_(std::move(stop)) {}

    // One uploader: logs in, then takes items until none is left or a stop comes.
    void Work(const TransportFactory& make) {
        std::unique_ptr<Transport> transport = make();
        std::string message;
        if (!transport || !transport->Connect(message)) {
            std::lock_guard lock(mutex_);
            if (loginFailure_.empty()) {
                loginFailure_ = message;
                hostKeyUnknown_ = transport && transport->HostKeyUnknown();
            }
            ++finished_;
            changed_.notify_all();
            return;
        }
        connected_ = true;
        while (true) {
            std::size_t index = 0;
            {
                std::lock_guard lock(mutex_);
                if (next_ >= due_.size() || stop_.stop_requested()) break;
                index = due_[next_++];
                events_.push_back({index, true, {}});
            }
            changed_.notify_all();
            PublishRow row = One(*transport, index);
            std::lock_guard lock(mutex_);
            events_.push_back({index, false, std::move(row)});
            changed_.notify_all();
        }
        std::lock_guard lock(mutex_);
        ++finished_;
        changed_.notify_all();
    }

    // Waits a little for news; the events so far, and whether every uploader has ended.
    std::deque<Event> Take(int uploaders, bool& ended) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(20),
                          [&] { return !events_.empty() || finished_ == uploaders; });
        ended = finished_ == uploaders && events_.empty();
        std::deque<Event> out;
        out.swap(events_);
        return out;
    }

    bool Connected() const { return connected_; }
    bool HostKeyUnknown() {
        std::lock_guard lock(mutex_);
        return hostKeyUnknown_;
    }
    std::string LoginFailure() {
        std::lock_guard lock(mutex_);
        return loginFailure_;
    }

  private:
    PublishRow One(Transport& transport, std::size_t index) {
        const PublishItem& item = items_[index];
        PublishRow row;
        std::string message;
        const std::optional<RemoteFile> there = transport.Look(item.remotePath, message);
        if (!there) return Failed(message);
        if (there->exists) {
            // Same name: the same bytes are nothing to do, other bytes are never overwritten.
            if (there->size && *there->size != local_[index].size) return Conflict(item);
            const std::optional<std::string> remote = transport.Fetch(item.remotePath, message);
            if (!remote) return Failed(message);
            const std::optional<std::string> mine = ReadWhole(item.localFile);
            if (!mine) return Failed("the file cannot be read: " + item.localFile);
            if (*remote != *mine) return Conflict(item);
            row.outcome = PublishOutcome::AlreadyThere;
            return row;
        }
        if (dryRun_) {
            row.outcome = PublishOutcome::WouldUpload;
            return row;
        }
        const UploadResult sent = transport.Upload(item.localFile, item.remotePath, stop_);
        row.bytes = sent.bytes;
        row.message = sent.message;
        switch (sent.status) {
            case UploadStatus::Uploaded:
                row.outcome = PublishOutcome::Uploaded;
                break;
            case UploadStatus::Failed:
                row.outcome = PublishOutcome::Failed;
                break;
            case UploadStatus::Stopped:
                row.outcome = PublishOutcome::Stopped;
                break;
        }
        return row;
    }

    static PublishRow Failed(std::string message) {
        PublishRow row;
        row.outcome = PublishOutcome::Failed;
        row.message = std::move(message);
        return row;
    }

    static PublishRow Conflict(const PublishItem& item) {
        PublishRow row;
        row.outcome = PublishOutcome::Conflict;
        row.message = "another file is there under this name; it was left as it is";
        if (!item.usedBy.empty()) {
            row.message += "; used by:";
            for (const std::string& article : item.usedBy) row.message += " " + article;
        }
        return row;
    }

    const std::vector<PublishItem>& items_;
    const std::vector<ManifestEntry>& local_;
    const std::vector<std::size_t> due_;
    const bool dryRun_;
    const std::stop_token stop_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Event> events_;
    std::size_t next_ = 0;
    int finished_ = 0;
    std::atomic<bool> connected_ = false;
    std::string loginFailure_;
    bool hostKeyUnknown_ = false;  // the first refused login was refused for that alone
};

}  // namespace

std::size_t PublishSummary::Count(PublishOutcome outcome) const {
    return static_cast<std::size_t>(std::count_if(
        rows.begin(), rows.end(), [&](const PublishRow& r) { return r.outcome == outcome; }));
}

const char* PublishOutcomeText(PublishOutcome outcome) {
    switch (outcome) {
        case PublishOutcome::Uploaded:
            return "uploaded";
        case PublishOutcome::Published:
            return "published";
        case PublishOutcome::AlreadyThere:
            return "already there";
        case PublishOutcome::Conflict:
            return "conflict";
        case PublishOutcome::Failed:
            return "failed";
        case PublishOutcome::Stopped:
            return "stopped";
        case PublishOutcome::WouldUpload:
            return "would upload";
    }
    return "";
}

PublishSummary Publish(const std::vector<PublishItem>& items, const std::string& targetName,
                       const TransportFactory& makeTransport, PublishManifest* manifest,
                       PublishObserver& observer, const PublishOptions& options,
                       std::stop_token stop, const std::function<void()>& pump) {
    observer.ItemsListed(items, targetName);
    PublishSummary summary;
    summary.rows.resize(items.size());
    // Each file's size and digest; what the manifest knows with the same bytes is not asked for.
    std::vector<ManifestEntry> local(items.size());
    std::vector<std::size_t> due;
    std::vector<std::optional<ManifestEntry>> known(items.size());
    if (manifest && !options.askServer) {
        for (std::size_t i = 0; i < items.size(); ++i)
            known[i] = manifest->Find(targetName, items[i].remotePath);
    }
    const std::vector<bool> readable = DigestFiles(items, known, local);
    for (std::size_t i = 0; i < items.size(); ++i) {
        PublishRow& row = summary.rows[i];
        if (!readable[i]) {
            row.outcome = PublishOutcome::Failed;
            row.message = "the file cannot be read: " + items[i].localFile;
            continue;
        }
        if (known[i] && known[i]->size == local[i].size && known[i]->md5 == local[i].md5) {
            row.outcome = PublishOutcome::Published;
            continue;
        }
        due.push_back(i);
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (summary.rows[i].outcome == PublishOutcome::Published ||
            summary.rows[i].outcome == PublishOutcome::Failed) {
            observer.ItemBegins(i);
            observer.ItemSettled(i, summary.rows[i]);
        }
    }

    if (!due.empty()) {
        const int uploaders = std::clamp(options.atOnce, 1, PublishOptions::kMaxAtOnce);
        const int started = static_cast<int>(std::min<std::size_t>(uploaders, due.size()));
        Uploads uploads(items, local, due, options.dryRun, stop);
        std::vector<std::jthread> threads;
        for (int t = 0; t < started; ++t)
            threads.emplace_back([&] { uploads.Work(makeTransport); });
        std::vector<bool> settled(items.size(), false);
        for (bool ended = false; !ended;) {
            for (Event& event : uploads.Take(started, ended)) {
                if (event.begins) {
                    observer.ItemBegins(event.index);
                    continue;
                }
                settled[event.index] = true;
                summary.rows[event.index] = std::move(event.row);
                observer.ItemSettled(event.index, summary.rows[event.index]);
            }
            if (pump) pump();
        }
        threads.clear();
        summary.connected = uploads.Connected();
        if (!summary.connected) {
            summary.message = uploads.LoginFailure();
            summary.hostKeyUnknown = uploads.HostKeyUnknown();
        }
        // What no uploader took: no login, or a stop came first.
        for (const std::size_t i : due) {
            if (settled[i]) continue;
            PublishRow& row = summary.rows[i];
            row.outcome = summary.connected ? PublishOutcome::Stopped : PublishOutcome::Failed;
            row.message = summary.connected ? std::string() : summary.message;
            observer.ItemSettled(i, row);
        }
    } else {
        summary.connected = true;  // nothing needed the server
    }

    if (manifest && !options.dryRun) {
        std::vector<std::pair<std::string, ManifestEntry>> published;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const PublishOutcome o = summary.rows[i].outcome;
            if (o == PublishOutcome::Uploaded || o == PublishOutcome::AlreadyThere)
                published.emplace_back(items[i].remotePath, local[i]);
        }
        if (!published.empty()) manifest->Put(targetName, published);
    }
    return summary;
}

}  // namespace zembrat::publish
