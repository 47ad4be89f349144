// WebClient: the program's one web-access object, over one HTTP request component.
//
// The thin operations pass straight through to the component's members; FetchBytes and
// FetchText build a whole request (headers, time-outs, cookies, proxy) on top of them. Texts in
// and out are GBK. Nothing reports an error: a client whose component could not be created, or
// a member call that fails, gives the empty value of its result (empty text or bytes, 0, false,
// an empty variant or holder).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "automation/object_holder.h"
#include "automation/variant_value.h"
#include "platform/http_request_failure.h"
#include "text/gbk.h"

namespace zembrat::platform {
class EventPoints;
class HttpRequest;
}  // namespace zembrat::platform

namespace zembrat::web {

// The optional arguments of FetchBytes, in their call order after the URL. Each may be left
// out; a left-out argument acts as its empty value, except the proxy, where "left out" and
// "given as empty text" differ.
struct RequestArguments {
    std::string postText{};              // 1: request body as text
    long timeout = 0;                    // 2: seconds; -1 keeps the component's time-outs,
                                         //    below 1 the default ones, else send and receive
    std::optional<std::string> proxy{};  // 3: proxy server; "IE" the system's; "-1" as left out;
                                         //    empty text the component's default setting
    bool blocking = false;               // 4: synchronous open, no WaitForResponse
    text::Bytes postBytes{};             // 5: request body as bytes; wins over postText
    std::string referer{};               // 6: "Referer"; empty: the request's own URL
    std::string cookies{};               // 7: "Cookie"; empty: SavedCookies; "-1": sent empty
    bool keepCookies = false;            // 8: afterwards SavedCookies := CookieHeader()
    std::string contentType{};           // 9: "Content-Type"; empty: form-urlencoded
    std::string userAgent{};             // 10: "User-Agent"; empty: the default one
    // Not one of the call's arguments: no "Referer" header at all (the hotlink-safe identity).
    bool noReferer = false;
    // Not one of the call's arguments either: a conditional request ("If-None-Match",
    // "If-Modified-Since"), each header sent only when its value is not empty.
    std::string ifNoneMatch{};
    std::string ifModifiedSince{};
};

// The arguments of FetchText after the URL: the post text, the decoding selector, the timeout
// as a real number of seconds, then arguments 3 to 10 of RequestArguments.
struct TextRequestArguments {
    std::string postText{};
    int selector = 0;  // -2: the component's ResponseText; -1: the body up to its first zero
                       // byte; otherwise DecodeText's selector
    double timeout = 0;
    std::optional<std::string> proxy{};
    bool blocking = false;
    text::Bytes postBytes{};
    std::string referer{};
    std::string cookies{};
    bool keepCookies = false;
    std::string contentType{};
    std::string userAgent{};
};

// The values Option can write; the first one given, in this order, is written.
struct OptionValues {
    std::optional<std::int64_t> integer{};
    std::optional<std::string> text{};
    std::optional<text::Bytes> bytes{};
    std::optional<automation::VariantValue> variant{};
};

inline constexpr char kDefaultUserAgent[] =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)";
inline constexpr char kDefaultContentType[] = "application/x-www-form-urlencoded";

class WebClient {
  public:
    // With no component: CreateRequest makes one.
    WebClient();
    // Copies share the component (one more reference) and copy SavedCookies.
    WebClient(const WebClient&) = default;
    WebClient& operator=(const WebClient&) = default;
    ~WebClient() = default;

    // Asks where url redirects to without following it; the URL is used as given. Empty when
    // there is no "Location" header or anything failed. Both forms turn redirect following
    // off for their own request only and leave the component's option as it was.
    std::string ProbeRedirect(std::string_view url);
    void RecreateRequest();
    void CreateRequest();

    // Puts "http://" in front of url unless it already starts with it (ASCII case ignored);
    // url receives the result. Then opens the component's request.
    void Open(std::string_view method, std::string& url, bool async = false);
    void Open(std::string& url) { Open("GET", url); }
    automation::ObjectHolder RequestObject() const;
    long Status();
    std::string StatusText();
    std::string ResponseText();
    text::Bytes ResponseBody();
    automation::VariantValue ResponseStream();
    // Writes the option when a value is given, then reads it back.
    automation::VariantValue Option(int option, const OptionValues& values = {});
    void SetProxy(int setting, std::string_view server, std::string_view bypass = {});
    void SetProxy(std::string_view server) { SetProxy(2, server); }
    void SetCredentials(std::string_view user, std::string_view password, long flags = 0);
    void SetRequestHeader(std::string_view name, std::string_view value);
    std::string GetResponseHeader(std::string_view name);
    std::string GetAllResponseHeaders();
    // Bytes when there are any, else the text when there is any, else no body.
    void Send(std::string_view bodyText = {}, std::string_view bodyBytes = {});
    bool WaitForResponse(long timeoutSeconds);
    void Abort();
    // Milliseconds; connect, send and receive below 1 (or left out) take the resolve value.
    void SetTimeouts(long resolve, long connect = 0, long send = 0, long receive = 0);
    void SetClientCertificate(std::string_view certificate);
    void SetAutoLogonPolicy(long policy);

    // The value of one cookie set by the last response: the text after "name=" up to the next
    // ";" of its "Set-Cookie" line.
    std::string CookieValue(std::string_view name);
    // The last response's "Set-Cookie:" lines, each ended by CR LF.
    std::string SetCookieLines();
    std::string FetchText(std::string_view url, const TextRequestArguments& arguments = {});
    text::Bytes FetchBytes(std::string_view url, const RequestArguments& arguments = {});
    // FetchBytes in two halves, for a caller with work to do while the answer travels: the first
    // sends the request (and returns at once unless it is blocking), the second waits for the
    // answer as FetchBytes does and hands its body over; the response keeps no body afterwards.
    void StartFetchBytes(std::string_view url, const RequestArguments& arguments = {});
    text::Bytes FinishFetchBytes(const RequestArguments& arguments = {});
    void ClearCookies() { savedCookies_.clear(); }
    // Why the last FetchBytes, FinishFetchBytes or FetchText got no answer: None when one came
    // (of any status), TimedOut when its wait ran out, Stopped when a stop abandoned it, NotSent
    // when it never went out (no component, an unsafe address).
    platform::TransferFailure LastFailure() const { return lastFailure_; }
    // The redirect probe built from the operations above, with the URL fix-up; not blocking, it
    // opens asynchronously and waits up to 25 s.
    std::string ProbeRedirect(std::string_view url, bool blocking);
    // A fresh component and no saved cookies.
    void ResetClient();
    // The last response's cookies as one "Cookie" header value ("a=1; path=/; b=2; ").
    std::string CookieHeader();

    const std::string& SavedCookies() const { return savedCookies_; }

    // Where the client's waits let the window live (and see a stop); kept for the components
    // it makes later. Without a call, the shared object that does nothing.
    void SetEventPoints(platform::EventPoints& events);
    platform::EventPoints& events() const { return *events_; }
    // Whether a redirect from an https address to an http one is refused (off by default);
    // kept for the components it makes later.
    void SetRefuseHttpsDowngrade(bool refuse);
    // Whether Open takes an "https://" address as it is (the https images option) instead of
    // putting "http://" in front of it; off by default.
    void SetOpensHttps(bool opens) { opensHttps_ = opens; }

  private:
    // FetchGroup sends the requests of FetchBytes on the components of its pool.
    friend class FetchGroup;
    // Steps 1 to 10 of FetchBytes, on request r (null: nothing is sent).
    void SendFetchBytes(platform::HttpRequest* r, std::string_view url,
                        const RequestArguments& arguments);

    automation::ObjectHolder request_;
    platform::EventPoints* events_;
    bool refuseDowngrade_ = false;
    bool opensHttps_ = false;
    std::string savedCookies_;
    platform::TransferFailure lastFailure_ = platform::TransferFailure::None;
};

// The text of source from just after the first startMarker up to the first endMarker after
// it (both case-sensitive); empty when either is missing.
std::string TextBetween(std::string_view source, std::string_view startMarker,
                        std::string_view endMarker);

// The proxy configured for the user: the http_proxy environment variable, else HTTP_PROXY;
// empty when neither is set.
std::string SystemProxy();

}  // namespace zembrat::web
