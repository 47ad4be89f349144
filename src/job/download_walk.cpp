#include "job/download_walk.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <unordered_map>

#include "job/content_type.h"
#include "job/download_transfers.h"
#include "job/look_alikes.h"
#include "job/page_address.h"
#include "platform/event_points.h"
#include "text/codec.h"
#include "text/crc32.h"
#include "text/gbk.h"
#include "web/fetch_group.h"
#include "web/web_client.h"

namespace zembrat::job {
namespace {

// Under the hotlink option an XML body is a refusal too (a cloud store's "AccessDenied"); an SVG
// image is XML as well and is kept.
bool IsXmlRefusal(std::string_view contentType, std::string_view body) {
    const std::string type =
        text::AsciiLower(text::Trim(contentType.substr(0, contentType.find(';'))));
    if (type == "application/xml" || type == "text/xml")
        return DetectImageType(body) != ImageType::Svg;
    const std::string start = text::AsciiLower(text::TrimLeft(body.substr(0, 64)));
    return start.starts_with("<?xml") && DetectImageType(body) != ImageType::Svg;
}

}  // namespace

void RealSleep(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

class DownloadWalk::Impl {
  public:
    using Clock = std::chrono::steady_clock;

    Impl(web::WebClient& web, platform::EventPoints& events, RunObserver& observer,
         const ExtensionOptions& options, const ImageDestination& destination, SleepFunction sleep,
         web::FetchGroup* atOnce)
        : events_(events),
          observer_(observer),
          options_(options),
          destination_(destination),
          sleep_(sleep),
          maxAtOnce_(atOnce ? atOnce->MaxAtOnce() : 1),
          arguments_(FetchArguments(options)) {
        if (atOnce)
            transfers_ = TransfersAtOnce(*atOnce, options);
        else
            transfers_ = TransfersOneAtATime(web, options);
    }

    void Run(const Hooks& hooks);
    void Remember(ImageMemory memory) { memory_ = std::move(memory); }

  private:
    // Twin: an incremental walk's row whose address an earlier row of the walk fetches; it takes
    // that row's image, or is fetched itself when that row failed.
    enum class Phase { NotStarted, Fetching, Waiting, Done, Twin };
    struct Row {
        Phase phase = Phase::NotStarted;
        int attempts = 0;
        Clock::time_point retryAt{};
        std::string host;
        bool shown = false;    // its download was shown as begun
        bool settled = false;  // its end was dealt with (stored or failed)
        text::Bytes body;      // Done, not settled yet: the usable body (empty: failed)
        // The hotlink option: who the row asks as, in turn, and who it asks as now.
        std::vector<web::RequestIdentity> ladder;
        std::size_t rung = 0;
        // An incremental walk: the image already stored for its address; whether it is asked
        // again with its validators, and whether it is settled with that image undownloaded.
        std::optional<KnownImage> known;
        bool conditional = false;
        bool fromKnown = false;
    };
    // An address of an incremental walk, as its first row left it.
    struct Met {
        enum class State { Pending, Stored, Failed } state = State::Pending;
        std::size_t article = 0;  // ArticleWork::index of its first row
        KnownImage image;
    };
    struct Item {
        ArticleWork work;
        std::unique_ptr<ArticleImages> images;
        std::vector<Row> rows;
        std::size_t done = 0;       // rows Done
        std::size_t settled = 0;    // rows settled
        std::size_t open = 0;       // one at a time: the first row not Done
        std::size_t unstarted = 0;  // at once: no row before this one is NotStarted
        bool current = false;
        bool ahead = false;               // counted in referencesAhead_
        std::size_t held = 0;             // bytes of article and bodies held while ahead
        std::optional<std::string> page;  // the article's page address, once looked for
    };
    // What an article queued ahead counts against kMaxReferencesAhead: one without references
    // counts as one.
    static std::size_t Weight(const Item& item) {
        return std::max<std::size_t>(item.work.refs.size(), 1);
    }
    bool Stopped() const { return events_.StopToken().stop_requested(); }
    // An incremental walk's row that needs no download of its own (yet): true.
    bool Recall(Item& item, std::size_t r);
    void MarkKnown(Item& item, Row& row);
    void ResolveTwins(Item& item);
    void Learn(Item& item, std::size_t r);
    bool Fill(const Hooks& hooks, bool& more);
    bool MakeCurrent(Item& item, const Hooks& hooks, bool announced);
    void StartRows();
    bool StartRow(Item& item, std::size_t row);
    void SettleRows(Item& item, bool successes);
    void ShowBegun(Item& item);
    void Take(EndedTransfer ended);
    // The hotlink option: whether the body of a row of item is proved an image (see
    // PlaceholderProof); an earlier look-alike that is still held is judged again on the way.
    bool ProvedImage(Item& item, std::size_t r, const text::Bytes& body);
    // The row is asked again with its next identity: true; false when it has none left.
    bool NextIdentity(Item& item, std::size_t r);
    Item* QueuedArticle(std::size_t index);
    void Abandon(const Hooks& hooks);
    // Rewrites the article for its stored images, in row order (an unreadable one stays).
    void RewriteStored(Item& item) {
        if (!item.work.unreadable) item.images->Rewrite(item.work.text, item.work.verdicts);
    }
    void Complete(Item& item, const Hooks& hooks);
    // Makes the article's rows, shown once it is the current article.
    void Prepare(Item& item);

    platform::EventPoints& events_;
    RunObserver& observer_;
    const ExtensionOptions& options_;
    const ImageDestination& destination_;
    SleepFunction sleep_;
    std::size_t maxAtOnce_;
    std::unique_ptr<Transfers> transfers_;
    std::deque<Item> queue_;
    std::size_t heldAhead_ = 0;
    std::size_t referencesAhead_ = 0;  // of the articles queued besides the current one
    std::size_t waiting_ = 0;          // rows Waiting for their retry
    std::size_t nextTag_ = 0;
    std::size_t notStarted_ = 0;  // rows of the queued articles whose download has not begun
    std::unordered_map<std::size_t, std::pair<Item*, std::size_t>> inFlight_;
    web::RequestArguments arguments_;
    PlaceholderProof proof_{options_.placeholders};
    std::optional<ImageMemory> memory_;
    std::unordered_map<std::string, Met> met_;
};

bool DownloadWalk::Impl::Fill(const Hooks& hooks, bool& more) {
    while (more) {
        if (queue_.empty()) {
            std::optional<ArticleWork> work = hooks.next(true);
            if (!work) {
                more = false;
                return true;
            }
            Item& item = queue_.emplace_back();
            item.work = std::move(*work);
            if (!MakeCurrent(item, hooks, true)) return false;
            continue;
        }
        // One at a time reads nothing ahead; several at once read ahead while the downloads
        // running and due are fewer than it may run.
        if (transfers_->OneAtATime() || referencesAhead_ >= kMaxReferencesAhead ||
            heldAhead_ >= kMaxBytesAhead || notStarted_ >= maxAtOnce_)
            return true;
        std::optional<ArticleWork> work = hooks.next(false);
        if (!work) {
            more = false;
            return true;
        }
        Item& item = queue_.emplace_back();
        item.work = std::move(*work);
        item.held = item.work.text.size();
        heldAhead_ += item.held;
        referencesAhead_ += Weight(item);
        item.ahead = true;
        // Its rows are shown once it is the current article.
        Prepare(item);
    }
    return true;
}

void DownloadWalk::Impl::Prepare(Item& item) {
    item.images =
        std::make_unique<ArticleImages>(item.work.refs, destination_, observer_, options_);
    item.rows.resize(item.work.refs.size());
    for (std::size_t r = 0; r < item.rows.size(); ++r) {
        item.rows[r].host = transfers_->HostOf(item.work.refs[r].address);
        if (!memory_ || !Recall(item, r)) ++notStarted_;
    }
}

bool DownloadWalk::Impl::Recall(Item& item, std::size_t r) {
    Row& row = item.rows[r];
    const std::string& address = item.work.refs[r].address;
    const auto [it, first] = met_.try_emplace(address);
    if (first) {
        it->second.article = item.work.index;
    } else if (it->second.article != item.work.index) {
        row.phase = Phase::Twin;
        return true;
    } else {
        return false;  // twice in one article: fetched twice, as without the memory
    }
    row.known = memory_->lookup(address);
    if (!row.known) return false;
    if (memory_->refresh) {
        row.conditional = !row.known->etag.empty() || !row.known->lastModified.empty();
        if (!row.conditional) row.known.reset();
        return false;
    }
    MarkKnown(item, row);
    return true;
}

void DownloadWalk::Impl::MarkKnown(Item& item, Row& row) {
    row.phase = Phase::Done;
    row.fromKnown = true;
    row.shown = true;  // never shown as downloading
    ++item.done;
}

void DownloadWalk::Impl::ResolveTwins(Item& item) {
    for (std::size_t r = 0; r < item.rows.size(); ++r) {
        Row& row = item.rows[r];
        if (row.phase != Phase::Twin) continue;
        const Met& met = met_[item.work.refs[r].address];
        if (met.state == Met::State::Pending) continue;
        if (met.state == Met::State::Stored) {
            row.known = met.image;
            MarkKnown(item, row);
        } else {
            row.phase = Phase::NotStarted;
            ++notStarted_;
            item.unstarted = std::min(item.unstarted, r);
        }
    }
}

void DownloadWalk::Impl::Learn(Item& item, std::size_t r) {
    Met& met = met_[item.work.refs[r].address];
    const ImageRecord& record = item.images->Record(static_cast<int>(r));
    if (record.outcome == ImageOutcome::Stored || record.outcome == ImageOutcome::Reused) {
        met.state = Met::State::Stored;
        met.image = {record.storedPath, record.storedSize, record.crc, record.etag,
                     record.lastModified};
    } else if (met.state == Met::State::Pending) {
        met.state = Met::State::Failed;
    }
}

bool DownloadWalk::Impl::MakeCurrent(Item& item, const Hooks& hooks, bool announced) {
    if (item.ahead) referencesAhead_ -= Weight(item);
    item.ahead = false;
    item.current = true;
    heldAhead_ -= item.held;
    item.held = 0;
    if (!item.images) Prepare(item);
    if (!hooks.show(item.work, announced)) return false;
    // What happened while it was ahead is shown now, in row order.
    ShowBegun(item);
    SettleRows(item, false);
    SettleRows(item, true);
    return true;
}

bool DownloadWalk::Impl::StartRow(Item& item, std::size_t r) {
    Row& row = item.rows[r];
    const std::string& address = item.work.refs[r].address;
    if (!transfers_->CanStart(address)) return false;
    if (row.phase == Phase::Waiting) {
        item.images->Record(static_cast<int>(r)).reason = FailReason::None;
        --waiting_;
    }
    web::RequestArguments arguments = arguments_;
    if (row.conditional) {
        arguments.ifNoneMatch = row.known->etag;
        arguments.ifModifiedSince = row.known->lastModified;
    }
    if (options_.hotlink) {
        if (!item.page) item.page = ArticlePageAddress(item.work.text);
        if (row.ladder.empty())
            row.ladder = web::IdentityLadder(address, *item.page, options_.siteRules);
        web::ApplyIdentity(row.ladder[row.rung], arguments);
    }
    const std::size_t tag = nextTag_++;
    transfers_->Start(tag, address, arguments);
    inFlight_[tag] = {&item, r};
    if (row.phase == Phase::NotStarted) --notStarted_;
    row.phase = Phase::Fetching;
    ++row.attempts;
    return true;
}

void DownloadWalk::Impl::StartRows() {
    const Clock::time_point now = Clock::now();
    if (transfers_->OneAtATime()) {
        // Strictly in row order: the first row not dealt with, once its turn has come.
        Item& item = queue_.front();
        while (item.open < item.rows.size() && item.rows[item.open].phase == Phase::Done)
            ++item.open;
        if (item.open == item.rows.size()) return;
        Row& row = item.rows[item.open];
        if (row.phase == Phase::NotStarted || (row.phase == Phase::Waiting && row.retryAt <= now))
            StartRow(item, item.open);
        return;
    }
    // A retry that is due goes first, then new rows in order, the current article's first; a row
    // whose site has its fill of downloads waits and lets later rows of other sites go ahead.
    std::set<std::string_view> full;
    for (const bool retries : {true, false}) {
        if (retries && waiting_ == 0) continue;
        for (Item& item : queue_) {
            if (!item.current && heldAhead_ >= kMaxBytesAhead) break;
            // New rows: none before item.unstarted is NotStarted.
            std::size_t r = retries ? 0 : item.unstarted;
            if (!retries) {
                while (r < item.rows.size() && item.rows[r].phase != Phase::NotStarted) ++r;
                item.unstarted = r;
            }
            for (; r < item.rows.size(); ++r) {
                if (transfers_->Running() >= maxAtOnce_) return;
                Row& row = item.rows[r];
                const bool due = retries ? row.phase == Phase::Waiting && row.retryAt <= now
                                         : row.phase == Phase::NotStarted;
                if (!due || full.contains(row.host)) continue;
                if (!StartRow(item, r)) full.insert(row.host);
            }
        }
    }
}

void DownloadWalk::Impl::ShowBegun(Item& item) {
    for (std::size_t r = 0; r < item.rows.size(); ++r) {
        Row& row = item.rows[r];
        if (row.shown || row.phase == Phase::NotStarted || row.phase == Phase::Twin) continue;
        row.shown = true;
        item.images->ShowDownloading(static_cast<int>(r));
    }
}

void DownloadWalk::Impl::SettleRows(Item& item, bool successes) {
    if (memory_ && successes) ResolveTwins(item);
    for (std::size_t r = 0; r < item.rows.size(); ++r) {
        Row& row = item.rows[r];
        const bool success = !row.body.empty() || row.fromKnown;
        if (row.phase != Phase::Done || row.settled || success != successes) continue;
        // Under the hotlink option a body is held until every body of its article is in: one
        // that turns out to be a placeholder is then never stored, nor the article pointed at it.
        if (successes && options_.hotlink && item.done < item.rows.size()) return;
        row.settled = true;
        ++item.settled;
        if (row.fromKnown)
            item.images->SettleKnown(static_cast<int>(r), *row.known);
        else
            item.images->Settle(static_cast<int>(r), row.body);
        row.body = text::Bytes();
        if (memory_) Learn(item, r);
    }
}

void DownloadWalk::Impl::Take(EndedTransfer ended) {
    const auto it = inFlight_.find(ended.tag);
    if (it == inFlight_.end()) return;
    auto [item, r] = it->second;
    inFlight_.erase(it);
    Row& row = item->rows[r];
    ImageRecord& record = item->images->Record(static_cast<int>(r));
    if (row.conditional && ended.status == 304) {
        // Not modified: the file stored before stays, under its name.
        record.status = ended.status;
        row.fromKnown = true;
        row.phase = Phase::Done;
        ++item->done;
        return;
    }
    if (ended.status >= 200 && ended.status <= 299) {
        record.etag = std::move(ended.etag);
        record.lastModified = std::move(ended.lastModified);
    }
    const bool xml = options_.hotlink && IsXmlRefusal(ended.contentType, ended.body);
    text::Bytes bytes =
        UsableBody(std::move(ended.body), ended.status, ended.contentType, ended.failure, record);
    if (options_.hotlink) {
        if (xml && !bytes.empty()) {
            bytes.clear();
            record.reason = FailReason::WebPage;
        }
        if (!bytes.empty() && !ProvedImage(*item, r, bytes)) {
            bytes.clear();
            record.reason = FailReason::Placeholder;
        }
        const bool refused = ended.status == 401 || ended.status == 403 ||
                             record.reason == FailReason::WebPage ||
                             record.reason == FailReason::Placeholder;
        if (refused && NextIdentity(*item, r)) return;
        if (record.reason == FailReason::Placeholder) row.attempts = 2;  // no retry: same bytes
        if (!bytes.empty()) record.identity = row.ladder[row.rung].kind;
    }
    if (bytes.empty() && row.attempts == 1) {
        row.phase = Phase::Waiting;
        ++waiting_;
        row.retryAt = Clock::now() + kRetryWait;
        return;
    }
    // A refresh that got no usable answer keeps the image stored before.
    if (bytes.empty() && row.conditional) row.fromKnown = true;
    row.phase = Phase::Done;
    ++item->done;
    if (!item->current) {
        item->held += bytes.size();
        heldAhead_ += bytes.size();
    }
    row.body = std::move(bytes);
    // A failure is shown at once; a stored image after the next request has gone out.
    if (item->current && row.body.empty()) SettleRows(*item, false);
}

DownloadWalk::Impl::Item* DownloadWalk::Impl::QueuedArticle(std::size_t index) {
    for (Item& item : queue_) {
        if (item.work.index == index) return &item;
    }
    return nullptr;
}

bool DownloadWalk::Impl::NextIdentity(Item& item, std::size_t r) {
    Row& row = item.rows[r];
    if (row.rung + 1 >= row.ladder.size()) return false;
    ++row.rung;
    row.phase = Phase::NotStarted;
    ++notStarted_;
    item.unstarted = std::min(item.unstarted, r);
    row.attempts = 0;
    item.images->Record(static_cast<int>(r)).reason = FailReason::None;
    item.open = std::min(item.open, r);  // one at a time goes back to it
    return true;
}

bool DownloadWalk::Impl::ProvedImage(Item& item, std::size_t r, const text::Bytes& body) {
    const Row& asked = item.rows[r];
    const bool more = asked.rung + 1 < asked.ladder.size();
    std::optional<PlaceholderProof::Source> earlier;
    const PlaceholderProof::Verdict verdict =
        proof_.Judge({item.work.refs[r].address, item.work.index, r}, text::Crc32(body),
                     body.size(), more, &earlier);
    // The earlier body of the look-alike is judged again while it is held; an article already
    // written keeps it.
    Item* twin = earlier ? QueuedArticle(earlier->article) : nullptr;
    if (twin && earlier->row < twin->rows.size()) {
        Row& row = twin->rows[earlier->row];
        const bool held = row.phase == Phase::Done && !row.settled && !row.body.empty();
        const PlaceholderProof::Verdict again =
            proof_.Again(earlier->address, row.rung + 1 < row.ladder.size());
        if (held && again != PlaceholderProof::Verdict::Keep) {
            if (!twin->current) {
                twin->held -= row.body.size();
                heldAhead_ -= row.body.size();
            }
            row.body = text::Bytes();
            ImageRecord& record = twin->images->Record(static_cast<int>(earlier->row));
            record.identity = web::IdentityKind::Plain;
            if (again == PlaceholderProof::Verdict::AskAgain && NextIdentity(*twin, earlier->row)) {
                --twin->done;
            } else {
                record.reason = FailReason::Placeholder;
                if (twin->current) SettleRows(*twin, false);
            }
        }
    }
    return verdict == PlaceholderProof::Verdict::Keep;
}

void DownloadWalk::Impl::Abandon(const Hooks& hooks) {
    transfers_->AbandonAll();
    if (queue_.empty()) return;
    Item& item = queue_.front();
    for (std::size_t r = 0; r < item.rows.size(); ++r) {
        const Row& row = item.rows[r];
        // The download was abandoned: this image is not dealt with, nor is the article. A
        // download started but not shown yet (the stop came in between) was abandoned too.
        const bool begun = row.shown || row.phase == Phase::Fetching;
        if (begun && row.phase != Phase::Done)
            item.images->Record(static_cast<int>(r)).reason = FailReason::Stopped;
    }
    RewriteStored(item);
    DownloadSummary& summary = item.images->Summary();
    summary.complete = false;
    hooks.done(item.work, summary);
    queue_.clear();
    notStarted_ = 0;
    waiting_ = 0;
    referencesAhead_ = 0;
}

void DownloadWalk::Impl::Complete(Item& item, const Hooks& hooks) {
    RewriteStored(item);
    DownloadSummary& summary = item.images->Summary();
    summary.complete = true;
    hooks.done(item.work, summary);
    queue_.pop_front();
}

void DownloadWalk::Impl::Run(const Hooks& hooks) {
    bool more = true;
    while (true) {
        if (!queue_.empty() && Stopped()) return Abandon(hooks);
        if (!Fill(hooks, more)) return Abandon(hooks);
        if (queue_.empty()) return;
        Item& current = queue_.front();
        if (!current.current && !MakeCurrent(current, hooks, false)) return Abandon(hooks);
        if (Stopped()) return Abandon(hooks);
        if (current.settled == current.rows.size()) {
            Complete(current, hooks);
            continue;
        }
        StartRows();
        SettleRows(current, true);
        if (Stopped()) return Abandon(hooks);
        ShowBegun(current);
        if (current.settled == current.rows.size()) continue;
        if (Stopped()) return Abandon(hooks);

        std::optional<Clock::time_point> nextRetry;
        const bool waiting = waiting_ > 0;
        for (const Item& item : queue_) {
            if (!waiting) break;
            for (const Row& row : item.rows) {
                if (row.phase != Phase::Waiting) continue;
                if (!nextRetry || row.retryAt < *nextRetry) nextRetry = row.retryAt;
            }
        }
        if (transfers_->OneAtATime() && transfers_->Running() == 0 && waiting) {
            // One second, in 10 ms sleeps, with events processed after each; a stop ends it.
            for (int round = 0; round < 100 && !Stopped(); ++round) {
                sleep_(std::chrono::milliseconds(10));
                events_.ProcessEvents();
            }
            for (Row& row : current.rows) {
                if (row.phase == Phase::Waiting) row.retryAt = Clock::time_point::min();
            }
            continue;
        }
        std::vector<EndedTransfer> ended = transfers_->Wait(nextRetry);
        if (Stopped()) return Abandon(hooks);
        for (EndedTransfer& e : ended) Take(std::move(e));
    }
}

DownloadWalk::DownloadWalk(web::WebClient& web, platform::EventPoints& events,
                           RunObserver& observer, const ExtensionOptions& options,
                           const ImageDestination& destination, SleepFunction sleep,
                           web::FetchGroup* atOnce)
    : impl_(std::make_unique<Impl>(web, events, observer, options, destination, sleep, atOnce)) {}

DownloadWalk::~DownloadWalk() = default;

void DownloadWalk::Run(const Hooks& hooks) {
    impl_->Run(hooks);
}

void DownloadWalk::Remember(ImageMemory memory) {
    impl_->Remember(std::move(memory));
}

DownloadSummary DownloadImages(std::string& text, const std::vector<ImageRef>& refs,
                               const ImageDestination& destination, RunObserver& observer,
                               web::WebClient& web, platform::EventPoints& events,
                               const ExtensionOptions& options, SleepFunction sleep,
                               web::FetchGroup* atOnce) {
    DownloadSummary summary;
    std::optional<ArticleWork> work = ArticleWork{};
    work->index = 1;
    work->text = std::move(text);
    work->refs = refs;
    DownloadWalk walk(web, events, observer, options, destination, sleep, atOnce);
    walk.Run({[&](bool) {
                  std::optional<ArticleWork> next = std::move(work);
                  work.reset();
                  return next;
              },
              [](ArticleWork&, bool) { return true; },
              [&](ArticleWork& done, DownloadSummary& s) {
                  text = std::move(done.text);
                  summary = std::move(s);
              }});
    return summary;
}

}  // namespace zembrat::job
