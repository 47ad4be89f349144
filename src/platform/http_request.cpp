#include "platform/http_request.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <thread>

#include "platform/curl_global.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "platform/http_request_parts.h"
#include "platform/http_request_state.h"
#include "platform/http_text.h"
#include "text/codec.h"

namespace zembrat::platform {
using namespace http_detail;
namespace {

// Parses the URL into u, which the transfer then uses as it is (no second parse), and gives its
// host; false when curl cannot parse it.
bool ParseUrl(CURLU* u, const std::string& wireUrl, std::string& host) {
    if (!u) return false;
    bool ok = curl_url_set(u, CURLUPART_URL, wireUrl.c_str(), 0) == CURLUE_OK;
    char* part = nullptr;
    if (ok && curl_url_get(u, CURLUPART_HOST, &part, 0) == CURLUE_OK) {
        host = part;
        curl_free(part);
    } else {
        ok = false;
    }
    return ok;
}

}  // namespace

text::Bytes ByteStream::Read(std::size_t count) {
    const std::size_t n = std::min(count, bytes_.size() - position_);
    text::Bytes out = bytes_.substr(position_, n);
    position_ += n;
    return out;
}

bool ByteStream::Seek(std::size_t position) {
    if (position > bytes_.size()) return false;
    position_ = position;
    return true;
}
HttpTransferGroup::HttpTransferGroup(long maxHostConnections, long keptConnections,
                                     std::uint64_t bodyBudget)
    : loop_(std::make_unique<http_detail::TransferLoop>(maxHostConnections, keptConnections, true,
                                                        true, bodyBudget)) {}

HttpTransferGroup::~HttpTransferGroup() = default;

bool HttpTransferGroup::ok() const {
    return loop_->ok();
}

void HttpTransferGroup::Perform() {
    if (loop_->ok()) loop_->Perform();
}

void HttpTransferGroup::Poll(std::chrono::milliseconds limit) {
    if (loop_->ok()) {
        loop_->Poll(limit);
    } else {
        std::this_thread::sleep_for(limit);  // still a wait, as the caller's retry pause needs
    }
}

std::vector<HttpRequest*> HttpTransferGroup::TakeEnded() {
    return loop_->TakeEnded();
}

std::size_t HttpTransferGroup::Running() const {
    return loop_->Running();
}

HttpRequest::HttpRequest(std::uint64_t bodyLimit) : s_(std::make_unique<State>(*this)) {
    s_->ownLoop = std::make_unique<TransferLoop>(0, 0, false, false);
    s_->loop = s_->ownLoop.get();
    s_->bodyLimit = bodyLimit;
    if (InitCurlOnce()) {
        s_->easy = curl_easy_init();
        s_->parsedUrl = curl_url();
        if (s_->easy && !s_->SetUpHandle()) {
            curl_easy_cleanup(s_->easy);
            s_->easy = nullptr;
        }
    }
}

HttpRequest::HttpRequest(HttpTransferGroup& group, std::uint64_t bodyLimit)
    : s_(std::make_unique<State>(*this)) {
    s_->loop = group.loop_.get();
    s_->bodyLimit = bodyLimit;
    if (InitCurlOnce() && s_->loop->ok()) {
        s_->easy = curl_easy_init();
        s_->parsedUrl = curl_url();
        // The group's cookie jar takes the place of the handle's own.
        if (s_->easy &&
            (!s_->SetUpHandle() ||
             curl_easy_setopt(s_->easy, CURLOPT_SHARE, s_->loop->cookieShare()) != CURLE_OK)) {
            curl_easy_cleanup(s_->easy);
            s_->easy = nullptr;
        }
    }
}

HttpRequest::~HttpRequest() {
    s_->Abort();
    s_->loop->Forget(*s_);
    s_->FreeHeaderList();
    if (s_->easy) curl_easy_cleanup(s_->easy);
    curl_url_cleanup(s_->parsedUrl);
}

void HttpRequest::SetEventPoints(EventPoints& points) {
    s_->points = &points;
}

bool HttpRequest::Open(std::string_view method, std::string_view url, bool async) {
    State& s = *s_;
    s.Abort();
    s.ClearResponse();
    s.ClearRequest();
    s.failure = TransferFailure::NotSent;  // until the request is open
    s.phase = State::Phase::Closed;
    if (!s.easy || !s.loop->ok()) return false;
    if (!IsToken(method) || HasControlCharacter(url)) return false;
    const std::string lower = text::AsciiLower(url.substr(0, 8));
    if (!lower.starts_with("http://") && !lower.starts_with("https://")) return false;
    const std::string wire = WireUrl(url);
    std::string host;
    if (!ParseUrl(s.parsedUrl, wire, host)) return false;
    s.method = method;
    s.url = url;
    s.wireUrl = wire;
    s.scheme = lower.starts_with("https") ? "https" : "http";
    s.host = host;
    s.async = async;
    s.phase = State::Phase::Opened;
    s.failure = TransferFailure::None;
    return true;
}

bool HttpRequest::SetRequestHeader(std::string_view name, std::string_view value) {
    State& s = *s_;
    if (s.phase != State::Phase::Opened) return false;
    if (!IsToken(name) || HasControlCharacter(value)) {
        // An unsafe header is never sent, and neither is the request it belongs to.
        s.refused = true;
        return false;
    }
    for (auto& [n, v] : s.headers) {
        if (text::EqualsNoCase(n, name)) {
            v = value;
            return true;
        }
    }
    s.headers.emplace_back(name, value);
    return true;
}

bool HttpRequest::SetTimeouts(long resolveMs, long connectMs, long sendMs, long receiveMs) {
    if (resolveMs < -1 || connectMs < -1 || sendMs < -1 || receiveMs < -1) return false;
    s_->resolveMs = resolveMs;
    s_->connectMs = connectMs;
    s_->sendMs = sendMs;
    s_->receiveMs = receiveMs;
    return true;
}

HttpRequest::Timeouts HttpRequest::CurrentTimeouts() const {
    return {s_->resolveMs, s_->connectMs, s_->sendMs, s_->receiveMs};
}

bool HttpRequest::SetProxy(int setting, std::string_view server, std::string_view bypass) {
    if (setting != kProxyDefault && setting != kProxyDirect && setting != kProxyNamed) return false;
    if (HasControlCharacter(server) || HasControlCharacter(bypass)) return false;
    s_->proxySetting = setting;
    s_->proxyServer = setting == kProxyNamed ? TrimWhitespace(server) : std::string();
    s_->proxyBypass = setting == kProxyNamed ? std::string(bypass) : std::string();
    return true;
}

bool HttpRequest::SetCredentials(std::string_view user, std::string_view password, int flags) {
    State& s = *s_;
    if (s.phase != State::Phase::Opened) return false;
    if (HasControlCharacter(user) || HasControlCharacter(password)) return false;
    if (flags == kCredentialsForServer) {
        s.serverCredentials = true;
        s.user = user;
        s.password = password;
    } else if (flags == kCredentialsForProxy) {
        s.proxyCredentials = true;
        s.proxyUser = user;
        s.proxyPassword = password;
    } else {
        return false;
    }
    return true;
}

bool HttpRequest::SetClientCertificate(std::string_view certificate) {
    if (!certificate.empty() && (!PathExists(certificate) || IsFolder(certificate))) return false;
    s_->clientCertificate = certificate;
    return true;
}

bool HttpRequest::SetAutoLogonPolicy(int policy) {
    if (policy != kAutoLogonAlways && policy != kAutoLogonOnlyIfBypassProxy &&
        policy != kAutoLogonNever)
        return false;
    s_->autoLogon = policy;
    return true;
}

bool HttpRequest::Send() {
    return s_->Start({}, false);
}

bool HttpRequest::Send(std::string_view bodyText) {
    std::string encoded;
    if (!bodyText.empty()) {
        const std::string* type = s_->FindHeader("Content-Type");
        const std::string charset = type ? CharsetOf(*type) : std::string();
        if (IsGbkFamily(charset)) {
            encoded = bodyText;
        } else if (auto converted =
                       charset.empty() || charset == "utf-8"
                           ? std::optional<std::string>()
                           : text::ConvertStrict(bodyText, text::kGbkCharset, charset.c_str())) {
            encoded = std::move(*converted);
        } else {
            encoded = text::Utf8FromGbk(bodyText);
        }
    }
    return s_->Start(encoded, true);
}

bool HttpRequest::SendBytes(std::string_view bodyBytes) {
    return s_->Start(bodyBytes, false);
}

bool HttpRequest::WaitForResponse(long timeoutSeconds) {
    State& s = *s_;
    if (s.phase == State::Phase::Running) {
        std::optional<Clock::time_point> deadline;
        if (timeoutSeconds >= 0) deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
        s.Drive(deadline);
    }
    return s.phase == State::Phase::Done;
}

void HttpRequest::Abort() {
    s_->Abort();
}

long HttpRequest::Status() const {
    return s_->phase == State::Phase::Done ? s_->status : 0;
}

std::string HttpRequest::StatusText() const {
    return s_->phase == State::Phase::Done ? s_->statusText : std::string();
}

std::string HttpRequest::GetResponseHeader(std::string_view name) const {
    if (s_->phase != State::Phase::Done) return {};
    for (const std::string& line : s_->headerLines) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        if (text::EqualsNoCase(TrimWhitespace(line.substr(0, colon)), name))
            return TrimWhitespace(line.substr(colon + 1));
    }
    return {};
}

std::string HttpRequest::GetAllResponseHeaders() const {
    if (s_->phase != State::Phase::Done) return {};
    std::string all;
    for (const std::string& line : s_->headerLines) {
        all += line;
        all += "\r\n";
    }
    return all;
}

std::string HttpRequest::ResponseText() const {
    if (s_->phase != State::Phase::Done) return {};
    const text::Bytes& body = s_->body;
    const std::string charset = CharsetOf(GetResponseHeader("Content-Type"));
    if (IsGbkFamily(charset)) return body;
    if (auto converted = text::ConvertStrict(body, charset.empty() ? "UTF-8" : charset.c_str(),
                                             text::kGbkCharset))
        return *converted;
    if (charset == "utf-8") return text::GbkFromUtf8(body);
    return body;
}

text::Bytes HttpRequest::TakeResponseBody() {
    return s_->phase == State::Phase::Done ? std::exchange(s_->body, {}) : text::Bytes();
}

void HttpRequest::SetRefuseHttpsDowngrade(bool refuse) {
    s_->refuseHttpsDowngrade = refuse;
}

void HttpRequest::AdoptSettings(const HttpRequest& other) {
    static_cast<Settings&>(*s_) = static_cast<const Settings&>(*other.s_);
    s_->refuseHttpsDowngrade = other.s_->refuseHttpsDowngrade;
}

void HttpRequest::AbandonAfter(long seconds) {
    State& s = *s_;
    if (s.phase != State::Phase::Running) return;
    if (seconds < 0) {
        s.abandonAt.reset();
    } else {
        s.abandonAt = Clock::now() + std::chrono::seconds(seconds);
    }
}

text::Bytes HttpRequest::ResponseBody() const {
    return s_->phase == State::Phase::Done ? s_->body : text::Bytes();
}

std::shared_ptr<ByteStream> HttpRequest::ResponseStream() const {
    if (s_->phase != State::Phase::Done) return nullptr;
    return std::make_shared<ByteStream>(s_->body);
}

OptionValue HttpRequest::Option(int option) const {
    switch (option) {
        case kOptionUserAgent:
            return s_->userAgent;
        case kOptionUrl:
            if (s_->url.empty()) return std::monostate();
            return s_->url;
        case kOptionEnableRedirects:
            return s_->followRedirects;
        default:
            return std::monostate();
    }
}

bool HttpRequest::SetOption(int option, const OptionValue& value) {
    State& s = *s_;
    switch (option) {
        case kOptionUserAgent:
            if (const auto* t = std::get_if<std::string>(&value)) {
                if (HasControlCharacter(*t)) return false;
                s.userAgent = *t;
            } else if (const auto* i = std::get_if<std::int64_t>(&value)) {
                s.userAgent = std::to_string(*i);
            } else if (const auto* b = std::get_if<bool>(&value)) {
                s.userAgent = *b ? "True" : "False";
            } else {
                return false;
            }
            return true;
        case kOptionEnableRedirects:
            if (const auto* b = std::get_if<bool>(&value)) {
                s.followRedirects = *b;
            } else if (const auto* i = std::get_if<std::int64_t>(&value)) {
                s.followRedirects = *i != 0;
            } else if (const auto* t = std::get_if<std::string>(&value)) {
                const std::string v = text::AsciiLower(TrimWhitespace(*t));
                if (v == "true") {
                    s.followRedirects = true;
                } else if (v == "false") {
                    s.followRedirects = false;
                } else if (!v.empty() && v.find_first_not_of("-0123456789") == std::string::npos) {
                    s.followRedirects = std::strtoll(v.c_str(), nullptr, 10) != 0;
                } else {
                    return false;
                }
            } else {
                return false;
            }
            return true;
        default:
            return false;  // unknown, or read only (the URL)
    }
}

bool HttpRequest::Pending() const {
    return s_->phase == State::Phase::Running;
}

TransferFailure HttpRequest::Failure() const {
    return s_->failure;
}

}  // namespace zembrat::platform
