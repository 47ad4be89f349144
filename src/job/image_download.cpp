#include "job/image_download.h"

#include <chrono>
#include <set>
#include <thread>

#include "job/content_type.h"
#include "job/image_names.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"
#include "web/fetch_group.h"
#include "web/web_client.h"

namespace zembrat::job {
namespace {

using namespace text::literals;

// Other pictures that happen to share a CRC-32 are rare; past this many, give up.
constexpr int kMaxNameVariants = 1000;

web::RequestArguments FetchArguments(const ExtensionOptions& options) {
    web::RequestArguments arguments;
    arguments.timeout = options.timeoutSeconds;  // 0: the usual waits
    return arguments;
}

// The body when it is a usable image answer: 2xx and not a web page. The record keeps what came.
text::Bytes Usable(text::Bytes bytes, long status, std::string_view contentType,
                   ImageRecord& record) {
    record.status = status;
    record.bytes = bytes.size();
    if (status < 200 || status > 299) {
        bytes.clear();
    } else if (!bytes.empty() && IsWebPage(contentType, bytes)) {
        // An error page sent with a 2xx status ("图片不存在") must not be stored as the image.
        bytes.clear();
        record.reason = FailReason::NotAnImage;
    }
    return bytes;
}

// The usable body, once the fetch that StartFetchBytes began has ended.
text::Bytes FinishImage(web::WebClient& web, const ExtensionOptions& options, ImageRecord& record) {
    text::Bytes bytes = web.FinishFetchBytes(FetchArguments(options));
    const long status = web.Status();
    const bool answered = status >= 200 && status <= 299 && !bytes.empty();
    return Usable(std::move(bytes), status,
                  answered ? web.GetResponseHeader("Content-Type") : std::string(), record);
}

text::Bytes FetchImage(web::WebClient& web, const std::string& address,
                       const ExtensionOptions& options, ImageRecord& record) {
    web.StartFetchBytes(address, FetchArguments(options));
    return FinishImage(web, options, record);
}

FailReason WhyUnusable(const ImageRecord& record) {
    if (record.reason == FailReason::NotAnImage) return FailReason::NotAnImage;
    if (record.status == 0) return FailReason::TimedOut;
    if (record.status < 200 || record.status > 299) return FailReason::Status;
    return FailReason::NotAnImage;  // an empty body
}

// One second, in 10 ms sleeps, with events processed after each; a stop ends it at once.
void WaitBeforeRetry(platform::EventPoints& events, const std::stop_token& stop,
                     SleepFunction sleep) {
    for (int round = 0; round < 100 && !stop.stop_requested(); ++round) {
        sleep(std::chrono::milliseconds(10));
        events.ProcessEvents();
    }
}

// The stored image's new address. Under the https option a new domain prefix that names its
// scheme ("https://example.com") is taken as written; otherwise "http://" goes in front.
std::string AddressOnTheSite(const std::string& rel, const std::string& newPrefix,
                             const ExtensionOptions& options) {
    const std::string lower = text::AsciiLower(newPrefix.substr(0, 8));
    if (options.https && (lower.starts_with("https://") || lower.starts_with("http://")))
        return newPrefix + NewAddress(rel, "");
    return NewAddress(rel, newPrefix);
}

}  // namespace

void RealSleep(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

std::optional<std::string> StoreImage(platform::FolderBeneath& folder, std::string_view imageFolder,
                                      const std::string& name, const std::string& extension,
                                      std::string_view bytes, bool* reused) {
    for (int variant = 1; variant <= kMaxNameVariants; ++variant) {
        const std::string stem = variant == 1 ? name : name + "_" + std::to_string(variant);
        const platform::StoreBytesResult outcome = folder.Store(stem + "." + extension, bytes);
        switch (outcome) {
            case platform::StoreBytesResult::Stored:
            case platform::StoreBytesResult::Same:
                if (reused) *reused = platform::StoreBytesResult::Same == outcome;
                return ImageRelPath(imageFolder, stem, extension);
            case platform::StoreBytesResult::Taken:
                continue;
            case platform::StoreBytesResult::Failed:
                return std::nullopt;
        }
    }
    return std::nullopt;
}

namespace {

// One article's walk over its rows: what both walks share.
class ArticleWalk {
  public:
    ArticleWalk(const std::vector<ImageRef>& refs, const std::string& resultFolder,
                JobWindow& window, const ExtensionOptions& options)
        : refs_(refs),
          window_(window),
          options_(options),
          // The boxes are locked for the run, so their texts are read once per article.
          imageFolder_(window.EditText(EditBox::ImageFolder)),
          newPrefix_(window.EditText(EditBox::NewPrefix)),
          downloading_("正在下载到 "_gbk + imageFolder_),
          // The image folder below the result folder, a typed "\\" read as "/".
          store_(resultFolder, text::ReplaceAll(imageFolder_, "\\", "/")) {
        summary_.records.reserve(refs.size());
        for (const ImageRef& ref : refs) {
            ImageRecord& record = summary_.records.emplace_back();
            record.sourceValue = ref.sourceValue;
            record.address = ref.address;
        }
    }

    int Rows() const { return std::min(window_.RowCount(), static_cast<int>(refs_.size())); }
    const ImageRef& Ref(int row) const { return refs_[static_cast<std::size_t>(row)]; }
    ImageRecord& Record(int row) { return summary_.records[static_cast<std::size_t>(row)]; }
    DownloadSummary& Summary() { return summary_; }

    // The row's download begins.
    void ShowDownloading(int row) {
        window_.ScrollToRow(row);
        window_.SetRowIcon(row, StatusIcon::Downloading);
        window_.SetCellText(row, 0, downloading_);
    }

    // The row's last answer has come (bytes: its usable body, empty for none): the row fails, or
    // the image is stored and the row shows where. True when it was stored; its new address is
    // then in its record.
    bool Settle(int row, const text::Bytes& bytes) {
        ImageRecord& record = Record(row);
        if (bytes.empty()) return Fail(row, "下载失败 "_gbk, WhyUnusable(record));
        if (options_.checkContent && DetectImageType(bytes) == ImageType::None)
            return Fail(row, "不是图片 "_gbk, FailReason::NotAnImage);
        bool reused = false;
        const std::optional<std::string> rel = StoreImage(
            store_, imageFolder_, ContentName(bytes),
            StoredExtension(Ref(row).address, bytes, options_.checkContent), bytes, &reused);
        // Unstored, the article keeps its reference: it must never point at an image that is
        // not there.
        if (!rel) return Fail(row, "保存失败 "_gbk, FailReason::CannotWrite);
        window_.SetRowIcon(row, StatusIcon::Saved);
        window_.SetCellText(row, 0, *rel);
        ++summary_.stored;
        record.outcome = reused ? ImageOutcome::Reused : ImageOutcome::Stored;
        record.storedPath = *rel;
        record.newAddress = AddressOnTheSite(*rel, newPrefix_, options_);
        return true;
    }

    void Rewrite(std::string& text, int row) {
        RewriteInPlace(text, Ref(row).sourceValue, Record(row).newAddress, scratch_);
    }

  private:
    bool Fail(int row, const std::string& caption, FailReason reason) {
        window_.SetRowIcon(row, StatusIcon::Failed);
        window_.SetCellText(row, 0, caption);
        ImageRecord& record = Record(row);
        record.outcome = ImageOutcome::Failed;
        record.reason = reason;
        ++summary_.failed;
        return false;
    }

    const std::vector<ImageRef>& refs_;
    JobWindow& window_;
    const ExtensionOptions& options_;
    const std::string imageFolder_;
    const std::string newPrefix_;
    const std::string downloading_;
    platform::FolderBeneath store_;
    DownloadSummary summary_;
    std::string scratch_;
};

// One image after the other, in row order, each rewrite applied to the text the one before left.
void OneAtATime(ArticleWalk& walk, std::string& text, web::WebClient& web,
                platform::EventPoints& events, const ExtensionOptions& options,
                SleepFunction sleep) {
    const std::stop_token stop = events.StopToken();
    const int rows = walk.Rows();
    bool started = false;  // the row's download was started while the one before was dealt with
    for (int row = 0; row < rows; ++row) {
        if (stop.stop_requested()) {
            walk.Summary().complete = false;
            break;
        }
        ImageRecord& record = walk.Record(row);
        walk.ShowDownloading(row);
        text::Bytes bytes = started ? FinishImage(web, options, record)
                                    : FetchImage(web, walk.Ref(row).address, options, record);
        started = false;
        if (bytes.empty() && !stop.stop_requested()) {
            WaitBeforeRetry(events, stop, sleep);
            record.reason = FailReason::None;
            if (!stop.stop_requested())
                bytes = FetchImage(web, walk.Ref(row).address, options, record);
        }
        if (stop.stop_requested()) {
            // The download was abandoned: this image is not dealt with, nor is the article.
            record.reason = FailReason::Stopped;
            walk.Summary().complete = false;
            break;
        }
        if (!bytes.empty() && row + 1 < rows) {
            // This image's download is over: the next one's request goes out now, so that its
            // answer travels while this image is checked, stored and rewritten. Still one
            // download at a time, on one connection.
            web.StartFetchBytes(walk.Ref(row + 1).address, FetchArguments(options));
            started = true;
        }
        if (walk.Settle(row, bytes)) walk.Rewrite(text, row);
    }
    if (started) web.Abort();  // a walk ended by a stop leaves no request behind
}

// Several downloads at once through the group, each retried once after a second of its own; the
// rows change as their answers come. The article is rewritten once every image is dealt with, in
// row order, so it comes out as from the walk above.
void AtOnce(ArticleWalk& walk, std::string& text, web::FetchGroup& group,
            platform::EventPoints& events, const ExtensionOptions& options) {
    using Clock = std::chrono::steady_clock;
    const std::stop_token stop = events.StopToken();
    const int rows = walk.Rows();
    enum class Phase { NotStarted, Fetching, Waiting, Done };
    struct RowState {
        Phase phase = Phase::NotStarted;
        int attempts = 0;
        Clock::time_point retryAt{};
    };
    std::vector<RowState> state(static_cast<std::size_t>(rows));
    const web::RequestArguments arguments = FetchArguments(options);
    // Each row's site, as the group counts its places; the rows not started yet, in order; the
    // rows waiting for their retry.
    std::vector<std::string> hosts;
    std::vector<int> notStarted, waiting;
    for (int row = 0; row < rows; ++row) {
        hosts.push_back(web::FetchGroup::HostKey(walk.Ref(row).address, options.https));
        notStarted.push_back(row);
    }
    int done = 0;
    while (done < rows) {
        if (stop.stop_requested()) break;
        // A retry that is due goes first, then new rows in order; a row whose site has its fill
        // of downloads waits and lets later rows of other sites go ahead.
        std::set<std::string_view> full;  // sites found without a free place this round
        auto start = [&](int row) {
            if (group.Running() >= group.MaxAtOnce() ||
                full.contains(hosts[static_cast<std::size_t>(row)]))
                return false;
            if (!group.CanStart(walk.Ref(row).address)) {
                full.insert(hosts[static_cast<std::size_t>(row)]);
                return false;
            }
            group.Start(static_cast<std::size_t>(row), walk.Ref(row).address, arguments);
            RowState& s = state[static_cast<std::size_t>(row)];
            s.phase = Phase::Fetching;
            ++s.attempts;
            return true;
        };
        const Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> nextRetry;
        std::erase_if(waiting, [&](int row) {
            const Clock::time_point due = state[static_cast<std::size_t>(row)].retryAt;
            if (due > now) {
                if (!nextRetry || due < *nextRetry) nextRetry = due;
                return false;
            }
            walk.Record(row).reason = FailReason::None;
            return start(row);  // else due, but its place frees only when a download ends
        });
        std::erase_if(notStarted, [&](int row) {
            if (!start(row)) return false;
            walk.ShowDownloading(row);
            return true;
        });

        for (web::GroupFetchResult& result : group.Wait(nextRetry)) {
            const int row = static_cast<int>(result.tag);
            RowState& s = state[static_cast<std::size_t>(row)];
            ImageRecord& record = walk.Record(row);
            text::Bytes bytes =
                Usable(std::move(result.body), result.status, result.contentType, record);
            if (bytes.empty() && s.attempts == 1) {
                s.phase = Phase::Waiting;
                s.retryAt = Clock::now() + std::chrono::seconds(1);
                waiting.push_back(row);
                continue;
            }
            s.phase = Phase::Done;
            ++done;
            walk.Settle(row, bytes);
        }
    }
    if (done < rows) {
        // Stopped: what was in flight is abandoned; the article is not dealt with.
        group.AbandonAll();
        for (int row = 0; row < rows; ++row) {
            if (state[static_cast<std::size_t>(row)].phase != Phase::Done &&
                state[static_cast<std::size_t>(row)].phase != Phase::NotStarted)
                walk.Record(row).reason = FailReason::Stopped;
        }
        walk.Summary().complete = false;
        return;
    }
    // Equal pictures stored in the order their answers came: the first row of each file made
    // here is the one that stored it, as when the rows are taken one after the other.
    std::set<std::string> made, first;
    for (const ImageRecord& record : walk.Summary().records) {
        if (record.outcome == ImageOutcome::Stored) made.insert(record.storedPath);
    }
    for (ImageRecord& record : walk.Summary().records) {
        if (made.contains(record.storedPath))
            record.outcome = first.insert(record.storedPath).second ? ImageOutcome::Stored
                                                                    : ImageOutcome::Reused;
    }
    for (int row = 0; row < rows; ++row) {
        if (!walk.Record(row).newAddress.empty()) walk.Rewrite(text, row);
    }
}

}  // namespace

DownloadSummary DownloadImages(std::string& text, const std::vector<ImageRef>& refs,
                               const std::string& resultFolder, JobWindow& window,
                               web::WebClient& web, platform::EventPoints& events,
                               const ExtensionOptions& options, SleepFunction sleep,
                               web::FetchGroup* atOnce) {
    ArticleWalk walk(refs, resultFolder, window, options);
    if (atOnce)
        AtOnce(walk, text, *atOnce, events, options);
    else
        OneAtATime(walk, text, web, events, options, sleep);
    return std::move(walk.Summary());
}

}  // namespace zembrat::job
