// The steps of a request on one HTTP request component, shared by WebClient (on its own
// component) and FetchGroup (on the components of its pool), so both build a request alike.
// Private to web/.
#pragma once

#include <string>
#include <string_view>

#include "platform/http_request_failure.h"

namespace zembrat::platform {
class HttpRequest;
}

namespace zembrat::web::steps {

// Open's URL fix-up: "http://" goes in front unless the URL starts with it (ASCII case
// ignored), or with "https://" when opensHttps.
void FixUpUrl(std::string& url, bool opensHttps);
// The fix-up, then the component's Open; r may be null (no component: nothing opens).
void Open(platform::HttpRequest* r, std::string_view method, std::string& url, bool async,
          bool opensHttps);
// Connect, send and receive below 1 take the resolve value.
void SetTimeouts(platform::HttpRequest* r, long resolve, long connect, long send, long receive);
// Bytes when there are any, else the text when there is any, else no body.
void Send(platform::HttpRequest* r, std::string_view bodyText, std::string_view bodyBytes);

// Why the fetch on r (null: no component) got no answer, once its wait is over.
platform::TransferFailure FailureAfterWait(const platform::HttpRequest* r);

// How long FetchBytes waits for its answer, from its timeout argument.
inline long FetchBytesWaitSeconds(long timeout) {
    return timeout >= 1 ? timeout : 120;
}

// The "Set-Cookie:" lines of a response's headers, each ended by CR LF.
std::string SetCookieLinesOf(std::string_view allHeaders);
// Those lines as one "Cookie" header value ("a=1; path=/; b=2; ").
std::string CookieHeaderOf(std::string_view allHeaders);

}  // namespace zembrat::web::steps
