#include "publish/publish_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "publish/curl_session.h"
#include "publish/served_as.h"
#include "text/codec.h"
#include "text/crc32.h"
#include "text/digest.h"

namespace zembrat::publish {
namespace {

// What the calling thread hears from the uploaders.
struct Event {
    std::size_t index = 0;
    bool begins = false;  // else settled, with row
    PublishRow row;
};

// An item's file, open to read.
class OpenedFile {
  public:
    OpenedFile() = default;
    explicit OpenedFile(int fd) : fd_(fd) {}
    ~OpenedFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    OpenedFile(OpenedFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;
    explicit operator bool() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // A name the transports open it by: it reaches this very file, whatever is at its path now.
    std::string Name() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_ = -1;
};

// The item's file as a message names it (UTF-8).
std::string FileName(const PublishItem& item) {
    return item.folder.empty() ? item.localFile : text::Utf8FromGbk(item.localFile);
}

// Opens the item's file as the item says; on failure why says why (UTF-8).
OpenedFile OpenItem(const PublishItem& item, std::string& why) {
    if (!item.refused.empty()) {
        why = item.refused;
        return OpenedFile();
    }
    if (item.folder.empty()) {
        OpenedFile file(::open(item.localFile.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (file && ::fstat(file.fd(), &st) == 0 && S_ISREG(st.st_mode)) return file;
        why = "the file cannot be read: " + item.localFile;
        return OpenedFile();
    }
    OpenedFile file(platform::OpenFileBeneath(item.folder, item.localFile));
    if (file) return file;
    const int error = errno;
    why = FileName(item) + ": ";
    switch (error) {
        case ELOOP:
            why +=
                "a link stands at its name or on its way; nothing below the result folder is "
                "read through a link, so it was not sent";
            break;
        case ENOENT:
            why += "the file is not there";
            break;
        case ENOTDIR:
            why += "a file stands where a folder of its path should be";
            break;
        case EINVAL:
            why += "it is not a regular file";
            break;
        default:
            why += "the file cannot be read";
            break;
    }
    return OpenedFile();
}

std::optional<std::string> ReadAll(int fd) {
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(bytes.size()));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return bytes;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

// Why the bytes read are not what the run wrote there (UTF-8), or empty when they are.
std::string Mismatch(const PublishItem& item, std::string_view bytes) {
    const std::string name = FileName(item) + ": ";
    if (item.size && *item.size != bytes.size())
        return name + "it holds " + std::to_string(bytes.size()) + " bytes, not the " +
               std::to_string(*item.size) + " the run stored; it was not sent";
    if (item.crc32 && *item.crc32 != text::Crc32(bytes))
        return name +
               "its bytes are not those the run stored under this name (their CRC-32 "
               "differs); it was not sent";
    if (!item.sha256.empty() && item.sha256 != text::Sha256Hex(bytes))
        return name + "it is not the file the run wrote (it changed since); it was not sent";
    return {};
}

// The item's bytes, read and checked against what the run wrote; nullopt with why set otherwise.
std::optional<std::string> CheckedBytes(const PublishItem& item, const OpenedFile& file,
                                        std::string& why) {
    std::optional<std::string> bytes = ReadAll(file.fd());
    if (!bytes) {
        why = "the file cannot be read: " + FileName(item);
        return std::nullopt;
    }
    why = Mismatch(item, *bytes);
    if (!why.empty()) return std::nullopt;
    return bytes;
}

// Runs work(i) for every index below count on a few threads when there are many (the calling
// thread among them, once meanwhile has run on it).
void OnThreads(std::size_t count, const std::function<void(std::size_t)>& work,
               const std::function<void()>& meanwhile = {}) {
    std::atomic<std::size_t> next = 0;
    auto take = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < count;) work(i);
    };
    constexpr std::size_t kFilesPerThread = 64;
    const std::size_t threads =
        std::min<std::size_t>({std::max(1u, std::thread::hardware_concurrency()),
                               static_cast<std::size_t>(kMaxUploads), count / kFilesPerThread + 1});
    std::vector<std::jthread> helpers;
    for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(take);
    if (meanwhile) meanwhile();
    take();
}

// Each file's size and MD5 into local (a publish the manifest answers whole spends most of its
// time here); why each could not be taken (empty when it could). The files are opened and their
// sizes and times taken while the calling thread fills known from the manifest (findKnown); a
// file the manifest knows, of its size and not changed since the second before it was
// published, is then taken as published without reading it, and the others are read.
std::vector<std::string> DigestFiles(const std::vector<PublishItem>& items,
                                     std::vector<std::optional<ManifestEntry>>& known,
                                     const std::function<void()>& findKnown,
                                     std::vector<ManifestEntry>& local) {
    std::vector<std::string> failures(items.size());
    struct Seen {
        bool opened = false;
        std::uint64_t size = 0;
        std::int64_t changed = 0;  // seconds since the epoch
    };
    std::vector<Seen> seen(items.size());
    OnThreads(
        items.size(),
        [&](std::size_t i) {
            const OpenedFile file = OpenItem(items[i], failures[i]);
            if (!file) return;
            struct stat status {};
            if (::fstat(file.fd(), &status) != 0) {
                failures[i] = "the file cannot be read: " + FileName(items[i]);
                return;
            }
            seen[i] = {true, static_cast<std::uint64_t>(status.st_size), status.st_mtim.tv_sec};
        },
        findKnown);
    OnThreads(items.size(), [&](std::size_t i) {
        if (!seen[i].opened) return;
        const std::uint64_t size = seen[i].size;
        if (known[i] && size == known[i]->size && (!items[i].size || *items[i].size == size) &&
            seen[i].changed < known[i]->time) {
            local[i] = *known[i];
            return;
        }
        const OpenedFile file = OpenItem(items[i], failures[i]);
        if (!file) return;
        const std::optional<std::string> bytes = CheckedBytes(items[i], file, failures[i]);
        if (bytes) local[i] = {bytes->size(), text::Md5Hex(*bytes)};
    });
    return failures;
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
                if (hostKeyUnknown_) hostKey_ = transport->UnknownHostKey();
            }
            ++finished_;
            changed_.notify_all();
            return;
        }
        connected_ = true;
        {
            std::lock_guard lock(mutex_);
            ++active_;
        }
        while (true) {
            std::size_t index = 0;
            {
                std::lock_guard lock(mutex_);
                if (next_ >= due_.size() || stop_.stop_requested()) break;
                index = due_[next_++];
                events_.push_back({index, true, {}});
            }
            changed_.notify_all();
            std::optional<PublishRow> row = One(*transport, index);
            if (!row) continue;  // uploaded: confirmed with its folder's listing below
            std::lock_guard lock(mutex_);
            events_.push_back({index, false, std::move(*row)});
            changed_.notify_all();
        }
        // The last uploader to end confirms what was uploaded into listed folders, a listing for
        // each folder (a stop too: what was sent may be there).
        std::map<std::string, std::vector<Pending>> unconfirmed;
        {
            std::lock_guard lock(mutex_);
            if (--active_ == 0) unconfirmed.swap(unconfirmed_);
        }
        for (auto& [folder, pending] : unconfirmed) {
            std::string message;
            const auto listing = transport->Listing(folder, message);
            for (Pending& upload : pending) {
                std::optional<RemoteFile> there;
                if (listing) {
                    const auto it = listing->find(upload.name);
                    if (it != listing->end()) there = it->second;
                }
                Confirm(*transport, upload.index, upload.row, there);
                std::lock_guard lock(mutex_);
                events_.push_back({upload.index, false, std::move(upload.row)});
            }
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
    std::string HostKey() {
        std::lock_guard lock(mutex_);
        return hostKey_;
    }

  private:
    // An uploaded file a listing of its folder is to confirm.
    struct Pending {
        std::size_t index = 0;
        std::string name;  // in its folder
        PublishRow row;
    };
    struct FolderListing {
        enum class State { Unlisted, Listing, Listed, Unlistable } state = State::Unlisted;
        std::map<std::string, RemoteFile> files;
    };

    // The item's folder listed once for all the uploaders (the first to need it lists it, the
    // others wait for it): what it tells of name, or nullopt when the folder could not be listed.
    std::optional<RemoteFile> FromListing(Transport& transport, const std::string& folder,
                                          const std::string& name) {
        // A name with a character a listing's XML escapes is looked at alone: a store that
        // escapes it twice would hide the file, and S3 would then replace it.
        if (name.find_first_of("&<>\"'") != std::string::npos) return std::nullopt;
        std::unique_lock lock(mutex_);
        FolderListing& listing = folders_[folder];
        if (listing.state == FolderListing::State::Unlisted) {
            listing.state = FolderListing::State::Listing;
            lock.unlock();
            std::string message;
            std::optional<std::map<std::string, RemoteFile>> files =
                transport.Listing(folder, message);
            lock.lock();
            listing.state = files ? FolderListing::State::Listed : FolderListing::State::Unlistable;
            if (files) listing.files = std::move(*files);
            changed_.notify_all();
        }
        changed_.wait(lock, [&] { return listing.state != FolderListing::State::Listing; });
        if (listing.state != FolderListing::State::Listed) return std::nullopt;
        const auto it = listing.files.find(name);
        return it == listing.files.end() ? RemoteFile{} : it->second;
    }

    // The item's row, or nullopt for an upload its folder's listing confirms once the uploads end.
    std::optional<PublishRow> One(Transport& transport, std::size_t index) {
        const PublishItem& item = items_[index];
        PublishRow row;
        std::string message;
        // Read again, as it is sent: the bytes must still be those digested and checked.
        const OpenedFile file = OpenItem(item, message);
        if (!file) return Failed(message);
        const std::optional<std::string> mine = CheckedBytes(item, file, message);
        if (!mine) return Failed(message);
        if (mine->size() != local_[index].size || text::Md5Hex(*mine) != local_[index].md5)
            return Failed(FileName(item) +
                          ": it changed while it was being published; it was not sent");
        // Split as every remote path was when it was listed: a plain path, its last piece a name.
        const std::string name = SplitRemotePath(item.remotePath)
                                     .value_or(std::vector<std::string>{item.remotePath})
                                     .back();
        const std::string folder = item.remotePath.substr(0, item.remotePath.size() - name.size());
        std::optional<RemoteFile> there = FromListing(transport, folder, name);
        const bool listed = there.has_value();
        if (!listed) there = transport.Look(item.remotePath, message);
        if (!there) return Failed(message);
        if (there->exists) {
            // Same name: the same bytes are nothing to do, other bytes are never overwritten.
            if (there->size && *there->size != local_[index].size) return Conflict(item);
            const std::optional<std::string> remote = transport.Fetch(item.remotePath, message);
            if (!remote) return Failed(message);
            if (*remote != *mine) return Conflict(item);
            row.outcome = PublishOutcome::AlreadyThere;
            return row;
        }
        if (dryRun_) {
            row.outcome = PublishOutcome::WouldUpload;
            return row;
        }
        const UploadResult sent = transport.Upload(file.Name(), item.remotePath,
                                                   WithCharset(item.servedAs, *mine), stop_);
        row.bytes = sent.bytes;
        row.message = sent.message;
        switch (sent.status) {
            case UploadStatus::Uploaded:
                row.outcome = PublishOutcome::Uploaded;
                if (listed) {
                    std::lock_guard lock(mutex_);
                    unconfirmed_[folder].push_back({index, name, std::move(row)});
                    return std::nullopt;
                }
                Confirm(transport, index, row);
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

    // An upload counts once a look finds it there with its size (where the server tells sizes);
    // otherwise it failed, whatever the server answered to the upload. listed: what a listing
    // after the upload found; only a file of the right size is taken from it, anything else is
    // looked at alone.
    void Confirm(Transport& transport, std::size_t index, PublishRow& row,
                 std::optional<RemoteFile> listed = std::nullopt) const {
        const PublishItem& item = items_[index];
        if (listed && listed->exists && listed->size == local_[index].size) return;
        std::string message;
        const std::optional<RemoteFile> there = transport.Look(item.remotePath, message);
        if (there && there->exists && (!there->size || *there->size == local_[index].size)) return;
        row.outcome = PublishOutcome::Failed;
        if (!there)
            row.message = message + " (after its upload, so it is not known to be there)";
        else if (!there->exists)
            row.message = item.remotePath +
                          ": the server took the upload, but a look finds nothing under its name";
        else
            row.message = item.remotePath + ": the server took the upload, but holds " +
                          std::to_string(*there->size) + " bytes of its " +
                          std::to_string(local_[index].size);
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
    int active_ = 0;  // uploaders logged in and not yet through the list
    std::map<std::string, FolderListing> folders_;             // by folder ("/"-ended, or empty)
    std::map<std::string, std::vector<Pending>> unconfirmed_;  // by folder
    std::atomic<bool> connected_ = false;
    std::string loginFailure_;
    bool hostKeyUnknown_ = false;  // the first refused login was refused for that alone
    std::string hostKey_;          // then: the key's fingerprint
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

PublishSummary Publish(const std::vector<PublishItem>& items, const std::string& place,
                       const TransportFactory& makeTransport, PublishManifest* manifest,
                       PublishObserver& observer, const PublishOptions& options,
                       std::stop_token stop, const std::function<void()>& pump) {
    PublishSummary summary;
    summary.rows.resize(items.size());
    // Each file's size and digest; what the manifest knows with the same bytes is not asked for.
    std::vector<ManifestEntry> local(items.size());
    std::vector<std::size_t> due;
    std::vector<std::optional<ManifestEntry>> known(items.size());
    const std::vector<std::string> failures = DigestFiles(
        items, known,
        [&] {
            if (!manifest || options.askServer) return;
            for (std::size_t i = 0; i < items.size(); ++i)
                known[i] = manifest->Find(place, items[i].remotePath);
        },
        local);
    for (std::size_t i = 0; i < items.size(); ++i) {
        PublishRow& row = summary.rows[i];
        if (!failures[i].empty()) {
            row.outcome = PublishOutcome::Failed;
            row.message = failures[i];
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
        const int uploaders = std::clamp(options.atOnce, 1, kMaxUploads);
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
            summary.hostKey = uploads.HostKey();
            observer.LoginRefused(summary);
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
        if (!published.empty()) manifest->Put(place, published);
    }
    return summary;
}

}  // namespace zembrat::publish
