// The state of one HTTP request component and the running of its transfer: the curl options
// each transfer sets, curl's callbacks, the wait that drives it and how it ends. Private to
// platform/.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/event_points.h"
#include "platform/http_request.h"
#include "platform/http_request_parts.h"
#include "platform/http_transfer_loop.h"

namespace zembrat::platform {

struct HttpRequest::State final : http_detail::Settings,
                                  http_detail::OpenRequest,
                                  http_detail::Transfer,
                                  http_detail::Response,
                                  http_detail::LoopMember {
    using Clock = http_detail::Clock;
    enum class Phase { Closed, Opened, Running, Done, Failed };

    explicit State(HttpRequest& owner) : self(owner) {}

    HttpRequest& self;
    std::uint64_t bodyLimit = kDefaultBodyLimit;
    CURL* easy = nullptr;
    std::unique_ptr<http_detail::TransferLoop> ownLoop;  // a lone request's; none for a member
    http_detail::TransferLoop* loop = nullptr;           // where the transfers run
    EventPoints* points = &NoEventPoints();
    Phase phase = Phase::Closed;
    CURLU* parsedUrl = nullptr;
    bool refuseHttpsDowngrade = false;
    bool onHttps = false;   // the transfer has been at an https address
    bool viaProxy = false;  // the request goes through a proxy (named, or the environment's)
    long hopStatus = 0;     // the status of the answer whose headers are coming in
    // Where the redirect in the last answer leads, https or not; the next hop takes it.
    std::optional<bool> redirectSecure;
    char errorText[CURL_ERROR_SIZE] = {};  // curl's message when the transfer fails

    // curl's callbacks; self is the State.
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static int OnProgress(void* self, curl_off_t dlTotal, curl_off_t dlNow, curl_off_t ulTotal,
                          curl_off_t ulNow);
    static int OnRequestStart(void* self, char*, char*, int, int);

    // A redirect's target is told apart by its scheme; a relative one stays where the hop is.
    void NoteLocation(std::string_view headerLine);
    // The most the body may hold now: its own limit, or less while the group runs many.
    std::uint64_t BodyLimitNow() const { return loop->BodyLimit(*this, bodyLimit); }
    // The body's buffer, grown by doubling but never past the limit, so the buffer and not only
    // the body stays within what the transfer may hold. (A string's own reserve would round a
    // step short of doubling up to the double.) False when the group's budget leaves no room
    // for the old buffer and the new one together: the body is then too large.
    bool GrowBody(std::uint64_t needed, std::uint64_t limit);

    void FreeHeaderList();
    bool AddHeader(const std::string& line);
    // One option; v must have the type the option takes (long, curl_off_t or a pointer).
    template <class T>
    bool Set(CURLoption option, T v) {
        return curl_easy_setopt(easy, option, v) == CURLE_OK;
    }
    // What is set once for the handle's life: the cookie engine, in memory only (an empty file
    // name reads nothing, and no cookie jar is ever written). Setting it again would add to
    // curl's list of cookie files, so it is not among the options of each transfer, and the
    // handle is never reset (a reset would drop that list: a leak).
    bool SetUpHandle() { return Set(CURLOPT_COOKIEFILE, ""); }
    // Every option a transfer depends on, set for each transfer whatever the handle did before,
    // so nothing of one request carries over to the next: the lone request and a group's
    // members alike come here.
    bool Configure(bool hasBody, bool textBody);

    // Sends the open request with this body (a text body already in its charset); as Send.
    bool Start(std::string_view bodyBytes, bool textBody);
    // Ends the transfer curl ended with result (or the limits ended): the response, or why none.
    void Finish(CURLcode result);

    void TransferDone(CURLcode result) override;
    void EndIfPastLimit(Clock::time_point now) override;
    std::optional<Clock::time_point> NextLimit() const override;
    HttpRequest& Owner() override { return self; }

    // The pause limit that applies now; 0 when none does.
    long PauseLimitMs() const;
    // Runs the transfer (with the rest of its group) until it ends or the deadline passes,
    // keeping the window painted.
    void Drive(std::optional<Clock::time_point> deadline);
    // Stops a running transfer; the request then has no response.
    void Abort();
};

}  // namespace zembrat::platform
