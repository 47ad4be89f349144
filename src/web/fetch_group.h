// FetchGroup: several image downloads at once, on the calling (window) thread.
//
// Each download is the request WebClient::FetchBytes sends, with the same headers, time-outs,
// URL fix-up, proxy choice and refusals, but the transfers run side by side over one curl
// multi handle (through platform::HttpTransferGroup), so their waits overlap and their
// connections are reused. Over https the group offers HTTP/2: a host that takes it gets all of
// its downloads as streams of one connection, and its place count rises from maxPerHost (the
// connections an HTTP/1.1 host is given) to maxAtOnce once its first answer came over HTTP/2.
// http:// downloads, and hosts that answer HTTP/1.1, are sent as FetchBytes sends them. The
// caller starts what it may and then waits for endings:
//
//     while (next < addresses.size() && group.CanStart(addresses[next]))
//         group.Start(next, addresses[next]), ++next;
//     for (auto& result : group.Wait(std::nullopt)) ... result.tag, result.status, result.body
//
// Waits keep the window painted through the client's event points and give up at once when
// their stop is requested.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_request.h"
#include "text/gbk.h"
#include "web/web_client.h"

namespace zembrat::web {

struct GroupFetchResult {
    std::size_t tag = 0;      // what the caller gave Start
    long status = 0;          // HTTP status of the final answer; 0 when none came
    text::Bytes body;         // the response body, as FetchBytes would return it
    std::string contentType;  // the answer's Content-Type header value, empty when none
    // The answer's "ETag" and "Last-Modified" header values, of a 2xx answer only.
    std::string etag;
    std::string lastModified;
    // Why no answer came (None when one did, of any status), as WebClient::LastFailure tells it.
    platform::TransferFailure failure = platform::TransferFailure::None;
};

class FetchGroup {
  public:
    static constexpr int kDefaultMaxPerHost = 8;

    // At most maxAtOnce transfers at once (at least 1; the caller's option bounds it), and at
    // most maxPerHost to one host (host name, ASCII case ignored, port ignored) until the host
    // has answered over HTTP/2, maxAtOnce after. client must outlive the group.
    // bodyBudget: what the bodies in flight may hold together, shared among them (a download
    // may use what the others leave, up to the component's 256 MiB; a body that finds no room
    // fails as too large).
    FetchGroup(WebClient& client, int maxAtOnce, int maxPerHost = kDefaultMaxPerHost,
               std::uint64_t bodyBudget = platform::HttpTransferGroup::kDefaultBodyBudget);
    ~FetchGroup();  // abandons whatever still runs
    FetchGroup(const FetchGroup&) = delete;
    FetchGroup& operator=(const FetchGroup&) = delete;

    // Whether a transfer to address could start now: a free place overall and for its host.
    bool CanStart(std::string_view address) const;
    // Starts fetching address as client.FetchBytes(address, arguments) would (the group never
    // blocks: arguments.blocking is not looked at). A request refused at once is still taken;
    // its result (status 0, no body) comes from the next Wait without waiting. False only when
    // CanStart(address) is false. With keepCookies, the client's SavedCookies become the answer's
    // cookies when its result is returned.
    bool Start(std::size_t tag, std::string_view address, const RequestArguments& arguments = {});
    // Drives the transfers until at least one has ended, or until `until` (nullopt: no limit),
    // calling KeepPainted() about every 25 ms. With nothing running it waits until `until`
    // (keeping the window painted), or returns at once when there is none. Returns the results
    // that ended, in the order they ended. A requested stop (seen at entry and after each
    // KeepPainted) abandons every transfer and returns nothing.
    std::vector<GroupFetchResult> Wait(std::optional<std::chrono::steady_clock::time_point> until);
    // Transfers started whose result has not been returned yet.
    std::size_t Running() const;
    // How many it runs at once at the most.
    std::size_t MaxAtOnce() const { return static_cast<std::size_t>(maxAtOnce_); }
    void AbandonAll();

    // The host a place is counted against: the fixed-up address's host name, lower-cased,
    // without user and port.
    static std::string HostKey(std::string_view address, bool opensHttps = false);

  private:
    struct Slot {
        std::unique_ptr<platform::HttpRequest> request;
        std::size_t tag = 0;
        std::string host;
        bool busy = false;  // started, result not yet returned
        bool sent = false;  // went out on the component (not so when the client has none)
        bool keepCookies = false;
    };

    std::size_t BusyFor(const std::string& host) const;
    // How many transfers host may have at once: maxPerHost_, or maxAtOnce_ for a host whose
    // answers come over HTTP/2.
    std::size_t PlacesFor(const std::string& host) const;
    // A free place overall and for host.
    bool HasPlaceFor(const std::string& host) const;
    GroupFetchResult TakeResult(Slot& slot);

    WebClient& client_;
    int maxAtOnce_, maxPerHost_;
    platform::HttpTransferGroup group_;  // before the pool: its members leave it first
    std::vector<Slot> slots_;            // the pool, grown up to maxAtOnce_ and reused
    std::vector<std::size_t> ready_;     // slots that ended outside the group (refused at once)
    std::set<std::string> multiplexed_;  // hosts that answered over HTTP/2
    std::chrono::steady_clock::time_point lastPaint_;
};

}  // namespace zembrat::web
