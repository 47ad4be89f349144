// The parts of the HTTP request component's state, and the two steps it runs beside the
// transfer: the choice of proxy and the stash of the cookie engine. Private to platform/.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/http_request.h"
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
// so that header is the only one sent; they go back (with any new ones) afterwards.
class CookieStash {
  public:
    void Stash(CURL* easy);
    // Does nothing unless cookies were stashed.
    void Restore(CURL* easy);

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
};

// The response, once one has come.
struct Response {
    long status = 0;
    std::string statusText;
    std::vector<std::string> headerLines;
    text::Bytes body;

    void ClearResponse();
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
