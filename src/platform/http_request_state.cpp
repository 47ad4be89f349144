#include "platform/http_request_state.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <utility>

#include "platform/files.h"
#include "platform/http_curl_failure.h"
#include "platform/http_proxy.h"
#include "platform/http_text.h"
#include "text/codec.h"

namespace zembrat::platform {
using namespace http_detail;
namespace {

using Ms = std::chrono::milliseconds;

constexpr Ms kPaintInterval{25};

// curl has no "no limit" for the connect phase (0 means its built-in 300 s), so a limit of
// about 24 days stands for none.
constexpr long kNoLimitMs = INT_MAX;

// An HTTP/2 header line's name as HTTP/1.1 writes it: each word capitalised ("set-cookie" to
// "Set-Cookie"), as the callers look for names written so.
void HttpOneCase(std::string& line) {
    bool wordStart = true;
    for (char& c : line) {
        if (c == ':') break;
        if (wordStart && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        wordStart = c == '-';
    }
}

}  // namespace

size_t HttpRequest::State::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* s = static_cast<State*>(self);
    const std::string_view line(data, size * count);
    s->lastActivity = Clock::now();
    if (line.starts_with("HTTP/")) {
        // A new response (after a redirect or an interim 1xx): only the last one counts.
        s->headerLines.clear();
        s->overHttp2 = line.starts_with("HTTP/2");
        const auto first = line.find(' ');
        const auto second = first == std::string_view::npos ? first : line.find(' ', first + 1);
        s->hopStatus =
            first == std::string_view::npos
                ? 0
                : std::strtol(std::string(line.substr(first + 1, 3)).c_str(), nullptr, 10);
        s->statusText = second == std::string_view::npos ? std::string()
                                                         : TrimWhitespace(line.substr(second + 1));
        return line.size();
    }
    std::string_view content = line;
    while (!content.empty() && (content.back() == '\n' || content.back() == '\r'))
        content.remove_suffix(1);
    if (!content.empty()) {
        std::string& kept = s->headerLines.emplace_back(content);
        if (s->overHttp2) HttpOneCase(kept);
    }
    if (s->hopStatus >= 300 && s->hopStatus < 400 && s->followRedirects) s->NoteLocation(content);
    return line.size();
}

void HttpRequest::State::NoteLocation(std::string_view headerLine) {
    const auto colon = headerLine.find(':');
    if (colon == std::string_view::npos ||
        !text::EqualsNoCase(TrimWhitespace(headerLine.substr(0, colon)), "Location"))
        return;
    const std::string target =
        text::AsciiLower(TrimWhitespace(headerLine.substr(colon + 1)).substr(0, 6));
    if (target.starts_with("https:")) {
        redirectSecure = true;
    } else if (target.starts_with("http:")) {
        redirectSecure = false;
    } else {
        redirectSecure = hopSecure;
    }
}

size_t HttpRequest::State::OnBody(char* data, size_t size, size_t count, void* self) {
    auto* s = static_cast<State*>(self);
    const size_t n = size * count;
    s->lastActivity = Clock::now();
    const std::uint64_t limit = s->BodyLimitNow();
    if (s->body.size() + n > limit) {
        s->bodyTooLarge = true;
        return 0;  // anything but n fails the transfer
    }
    if (s->body.size() + n > s->body.capacity() && !s->GrowBody(s->body.size() + n, limit)) {
        s->bodyTooLarge = true;
        return 0;
    }
    s->body.append(data, n);
    return n;
}

bool HttpRequest::State::GrowBody(std::uint64_t needed, std::uint64_t limit) {
    const std::uint64_t held = body.capacity();
    std::uint64_t capacity = std::min(limit, std::max<std::uint64_t>(needed, 2 * held));
    // While the bytes move, the old block and the new one are both held: past the share every
    // body may always reach, the two together stay within what the group's budget leaves it.
    const std::uint64_t shared = loop->BodyLimit(*this, UINT64_MAX);
    if (held > TransferLoop::kBodyGuarantee && capacity + held > shared) {
        capacity = shared > held ? shared - held : 0;
        if (capacity < needed) return false;
    }
    text::Bytes grown;
    grown.reserve(capacity);
    grown.append(body);
    body.swap(grown);
    loop->NoteBodyHeld(*this, body.capacity());
    return true;
}

int HttpRequest::State::OnProgress(void* self, curl_off_t /*dlTotal*/, curl_off_t dlNow,
                                   curl_off_t ulTotal, curl_off_t ulNow) {
    auto* s = static_cast<State*>(self);
    if (dlNow != s->lastDown || ulNow != s->lastUp) {
        s->lastDown = dlNow;
        s->lastUp = ulNow;
        s->lastActivity = Clock::now();
    }
    if (ulTotal > 0 && ulNow >= ulTotal) s->uploading = false;
    return 0;
}

int HttpRequest::State::OnRequestStart(void* self, char*, char*, int, int) {
    auto* s = static_cast<State*>(self);
    s->requestSent = true;
    s->uploading = !s->postBody.empty();
    s->lastUp = s->lastDown = 0;
    s->lastActivity = Clock::now();
    // Each hop of a redirect chain comes here before its request goes out (and a request
    // sent again on a fresh connection comes again, to the same address). The scheme is
    // the program's own record: curl's effective URL still names the handle's previous
    // transfer at the first hop.
    if (s->redirectSecure) s->hopSecure = *std::exchange(s->redirectSecure, std::nullopt);
    if (s->hopSecure) {
        s->onHttps = true;
    } else if (s->onHttps && s->refuseHttpsDowngrade) {
        s->downgradeRefused = true;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}

void HttpRequest::State::FreeHeaderList() {
    curl_slist_free_all(headerList);
    headerList = nullptr;
}

bool HttpRequest::State::AddHeader(const std::string& line) {
    curl_slist* next = curl_slist_append(headerList, line.c_str());
    if (!next) return false;
    headerList = next;
    return true;
}

bool HttpRequest::State::Configure(bool hasBody, bool textBody) {
    FreeHeaderList();
    const char* const none = nullptr;
    bool ok = Set(CURLOPT_CURLU, parsedUrl);

    // Certificates are always verified, against the bundle the environment names if any.
    const bool http2 = loop->multiplex() && scheme == "https";
    const char* bundle = std::getenv("SSL_CERT_FILE");
    if (!bundle || !*bundle) bundle = std::getenv("CURL_CA_BUNDLE");
    if (bundle && *bundle) ok = ok && Set(CURLOPT_CAINFO, bundle);
    ok = ok && Set(CURLOPT_SSL_VERIFYPEER, 1L) && Set(CURLOPT_SSL_VERIFYHOST, 2L) &&
         Set(CURLOPT_SSLCERTTYPE, "PEM") && Set(CURLOPT_PROTOCOLS_STR, "http,https") &&
         // HTTP/2 only where the group offers it, and then only to https addresses (ALPN); every
         // other request speaks HTTP/1.1 and never waits for another's connection.
         Set(CURLOPT_HTTP_VERSION,
             static_cast<long>(http2 ? CURL_HTTP_VERSION_2TLS : CURL_HTTP_VERSION_1_1)) &&
         Set(CURLOPT_PIPEWAIT, http2 ? 1L : 0L) && Set(CURLOPT_NOSIGNAL, 1L) &&
         Set(CURLOPT_HEADERFUNCTION, &State::OnHeader) && Set(CURLOPT_HEADERDATA, this) &&
         Set(CURLOPT_WRITEFUNCTION, &State::OnBody) && Set(CURLOPT_WRITEDATA, this) &&
         Set(CURLOPT_NOPROGRESS, 0L) && Set(CURLOPT_XFERINFOFUNCTION, &State::OnProgress) &&
         Set(CURLOPT_XFERINFODATA, this) && Set(CURLOPT_PREREQFUNCTION, &State::OnRequestStart) &&
         Set(CURLOPT_PREREQDATA, this) && Set(CURLOPT_ERRORBUFFER, static_cast<char*>(errorText));

    // The body limit against what the answer declares; what comes is checked as it comes.
    ok = ok && Set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(bodyLimit));

    // Redirects. A transfer that starts at an https address may be told to stay on https;
    // a chain that reaches https later is held there by OnRequestStart.
    ok = ok && Set(CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L) &&
         Set(CURLOPT_MAXREDIRS, kMaxRedirects) &&
         Set(CURLOPT_REDIR_PROTOCOLS_STR,
             refuseHttpsDowngrade && scheme == "https" ? "https" : "http,https");

    // Time-outs. curl resolves the name inside its connect phase and has one limit for
    // both, so resolve + connect become that limit. Send and receive have no curl
    // counterpart; the wait loop enforces them as the longest pause while the request
    // goes out (send) and while the response comes in (receive).
    const long connectLimit =
        connectMs > 0 ? std::min<long>(kNoLimitMs, (resolveMs > 0 ? resolveMs : 0) + connectMs)
                      : kNoLimitMs;
    ok = ok && Set(CURLOPT_CONNECTTIMEOUT_MS, connectLimit);

    // Proxy. The default setting leaves both the proxy and its exceptions unset, so curl
    // takes them from the environment; a named proxy (or a direct connection) is set
    // outright, and the environment's no_proxy then has no say.
    const bool fromEnvironment = proxySetting == kProxyDefault;
    const std::string proxy = ChosenProxy(*this, scheme, host);
    viaProxy = fromEnvironment ? EnvironmentProxies(scheme, host) : !proxy.empty();
    const bool toProxy = proxyCredentials && (fromEnvironment || !proxy.empty());
    const std::string pu = toProxy ? text::Utf8FromGbk(proxyUser) : std::string();
    const std::string pp = toProxy ? text::Utf8FromGbk(proxyPassword) : std::string();
    ok = ok && Set(CURLOPT_PROXY, fromEnvironment ? none : proxy.c_str()) &&
         Set(CURLOPT_NOPROXY, fromEnvironment ? none : "") &&
         Set(CURLOPT_PROXYUSERNAME, toProxy ? pu.c_str() : none) &&
         Set(CURLOPT_PROXYPASSWORD, toProxy ? pp.c_str() : none) &&
         Set(CURLOPT_PROXYAUTH, static_cast<long>(toProxy ? CURLAUTH_ANY : CURLAUTH_BASIC));

    // Server sign-on: the credentials given, or else the login's own (SPNEGO) where the
    // auto-logon policy allows it. curl answers challenges; it sends nothing up front.
    const bool autoLogon = !serverCredentials && AutoLogonAllowed(*this, proxy, host);
    if (serverCredentials) {
        const std::string u = text::Utf8FromGbk(user);
        const std::string p = text::Utf8FromGbk(password);
        ok = ok && Set(CURLOPT_USERNAME, u.c_str()) && Set(CURLOPT_PASSWORD, p.c_str()) &&
             Set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
    } else if (autoLogon) {
        ok = ok && Set(CURLOPT_USERPWD, ":") &&
             Set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NEGOTIATE));
    } else {
        ok = ok && Set(CURLOPT_USERNAME, none) && Set(CURLOPT_PASSWORD, none) &&
             Set(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
    const std::string certificate =
        clientCertificate.empty() ? std::string() : NativePath(clientCertificate).string();
    const char* cert = certificate.empty() ? none : certificate.c_str();
    ok = ok && Set(CURLOPT_SSLCERT, cert) && Set(CURLOPT_SSLKEY, cert);

    // Method and body, from a plain GET on.
    ok = ok && Set(CURLOPT_NOBODY, 0L) && Set(CURLOPT_CUSTOMREQUEST, none) &&
         Set(CURLOPT_HTTPGET, 1L);
    if (method == "HEAD") {
        ok = ok && Set(CURLOPT_NOBODY, 1L);
    } else if (method == "POST" || hasBody) {
        ok = ok && Set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postBody.size())) &&
             Set(CURLOPT_POSTFIELDS, postBody.data());
        if (method != "POST") ok = ok && Set(CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method != "GET") {
        ok = ok && Set(CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    // Headers: the caller's, in the order set, then the removal of curl's own extras.
    for (const auto& [name, value] : headers) {
        // "Name;" is curl's way of sending a header with an empty value.
        ok = ok && AddHeader(value.empty() ? name + ";" : name + ": " + value);
    }
    if (!FindHeader("Accept")) ok = ok && AddHeader("Accept:");
    if (!FindHeader("Expect")) ok = ok && AddHeader("Expect:");
    if (!FindHeader("Content-Type") && (hasBody || method == "POST")) {
        ok =
            ok && AddHeader(textBody ? "Content-Type: text/plain; Charset=UTF-8" : "Content-Type:");
    }
    const bool ownAgent = !FindHeader("User-Agent") && !userAgent.empty();
    ok = ok && Set(CURLOPT_USERAGENT, ownAgent ? userAgent.c_str() : none);
    ok = ok && Set(CURLOPT_HTTPHEADER, headerList);
    return ok;
}

bool HttpRequest::State::Start(std::string_view bodyBytes, bool textBody) {
    if (phase != Phase::Opened) return false;
    failure = TransferFailure::NotSent;
    if (refused) {
        phase = Phase::Failed;
        return false;
    }
    postBody.assign(bodyBytes);
    const bool hasBody = !postBody.empty();
    if (!Configure(hasBody, textBody && hasBody)) {
        FreeHeaderList();
        phase = Phase::Failed;
        return false;
    }
    if (FindHeader("Cookie")) cookies.Stash(easy, loop->cookieShare());
    requestSent = uploading = bodyTooLarge = downgradeRefused = onHttps = overHttp2 = false;
    hopSecure = scheme == "https";
    redirectSecure.reset();
    hopStatus = 0;
    errorText[0] = '\0';
    lastUp = lastDown = 0;
    lastActivity = Clock::now();
    abandonAt.reset();
    ClearResponse();
    if (!loop->Add(easy, *this)) {
        cookies.Restore(easy, loop->cookieShare());
        FreeHeaderList();
        phase = Phase::Failed;
        return false;
    }
    failure = TransferFailure::None;
    phase = Phase::Running;
    if (async) {
        // A group's member leaves the driving to the group, which starts many at a time.
        if (ownLoop) loop->Perform();
        return true;
    }
    Drive(std::nullopt);
    return phase == Phase::Done;
}

void HttpRequest::State::Finish(CURLcode result) {
    loop->Remove(easy, *this);
    cookies.Restore(easy, loop->cookieShare());
    FreeHeaderList();
    if (bodyTooLarge) {
        failure = TransferFailure::TooLarge;
    } else if (downgradeRefused) {
        failure = TransferFailure::RedirectRefused;
    } else {
        failure = FailureOf(result, easy, redirectSecure.has_value(), errorText, viaProxy);
    }
    if (failure == TransferFailure::None) {
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        phase = Phase::Done;
    } else {
        ClearResponse();
        phase = Phase::Failed;
    }
    loop->NoteEnded(*this);
}

void HttpRequest::State::TransferDone(CURLcode result) {
    if (phase == Phase::Running) Finish(result);
}

void HttpRequest::State::EndIfPastLimit(Clock::time_point now) {
    if (phase != Phase::Running) return;
    const long pauseLimit = PauseLimitMs();
    if ((pauseLimit > 0 && now - lastActivity >= Ms(pauseLimit)) ||
        (abandonAt && now >= *abandonAt)) {
        Finish(CURLE_OPERATION_TIMEDOUT);
    }
    // A body keeps what it holds however many transfers start beside it: the shared budget
    // only refuses it more.
}

std::optional<Clock::time_point> HttpRequest::State::NextLimit() const {
    std::optional<Clock::time_point> next = abandonAt;
    if (const long pauseLimit = PauseLimitMs(); pauseLimit > 0) {
        const Clock::time_point pauseEnd = lastActivity + Ms(pauseLimit);
        if (!next || pauseEnd < *next) next = pauseEnd;
    }
    return next;
}

long HttpRequest::State::PauseLimitMs() const {
    if (!requestSent) return 0;  // the connect phase has curl's own limit
    const long limit = uploading ? sendMs : receiveMs;
    return limit > 0 ? limit : 0;
}

void HttpRequest::State::Drive(std::optional<Clock::time_point> deadline) {
    Clock::time_point lastPaint = Clock::now();
    while (phase == Phase::Running) {
        loop->Perform();
        if (phase != Phase::Running) return;
        const Clock::time_point now = Clock::now();
        if (deadline && now >= *deadline) return;
        if (now - lastPaint >= kPaintInterval) {
            points->KeepPainted();
            lastPaint = Clock::now();
            // A stop taken there abandons the transfer now, not at its time-out.
            if (points->StopRequested()) {
                Abort();
                return;
            }
        }
        Ms wait = kPaintInterval;
        if (deadline) wait = std::min(wait, std::chrono::ceil<Ms>(*deadline - Clock::now()));
        loop->Poll(std::max(wait, Ms(0)));
    }
}

void HttpRequest::State::Abort() {
    if (phase == Phase::Running) {
        loop->Remove(easy, *this);
        cookies.Restore(easy, loop->cookieShare());
        FreeHeaderList();
        ClearResponse();
        failure = TransferFailure::Stopped;
        phase = Phase::Failed;
    }
}

}  // namespace zembrat::platform
