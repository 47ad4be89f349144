// The parts of the HTTP request component's state, and the two steps it runs beside the
// transfer: the choice of proxy and the stash of the cookie engine. Private to platform/.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/http_request.h"
#include "platform/http_request_failure.h"
#include "text/gbk.h"

namespace zembrat::platform::http_detail {

using Clock = std::chrono::steady_clock;

inline constexpr char kDefaultUserAgent[] = "Mozilla/4.0 (compatible; Zembrat HTTP request)";

// What is kept from request to request.
struct Settings {
    long resolveMs = 0, connectMs = 60000, sendMs = 30000, receiveMs = 30000;
    int proxySetting = kProxyDefault;
    std::string proxyServer, proxyBypass;
    std::string clientCertificate;
    int autoLogon = kAutoLogonOnlyIfBypassProxy;
    std::string userAgent = kDefaultUserAgent;
    bool followRedirects = true;
};

// The open request, as the caller set it.
struct OpenRequest {
    bool async = false;
    bool refused = false;  // something unsafe was set: the request is never sent
    std::string method, url, wireUrl, scheme, host;
    std::vector<std::pair<std::string, std::string>> headers;
    bool serverCredentials = false, proxyCredentials = false;
    std::string user, password, proxyUser, proxyPassword;

    void ClearRequest();
    // The value of the header of that name (ASCII case ignored); nullptr when none is set.
    const std::string* FindHeader(std::string_view name) const;
};

// Takes the engine's cookies out for a request that carries the caller's own Cookie header,
// so that header is the only one sent; they go back (with any new ones) afterwards. A handle
// whose cookies live in a group's share (share not null) cannot empty the jar under the group's
// other transfers: it leaves the share for a jar of its own while it runs instead.
class CookieStash {
  public:
    void Stash(CURL* easy, CURLSH* share);
    // Does nothing unless cookies were stashed.
    void Restore(CURL* easy, CURLSH* share);

  private:
    bool active_ = false;
    std::vector<std::string> lines_;
};

// The running transfer.
struct Transfer {
    curl_slist* headerList = nullptr;
    std::string postBody;
    CookieStash cookies;
    bool requestSent = false;  // the connection is up and the request is going out
    bool uploading = false;
    curl_off_t lastUp = 0, lastDown = 0;
    Clock::time_point lastActivity;
    bool bodyTooLarge = false;
    bool downgradeRefused = false;  // a hop from https to http was refused
    bool hopSecure = false;         // the hop about to go out (or going out) is to https
    std::optional<Clock::time_point> abandonAt;  // the transfer is dropped unanswered then
    TransferFailure failure = TransferFailure::None;
};

// The response, once one has come.
struct Response {
    long status = 0;
    std::string statusText;
    std::vector<std::string> headerLines;
    text::Bytes body;

    void ClearResponse();
};

// A request whose transfer runs in a TransferLoop.
class LoopMember {
  public:
    // curl's done message for the member's transfer.
    virtual void TransferDone(CURLcode result) = 0;
    // Ends the transfer, unanswered, when one of its limits (a pause limit, the wait limit) has
    // passed by now.
    virtual void EndIfPastLimit(Clock::time_point now) = 0;
    // When the nearest of those limits passes; nullopt while none applies.
    virtual std::optional<Clock::time_point> NextLimit() const = 0;
    virtual HttpRequest& Owner() = 0;

  protected:
    LoopMember() = default;
    LoopMember(const LoopMember&) = default;
    LoopMember& operator=(const LoopMember&) = default;
    ~LoopMember() = default;
};

// One multi handle and the transfers running in it: a lone request's own, or the one a group's
// members share (with their cookies, through a share handle).
class TransferLoop {
  public:
    // maxHostConnections: curl's limit of connections to one host, 0 for none. keptConnections:
    // the size of the cache of idle connections, 0 for curl's own. noteEnded: keep the members
    // whose transfers end, for TakeEnded. bodyBudget: what the bodies of the running transfers
    // may hold together, 0 for no such bound.
    TransferLoop(long maxHostConnections, long keptConnections, bool shareCookies, bool noteEnded,
                 std::uint64_t bodyBudget = 0);
    ~TransferLoop();
    TransferLoop(const TransferLoop&) = delete;
    TransferLoop& operator=(const TransferLoop&) = delete;

    bool ok() const { return multi_ && (!wantShare_ || share_); }
    // The cookie share of a group; nullptr for a lone request.
    CURLSH* cookieShare() const { return share_; }

    bool Add(CURL* easy, LoopMember& member);
    void Remove(CURL* easy, LoopMember& member);
    // member's transfer ended by itself (not by an abort).
    void NoteEnded(LoopMember& member);
    // Drops member from the ended ones not yet taken.
    void Forget(LoopMember& member);

    // Runs the transfers as far as they go without waiting, hands curl's done messages to their
    // members and ends the transfers past a limit.
    void Perform();
    // Waits until a transfer's connection is ready, for at most limit and no longer than the
    // nearest limit of a member.
    void Poll(std::chrono::milliseconds limit);
    std::size_t Running() const { return members_.size(); }
    std::vector<HttpRequest*> TakeEnded();
    // The body limit of a running member whose own limit is own: own, or its even share of the
    // budget with the transfers running now, whichever is smaller.
    std::uint64_t BodyLimit(std::uint64_t own) const;

  private:
    CURLM* multi_ = nullptr;
    CURLSH* share_ = nullptr;
    bool wantShare_, noteEnded_;
    std::uint64_t bodyBudget_;
    std::vector<std::pair<CURL*, LoopMember*>> members_;
    std::vector<LoopMember*> ended_;
};

// Host patterns ("*" and "?" wildcards, "<local>" for a host name without a dot) separated by
// ";", "," or white space.
bool HostMatchesBypass(const std::string& host, std::string_view bypassList);
// The proxy a request for scheme://host goes through under these settings; empty for a direct
// connection.
std::string ChosenProxy(const Settings& settings, const std::string& scheme,
                        const std::string& host);
// The login's own sign-on (SPNEGO) may answer a challenge from host, reached through
// chosenProxy (empty: directly).
bool AutoLogonAllowed(const Settings& settings, const std::string& chosenProxy,
                      const std::string& host);

}  // namespace zembrat::platform::http_detail
