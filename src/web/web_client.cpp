#include "web/web_client.h"

#include <climits>
#include <variant>

#include "platform/event_points.h"
#include "platform/http_request.h"
#include "web/request_steps.h"

namespace zembrat::web {
namespace {

using platform::HttpRequest;

constexpr char kProbeUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)";
constexpr char kProbeAccept[] =
    "image/gif, image/x-xbitmap, image/jpeg, imagepeg, application/x-shockwave-flash, "
    "application/x-silverlight, */*";

automation::VariantValue FromOption(const platform::OptionValue& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) return automation::VariantValue::Integer(*i);
    if (const auto* b = std::get_if<bool>(&v)) return automation::VariantValue::Boolean(*b);
    if (const auto* t = std::get_if<std::string>(&v)) return automation::VariantValue::Text(*t);
    if (const auto* y = std::get_if<platform::OptionBytes>(&v))
        return automation::VariantValue::Bytes(y->bytes);
    return {};
}

// A variant as the component takes it; std::monostate for kinds it has no use for.
platform::OptionValue ToOption(const automation::VariantValue& v) {
    switch (v.kind()) {
        case automation::VariantKind::Integer:
        case automation::VariantKind::Real:
            return v.AsInteger();
        case automation::VariantKind::Boolean:
            return v.AsBoolean();
        case automation::VariantKind::Text:
            return v.AsText();
        case automation::VariantKind::Bytes:
            return platform::OptionBytes{v.AsBytes()};
        default:
            return std::monostate();
    }
}

// The probe turns redirect following off for its own request only: left off, every later
// FetchBytes of a redirected address would get the redirect instead of the content.
class RedirectsOffForProbe {
  public:
    explicit RedirectsOffForProbe(HttpRequest& r)
        : r_(r), before_(r.Option(platform::kOptionEnableRedirects)) {
        r_.SetOption(platform::kOptionEnableRedirects, false);
    }
    ~RedirectsOffForProbe() { r_.SetOption(platform::kOptionEnableRedirects, before_); }
    RedirectsOffForProbe(const RedirectsOffForProbe&) = delete;
    RedirectsOffForProbe& operator=(const RedirectsOffForProbe&) = delete;

  private:
    HttpRequest& r_;
    platform::OptionValue before_;
};

}  // namespace

std::string WebClient::ProbeRedirect(std::string_view url) {
    HttpRequest* r = request_.As<HttpRequest>();
    if (!r) return {};
    const RedirectsOffForProbe off(*r);
    r->SetTimeouts(5000, 5000, 10000, 5000);
    if (!r->Open("GET", url, false)) return {};
    r->SetRequestHeader("User-Agent", kProbeUserAgent);
    r->SetRequestHeader("Accept-Language", "zh-cn");
    r->SetRequestHeader("Connection", "Keep-Alive");
    r->SetRequestHeader("Accept", kProbeAccept);
    r->Send();
    return r->GetResponseHeader("Location");
}

void WebClient::RecreateRequest() {
    request_.Release();
    CreateRequest();
}

WebClient::WebClient() : events_(&platform::NoEventPoints()) {}

void WebClient::SetEventPoints(platform::EventPoints& events) {
    events_ = &events;
    if (HttpRequest* r = request_.As<HttpRequest>()) r->SetEventPoints(events);
}

void WebClient::SetRefuseHttpsDowngrade(bool refuse) {
    refuseDowngrade_ = refuse;
    if (HttpRequest* r = request_.As<HttpRequest>()) r->SetRefuseHttpsDowngrade(refuse);
}

void WebClient::CreateRequest() {
    request_ = automation::ObjectHolder::Make<HttpRequest>();
    if (HttpRequest* r = request_.As<HttpRequest>()) {
        r->SetEventPoints(*events_);
        r->SetRefuseHttpsDowngrade(refuseDowngrade_);
    }
}

void steps::FixUpUrl(std::string& url, bool opensHttps) {
    const std::string lower = text::AsciiLower(url.substr(0, 8));
    const bool secure = opensHttps && text::StartsWith(lower, "https://");
    if (!secure && !text::StartsWith(lower, "http://")) url = "http://" + url;
}

void steps::Open(HttpRequest* r, std::string_view method, std::string& url, bool async,
                 bool opensHttps) {
    FixUpUrl(url, opensHttps);
    if (r) r->Open(method, url, async);
}

void WebClient::Open(std::string_view method, std::string& url, bool async) {
    steps::Open(request_.As<HttpRequest>(), method, url, async, opensHttps_);
}

automation::ObjectHolder WebClient::RequestObject() const {
    return request_;
}

long WebClient::Status() {
    HttpRequest* r = request_.As<HttpRequest>();
    return r ? r->Status() : 0;
}

std::string WebClient::StatusText() {
    HttpRequest* r = request_.As<HttpRequest>();
    return r ? r->StatusText() : std::string();
}

std::string WebClient::ResponseText() {
    HttpRequest* r = request_.As<HttpRequest>();
    return r ? text::TextOf(r->ResponseText()) : std::string();
}

text::Bytes WebClient::ResponseBody() {
    HttpRequest* r = request_.As<HttpRequest>();
    return r ? r->ResponseBody() : text::Bytes();
}

automation::VariantValue WebClient::ResponseStream() {
    HttpRequest* r = request_.As<HttpRequest>();
    if (!r) return {};
    std::shared_ptr<platform::ByteStream> stream = r->ResponseStream();
    if (!stream) return {};
    return automation::VariantValue::Object(automation::ObjectHolder(std::move(stream)));
}

automation::VariantValue WebClient::Option(int option, const OptionValues& values) {
    HttpRequest* r = request_.As<HttpRequest>();
    if (!r) return {};
    if (values.integer) {
        r->SetOption(option, *values.integer);
    } else if (values.text) {
        r->SetOption(option, *values.text);
    } else if (values.bytes) {
        r->SetOption(option, platform::OptionBytes{*values.bytes});
    } else if (values.variant) {
        r->SetOption(option, ToOption(*values.variant));
    }
    return FromOption(r->Option(option));
}

void WebClient::SetProxy(int setting, std::string_view server, std::string_view bypass) {
    if (HttpRequest* r = request_.As<HttpRequest>()) r->SetProxy(setting, server, bypass);
}

void WebClient::SetCredentials(std::string_view user, std::string_view password, long flags) {
    if (HttpRequest* r = request_.As<HttpRequest>())
        r->SetCredentials(user, password, static_cast<int>(flags));
}

void WebClient::SetRequestHeader(std::string_view name, std::string_view value) {
    if (HttpRequest* r = request_.As<HttpRequest>()) r->SetRequestHeader(name, value);
}

std::string WebClient::GetResponseHeader(std::string_view name) {
    HttpRequest* r = request_.As<HttpRequest>();
    return r ? r->GetResponseHeader(name) : std::string();
}

std::string WebClient::GetAllResponseHeaders() {
    HttpRequest* r = request_.As<HttpRequest>();
    return r ? r->GetAllResponseHeaders() : std::string();
}

void steps::Send(HttpRequest* r, std::string_view bodyText, std::string_view bodyBytes) {
    if (!r) return;
    if (!bodyBytes.empty()) {
        r->SendBytes(bodyBytes);
    } else if (!bodyText.empty()) {
        r->Send(bodyText);
    } else {
        r->Send();
    }
}

void WebClient::Send(std::string_view bodyText, std::string_view bodyBytes) {
    steps::Send(request_.As<HttpRequest>(), bodyText, bodyBytes);
}

bool WebClient::WaitForResponse(long timeoutSeconds) {
    HttpRequest* r = request_.As<HttpRequest>();
    return r && r->WaitForResponse(timeoutSeconds);
}

void WebClient::Abort() {
    if (HttpRequest* r = request_.As<HttpRequest>()) r->Abort();
}

void steps::SetTimeouts(HttpRequest* r, long resolve, long connect, long send, long receive) {
    if (connect < 1) connect = resolve;
    if (send < 1) send = resolve;
    if (receive < 1) receive = resolve;
    if (r) r->SetTimeouts(resolve, connect, send, receive);
}

void WebClient::SetTimeouts(long resolve, long connect, long send, long receive) {
    steps::SetTimeouts(request_.As<HttpRequest>(), resolve, connect, send, receive);
}

void WebClient::SetClientCertificate(std::string_view certificate) {
    if (HttpRequest* r = request_.As<HttpRequest>()) r->SetClientCertificate(certificate);
}

void WebClient::SetAutoLogonPolicy(long policy) {
    if (policy < INT_MIN || policy > INT_MAX) return;
    if (HttpRequest* r = request_.As<HttpRequest>())
        r->SetAutoLogonPolicy(static_cast<int>(policy));
}

std::string WebClient::ProbeRedirect(std::string_view url, bool blocking) {
    HttpRequest* r = request_.As<HttpRequest>();
    if (!r) return {};
    const RedirectsOffForProbe off(*r);
    Option(platform::kOptionEnableRedirects, {.integer = 0}).Clear();
    SetTimeouts(5000, 5000, 10000, 5000);
    std::string target(url);
    Open("GET", target, !blocking);
    SetRequestHeader("User-Agent", kProbeUserAgent);
    SetRequestHeader("Accept-Language", "zh-cn");
    SetRequestHeader("Connection", "Keep-Alive");
    SetRequestHeader("Accept", kProbeAccept);
    Send();
    if (!blocking) WaitForResponse(25);
    return GetResponseHeader("Location");
}

void WebClient::ResetClient() {
    RecreateRequest();
    ClearCookies();
}

}  // namespace zembrat::web
