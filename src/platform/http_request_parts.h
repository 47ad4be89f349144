// The plain parts of the HTTP request component's state: what carries over from request to
// request, the open request, the running transfer and the response. Private to platform/.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/http_cookie_stash.h"
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

}  // namespace zembrat::platform::http_detail
