#include "web/fetch_group.h"

#include <algorithm>

#include "platform/event_points.h"
#include "text/codec.h"
#include "web/request_steps.h"

namespace zembrat::web {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;
using platform::HttpRequest;

constexpr Ms kPaintInterval{25};

}  // namespace

FetchGroup::FetchGroup(WebClient& client, int maxAtOnce, int maxPerHost, std::uint64_t bodyBudget)
    : client_(client),
      maxAtOnce_(std::max(maxAtOnce, 1)),
      maxPerHost_(std::max(maxPerHost, 1)),
      // Idle connections are kept as curl keeps them for maxAtOnce transfers (four each) for
      // the whole run, not only while the transfers run. curl's own limit of connections to a
      // host is the HTTP/1.1 one: an HTTP/2 host needs one.
      group_(maxPerHost_, 4L * maxAtOnce_, bodyBudget, true),
      lastPaint_(Clock::now()) {
    slots_.reserve(static_cast<std::size_t>(maxAtOnce_));
}

FetchGroup::~FetchGroup() {
    AbandonAll();
}

std::string FetchGroup::HostKey(std::string_view address, bool opensHttps) {
    std::string url = text::Trim(address);
    steps::FixUpUrl(url, opensHttps);
    std::string_view host(url);
    host.remove_prefix(host.find("://") + 3);  // the fix-up leaves a scheme in front
    host = host.substr(0, host.find_first_of("/?#\\"));
    if (const auto at = host.rfind('@'); at != std::string_view::npos) host.remove_prefix(at + 1);
    if (host.starts_with('[')) {
        if (const auto close = host.find(']'); close != std::string_view::npos)
            host = host.substr(0, close + 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    return text::AsciiLower(host);
}

std::size_t FetchGroup::BusyFor(const std::string& host) const {
    return static_cast<std::size_t>(std::count_if(
        slots_.begin(), slots_.end(), [&host](const Slot& s) { return s.busy && s.host == host; }));
}

std::size_t FetchGroup::Running() const {
    return static_cast<std::size_t>(
        std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.busy; }));
}

std::size_t FetchGroup::PlacesFor(const std::string& host) const {
    return static_cast<std::size_t>(multiplexed_.contains(host) ? maxAtOnce_ : maxPerHost_);
}

bool FetchGroup::HasPlaceFor(const std::string& host) const {
    return Running() < static_cast<std::size_t>(maxAtOnce_) && BusyFor(host) < PlacesFor(host);
}

bool FetchGroup::CanStart(std::string_view address) const {
    return HasPlaceFor(HostKey(address, client_.opensHttps_));
}

bool FetchGroup::Start(std::size_t tag, std::string_view address,
                       const RequestArguments& arguments) {
    std::string host = HostKey(address, client_.opensHttps_);
    if (!HasPlaceFor(host)) return false;
    auto free = std::find_if(slots_.begin(), slots_.end(), [](const Slot& s) { return !s.busy; });
    if (free == slots_.end()) {
        slots_.emplace_back().request = std::make_unique<HttpRequest>(group_);
        free = slots_.end() - 1;
    }
    Slot& slot = *free;
    slot.tag = tag;
    slot.host = std::move(host);
    slot.busy = true;
    slot.keepCookies = arguments.keepCookies;

    HttpRequest& r = *slot.request;
    // A client without a component sends nothing, and neither does the group for it.
    const HttpRequest* own = client_.request_.As<HttpRequest>();
    slot.sent = own != nullptr;
    if (own) {
        // What the client's component carries from request to request (time-outs for a timeout
        // of -1, proxy, options, the downgrade refusal) goes with the group's requests too.
        r.AdoptSettings(*own);
        RequestArguments async = arguments;
        async.blocking = false;
        client_.SendFetchBytes(&r, address, async);
    }
    if (slot.sent && r.Pending()) {
        // FetchBytes' wait for the answer, which the group's loop now stands in for.
        r.AbandonAfter(steps::FetchBytesWaitSeconds(arguments.timeout));
    } else {
        ready_.push_back(static_cast<std::size_t>(free - slots_.begin()));
    }
    return true;
}

GroupFetchResult FetchGroup::TakeResult(Slot& slot) {
    GroupFetchResult result;
    result.tag = slot.tag;
    std::string headers;
    result.failure = steps::FailureAfterWait(slot.sent ? slot.request.get() : nullptr);
    if (slot.sent) {
        HttpRequest& r = *slot.request;
        result.status = r.Status();
        if (r.AnsweredOverHttp2()) multiplexed_.insert(slot.host);
        result.contentType = r.GetResponseHeader("Content-Type");
        if (result.status >= 200 && result.status <= 299) {
            result.etag = r.GetResponseHeader("ETag");
            result.lastModified = r.GetResponseHeader("Last-Modified");
        }
        result.body = r.TakeResponseBody();
        if (slot.keepCookies) headers = r.GetAllResponseHeaders();
    }
    if (slot.keepCookies) client_.savedCookies_ = steps::CookieHeaderOf(headers);
    slot.busy = false;
    return result;
}

std::vector<GroupFetchResult> FetchGroup::Wait(std::optional<Clock::time_point> until) {
    platform::EventPoints& events = client_.events();
    if (events.StopRequested()) {
        AbandonAll();
        return {};
    }
    std::vector<GroupFetchResult> results;
    for (const std::size_t i : ready_) results.push_back(TakeResult(slots_[i]));
    ready_.clear();
    for (;;) {
        if (group_.Running() > 0) {
            group_.Perform();
            for (HttpRequest* ended : group_.TakeEnded()) {
                const auto slot = std::find_if(
                    slots_.begin(), slots_.end(),
                    [ended](const Slot& s) { return s.busy && s.request.get() == ended; });
                if (slot != slots_.end()) results.push_back(TakeResult(*slot));
            }
        }
        if (!results.empty() || (group_.Running() == 0 && !until)) return results;
        Clock::time_point now = Clock::now();
        if (until && now >= *until) return results;
        // The pace is kept across calls: a run of short waits still lets the window paint.
        if (now - lastPaint_ >= kPaintInterval) {
            events.KeepPainted();
            if (events.StopRequested()) {
                AbandonAll();
                return {};
            }
            lastPaint_ = now = Clock::now();
        }
        Ms wait = std::chrono::ceil<Ms>(lastPaint_ + kPaintInterval - now);
        if (until) wait = std::min(wait, std::chrono::ceil<Ms>(*until - now));
        group_.Poll(std::max(wait, Ms(0)));
    }
}

void FetchGroup::AbandonAll() {
    for (Slot& slot : slots_) {
        if (slot.busy) slot.request->Abort();
        slot.busy = false;
    }
    ready_.clear();
    group_.TakeEnded();
}

}  // namespace zembrat::web
