// The composite requests of WebClient (FetchBytes, FetchText) and its cookie operations.
#include <cmath>
#include <cstdlib>

#include "platform/event_points.h"
#include "platform/http_request.h"
#include "text/codec.h"
#include "web/page_decoding.h"
#include "web/request_steps.h"
#include "web/web_client.h"

namespace zembrat::web {
namespace {

// What FetchBytes and FetchText share; the two differ only in their time-outs and result.
struct CommonArguments {
    const std::string& postText;
    const std::optional<std::string>& proxy;
    bool blocking;
    const text::Bytes& postBytes;
    const std::string& referer;
    const std::string& cookies;
    const std::string& contentType;
    const std::string& userAgent;
    bool noReferer = false;
    std::string_view ifNoneMatch = {};
    std::string_view ifModifiedSince = {};
};

// The component a composite request goes out on, and what it takes from the client.
struct RequestTarget {
    platform::HttpRequest* request;
    bool opensHttps;
    platform::EventPoints& events;
    const std::string& savedCookies;
};

constexpr double kTolerance = 1e-7;

}  // namespace

std::string TextBetween(std::string_view source, std::string_view startMarker,
                        std::string_view endMarker) {
    const std::size_t start = text::Find(source, startMarker);
    if (start == text::kNotFound) return {};
    const std::size_t from = start + startMarker.size();
    const std::size_t end = text::Find(source, endMarker, from);
    if (end == text::kNotFound) return {};
    return std::string(source.substr(from, end - from));
}

std::string SystemProxy() {
    for (const char* name : {"http_proxy", "HTTP_PROXY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return text::GbkFromUtf8(value);
    }
    return {};
}

std::string steps::SetCookieLinesOf(std::string_view allHeaders) {
    std::string kept;
    for (const std::string& line : text::Split(allHeaders, "\r\n")) {
        if (text::StartsWith(line, "Set-Cookie:")) {
            kept += line;
            kept += "\r\n";
        }
    }
    return kept;
}

std::string steps::CookieHeaderOf(std::string_view allHeaders) {
    std::string s = SetCookieLinesOf(allHeaders);
    s = text::ReplaceAll(s, "Set-Cookie: ", "");
    return text::ReplaceAll(s, "\r\n", "; ");
}

std::string WebClient::SetCookieLines() {
    return steps::SetCookieLinesOf(GetAllResponseHeaders());
}

std::string WebClient::CookieHeader() {
    return steps::CookieHeaderOf(GetAllResponseHeaders());
}

std::string WebClient::CookieValue(std::string_view name) {
    const std::string n(name);
    std::string value = TextBetween(GetAllResponseHeaders(), "Set-Cookie: " + n + "=", ";");
    if (!value.empty()) return value;
    return TextBetween(GetAllResponseHeaders(), "Set-Cookie:" + n + "=", ";");
}

// Steps 1 to 7 and 9 to 10 of a composite request; the caller sets the time-outs between
// (step 8 runs before the proxy is looked up, hence the callback).
template <class SetTimeoutsStep>
static void SendComposite(const RequestTarget& on, std::string_view url, const CommonArguments& a,
                          SetTimeoutsStep setTimeouts) {
    platform::HttpRequest* const r = on.request;
    const auto setHeader = [r](std::string_view name, std::string_view value) {
        if (r) r->SetRequestHeader(name, value);
    };
    const bool post = !a.postText.empty() || !a.postBytes.empty();
    const std::string target = text::Trim(url);
    std::string opened = target;
    steps::Open(r, post ? "POST" : "GET", opened, !a.blocking, on.opensHttps);
    if (!a.noReferer) setHeader("Referer", a.referer.empty() ? target : a.referer);
    setHeader("Content-Type", a.contentType.empty() ? kDefaultContentType : a.contentType);
    setHeader("User-Agent", a.userAgent.empty() ? kDefaultUserAgent : a.userAgent);
    if (!a.ifNoneMatch.empty()) setHeader("If-None-Match", a.ifNoneMatch);
    if (!a.ifModifiedSince.empty()) setHeader("If-Modified-Since", a.ifModifiedSince);

    std::string cookies = a.cookies;
    if (!on.savedCookies.empty() && cookies.empty()) cookies = on.savedCookies;
    if (cookies == "-1") {
        setHeader("Cookie", "");
    } else if (!cookies.empty()) {
        setHeader("Cookie", cookies);
    }

    setTimeouts();

    if (a.proxy && *a.proxy != "-1") {
        std::string proxy = *a.proxy;
        if (proxy == "IE") proxy = SystemProxy();
        on.events.ProcessEvents();
        if (r) r->SetProxy(proxy.empty() ? 0 : 2, proxy, {});
    }
    steps::Send(r, a.postText, a.postBytes);
}

void WebClient::SendFetchBytes(platform::HttpRequest* r, std::string_view url,
                               const RequestArguments& arguments) {
    const RequestArguments& a = arguments;
    const CommonArguments common{a.postText,  a.proxy,       a.blocking,       a.postBytes,
                                 a.referer,   a.cookies,     a.contentType,    a.userAgent,
                                 a.noReferer, a.ifNoneMatch, a.ifModifiedSince};
    const long t = a.timeout;
    SendComposite({r, opensHttps_, *events_, savedCookies_}, url, common, [&] {
        if (t == -1) return;
        if (t < 1) {
            steps::SetTimeouts(r, 10000, 10000, 120000, 60000);
        } else {
            // Seconds to milliseconds, held within what the component takes.
            const long ms = t > 2147483L ? 2147483647L : t * 1000;
            steps::SetTimeouts(r, 10000, 10000, ms, ms);
        }
    });
}

void WebClient::StartFetchBytes(std::string_view url, const RequestArguments& arguments) {
    SendFetchBytes(request_.As<platform::HttpRequest>(), url, arguments);
}

platform::TransferFailure steps::FailureAfterWait(const platform::HttpRequest* r) {
    if (!r) return platform::TransferFailure::NotSent;
    // Still running: the wait for the answer ran out before the transfer's own limits did.
    return r->Pending() ? platform::TransferFailure::TimedOut : r->Failure();
}

// The wait and the cookie step of FetchBytes.
static void AwaitFetch(WebClient& client, const RequestArguments& a, std::string& savedCookies) {
    if (!a.blocking) client.WaitForResponse(steps::FetchBytesWaitSeconds(a.timeout));
    if (a.keepCookies) savedCookies = client.CookieHeader();
}

text::Bytes WebClient::FinishFetchBytes(const RequestArguments& arguments) {
    AwaitFetch(*this, arguments, savedCookies_);
    platform::HttpRequest* r = request_.As<platform::HttpRequest>();
    lastFailure_ = steps::FailureAfterWait(r);
    return r ? r->TakeResponseBody() : text::Bytes();
}

text::Bytes WebClient::FetchBytes(std::string_view url, const RequestArguments& arguments) {
    StartFetchBytes(url, arguments);
    AwaitFetch(*this, arguments, savedCookies_);
    lastFailure_ = steps::FailureAfterWait(request_.As<platform::HttpRequest>());
    return ResponseBody();
}

std::string WebClient::FetchText(std::string_view url, const TextRequestArguments& arguments) {
    const TextRequestArguments& a = arguments;
    const CommonArguments common{a.postText, a.proxy,   a.blocking,    a.postBytes,
                                 a.referer,  a.cookies, a.contentType, a.userAgent};
    const double x = a.timeout;
    const bool keep = std::fabs(x + 1) <= kTolerance;
    const bool belowOne = x - 1 < -kTolerance;
    platform::HttpRequest* const r = request_.As<platform::HttpRequest>();
    SendComposite({r, opensHttps_, *events_, savedCookies_}, url, common, [&] {
        if (keep) return;
        if (belowOne) {
            steps::SetTimeouts(r, 10000, 10000, 120000, 60000);
        } else {
            const double ms = std::trunc(std::fmin(x * 1000, 2147483647.0));
            steps::SetTimeouts(r, 10000, 10000, static_cast<long>(ms), static_cast<long>(ms));
        }
    });
    if (!a.blocking) {
        WaitForResponse(belowOne ? 120 : static_cast<long>(std::trunc(std::fmin(x, 2147483.0))));
    }
    if (a.keepCookies) savedCookies_ = CookieHeader();
    lastFailure_ = steps::FailureAfterWait(r);
    switch (a.selector) {
        case -2:
            return ResponseText();
        case -1:
            return text::TextOf(ResponseBody());
        default:
            return DecodeText({}, a.selector, ResponseBody(), {}).text;
    }
}

}  // namespace zembrat::web
