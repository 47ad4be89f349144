#include "platform/http_request.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/event_points.h"
#include "platform/files.h"
#include "platform/http_request_parts.h"
#include "text/codec.h"

namespace zembrat::platform {
using namespace http_detail;
namespace {

using Ms = std::chrono::milliseconds;

constexpr Ms kPaintInterval{25};

// curl has no "no limit" for the connect phase (0 means its built-in 300 s), so a limit of
// about 24 days stands for none.
constexpr long kNoLimitMs = INT_MAX;

bool HasControlCharacter(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

// RFC 9110 token characters: what a method or a header name may hold.
bool IsToken(std::string_view s) {
    if (s.empty()) return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || u <= 0x20) return false;
        return std::isalnum(u) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
    });
}

std::string TrimWhitespace(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(first, last - first + 1));
}

// The URL as curl gets it: non-ASCII characters as percent-encoded UTF-8, spaces as %20.
std::string WireUrl(std::string_view gbkUrl) {
    const bool ascii = std::none_of(gbkUrl.begin(), gbkUrl.end(),
                                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    const std::string utf8 = ascii ? std::string(gbkUrl) : text::Utf8FromGbk(gbkUrl);
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || u == ' ') {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

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

// The value of the charset parameter of a Content-Type value, lower-cased; empty when none.
std::string CharsetOf(std::string_view contentType) {
    const std::string lower = text::AsciiLower(contentType);
    const auto at = lower.find("charset=");
    if (at == std::string::npos) return {};
    std::string value = lower.substr(at + 8);
    value = value.substr(0, value.find_first_of("; \t"));
    value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
    value.erase(std::remove(value.begin(), value.end(), '\''), value.end());
    return value;
}

bool IsGbkFamily(std::string_view charset) {
    return charset == "gbk" || charset == "gb2312" || charset == "gb18030" || charset == "cp936" ||
           charset == "x-gbk";
}

// Why a transfer that curl ended with code (and message, its error text) failed; redirecting:
// the last answer was a redirect the transfer was about to follow.
TransferFailure FailureOf(CURLcode code, CURL* easy, bool redirecting, std::string_view message) {
    switch (code) {
        case CURLE_OK:
            return TransferFailure::None;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return TransferFailure::NameNotFound;
        case CURLE_COULDNT_CONNECT:
            return TransferFailure::Refused;
        case CURLE_GOT_NOTHING:
            return TransferFailure::Reset;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR: {
            // The same codes stand for a broken chunk. The system's error number would tell a
            // reset apart, but curl keeps it from an earlier transfer of the handle; the
            // message of this one names the reset.
            for (const int error : {ECONNRESET, EPIPE, ECONNABORTED}) {
                if (message.find(std::strerror(error)) != std::string_view::npos)
                    return TransferFailure::Reset;
            }
            return TransferFailure::BrokenAnswer;
        }
        case CURLE_PEER_FAILED_VERIFICATION: {
            // An untrusted chain fails the handshake with OpenSSL's verify result (20 unknown
            // issuer, 10 expired, ...). curl checks the name itself after a handshake that
            // went through, before it reads that result, which then still holds its
            // placeholder 1; OpenSSL's own name checks give 62 (host) and 64 (IP address).
            long verified = -1;
            curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verified);
            return verified == 0 || verified == 1 || verified == 62 || verified == 64
                       ? TransferFailure::HostName
                       : TransferFailure::Certificate;
        }
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return TransferFailure::Certificate;
        // Open takes http and https only: another scheme can only be a redirect's. Without a
        // redirect, it is an answer without a status line (taken for HTTP/0.9, refused).
        case CURLE_UNSUPPORTED_PROTOCOL:
            return redirecting ? TransferFailure::RedirectRefused : TransferFailure::BrokenAnswer;
        case CURLE_TOO_MANY_REDIRECTS:
            return TransferFailure::RedirectRefused;
        case CURLE_FILESIZE_EXCEEDED:
            return TransferFailure::TooLarge;
        case CURLE_OPERATION_TIMEDOUT:
            return TransferFailure::TimedOut;
        case CURLE_PARTIAL_FILE:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return TransferFailure::BrokenAnswer;
        default:
            return TransferFailure::Other;
    }
}

}  // namespace

bool http_detail::InitCurlOnce() {
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

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

struct HttpRequest::State final : Settings, OpenRequest, Transfer, Response, LoopMember {
    enum class Phase { Closed, Opened, Running, Done, Failed };

    explicit State(HttpRequest& owner) : self(owner) {}

    HttpRequest& self;
    std::uint64_t bodyLimit = kDefaultBodyLimit;
    CURL* easy = nullptr;
    std::unique_ptr<TransferLoop> ownLoop;  // a lone request's; none for a group's member
    TransferLoop* loop = nullptr;           // where the transfers run
    EventPoints* points = &NoEventPoints();
    Phase phase = Phase::Closed;
    CURLU* parsedUrl = nullptr;
    bool refuseHttpsDowngrade = false;
    bool onHttps = false;  // the transfer has been at an https address
    long hopStatus = 0;    // the status of the answer whose headers are coming in
    // Where the redirect in the last answer leads, https or not; the next hop takes it.
    std::optional<bool> redirectSecure;
    char errorText[CURL_ERROR_SIZE] = {};  // curl's message when the transfer fails

    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        auto* s = static_cast<State*>(self);
        const std::string_view line(data, size * count);
        s->lastActivity = Clock::now();
        if (line.starts_with("HTTP/")) {
            // A new response (after a redirect or an interim 1xx): only the last one counts.
            s->headerLines.clear();
            const auto first = line.find(' ');
            const auto second = first == std::string_view::npos ? first : line.find(' ', first + 1);
            s->hopStatus =
                first == std::string_view::npos
                    ? 0
                    : std::strtol(std::string(line.substr(first + 1, 3)).c_str(), nullptr, 10);
            s->statusText = second == std::string_view::npos
                                ? std::string()
                                : TrimWhitespace(line.substr(second + 1));
            return line.size();
        }
        std::string_view content = line;
        while (!content.empty() && (content.back() == '\n' || content.back() == '\r'))
            content.remove_suffix(1);
        if (!content.empty()) s->headerLines.emplace_back(content);
        if (s->hopStatus >= 300 && s->hopStatus < 400 && s->followRedirects)
            s->NoteLocation(content);
        return line.size();
    }

    // A redirect's target is told apart by its scheme; a relative one stays where the hop is.
    void NoteLocation(std::string_view headerLine) {
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

    // The most the body may hold now: its own limit, or less while the group runs many.
    std::uint64_t BodyLimitNow() const { return loop->BodyLimit(bodyLimit); }

    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        auto* s = static_cast<State*>(self);
        const size_t n = size * count;
        s->lastActivity = Clock::now();
        const std::uint64_t limit = s->BodyLimitNow();
        if (s->body.size() + n > limit) {
            s->bodyTooLarge = true;
            return 0;  // anything but n fails the transfer
        }
        if (s->body.size() + n > s->body.capacity()) s->GrowBody(s->body.size() + n, limit);
        s->body.append(data, n);
        return n;
    }

    // The body's buffer, grown by doubling but never past the limit, so the buffer and not only
    // the body stays within what the transfer may hold. (A string's own reserve would round a
    // step short of doubling up to the double.)
    void GrowBody(std::uint64_t needed, std::uint64_t limit) {
        const auto capacity = static_cast<std::size_t>(
            std::min(limit, std::max<std::uint64_t>(needed, 2 * body.capacity())));
        text::Bytes grown;
        grown.reserve(capacity);
        grown.append(body);
        body.swap(grown);
    }

    static int OnProgress(void* self, curl_off_t /*dlTotal*/, curl_off_t dlNow, curl_off_t ulTotal,
                          curl_off_t ulNow) {
        auto* s = static_cast<State*>(self);
        if (dlNow != s->lastDown || ulNow != s->lastUp) {
            s->lastDown = dlNow;
            s->lastUp = ulNow;
            s->lastActivity = Clock::now();
        }
        if (ulTotal > 0 && ulNow >= ulTotal) s->uploading = false;
        return 0;
    }

    static int OnRequestStart(void* self, char*, char*, int, int) {
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

    void FreeHeaderList() {
        curl_slist_free_all(headerList);
        headerList = nullptr;
    }

    bool AddHeader(const std::string& line) {
        curl_slist* next = curl_slist_append(headerList, line.c_str());
        if (!next) return false;
        headerList = next;
        return true;
    }

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
    bool Configure(bool hasBody, bool textBody) {
        FreeHeaderList();
        const char* const none = nullptr;
        bool ok = Set(CURLOPT_CURLU, parsedUrl);

        // Certificates are always verified, against the bundle the environment names if any.
        const char* bundle = std::getenv("SSL_CERT_FILE");
        if (!bundle || !*bundle) bundle = std::getenv("CURL_CA_BUNDLE");
        if (bundle && *bundle) ok = ok && Set(CURLOPT_CAINFO, bundle);
        ok = ok && Set(CURLOPT_SSL_VERIFYPEER, 1L) && Set(CURLOPT_SSL_VERIFYHOST, 2L) &&
             Set(CURLOPT_SSLCERTTYPE, "PEM") && Set(CURLOPT_PROTOCOLS_STR, "http,https") &&
             Set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) &&
             Set(CURLOPT_NOSIGNAL, 1L) && Set(CURLOPT_HEADERFUNCTION, &State::OnHeader) &&
             Set(CURLOPT_HEADERDATA, this) && Set(CURLOPT_WRITEFUNCTION, &State::OnBody) &&
             Set(CURLOPT_WRITEDATA, this) && Set(CURLOPT_NOPROGRESS, 0L) &&
             Set(CURLOPT_XFERINFOFUNCTION, &State::OnProgress) && Set(CURLOPT_XFERINFODATA, this) &&
             Set(CURLOPT_PREREQFUNCTION, &State::OnRequestStart) && Set(CURLOPT_PREREQDATA, this) &&
             Set(CURLOPT_ERRORBUFFER, static_cast<char*>(errorText));

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
            ok = ok &&
                 AddHeader(textBody ? "Content-Type: text/plain; Charset=UTF-8" : "Content-Type:");
        }
        const bool ownAgent = !FindHeader("User-Agent") && !userAgent.empty();
        ok = ok && Set(CURLOPT_USERAGENT, ownAgent ? userAgent.c_str() : none);
        ok = ok && Set(CURLOPT_HTTPHEADER, headerList);
        return ok;
    }

    bool Start(std::string_view bodyBytes, bool textBody) {
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
        requestSent = uploading = bodyTooLarge = downgradeRefused = onHttps = false;
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

    void Finish(CURLcode result) {
        loop->Remove(easy, *this);
        cookies.Restore(easy, loop->cookieShare());
        FreeHeaderList();
        if (bodyTooLarge) {
            failure = TransferFailure::TooLarge;
        } else if (downgradeRefused) {
            failure = TransferFailure::RedirectRefused;
        } else {
            failure = FailureOf(result, easy, redirectSecure.has_value(), errorText);
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

    void TransferDone(CURLcode result) override {
        if (phase == Phase::Running) Finish(result);
    }

    void EndIfPastLimit(Clock::time_point now) override {
        if (phase != Phase::Running) return;
        const long pauseLimit = PauseLimitMs();
        if ((pauseLimit > 0 && now - lastActivity >= Ms(pauseLimit)) ||
            (abandonAt && now >= *abandonAt)) {
            Finish(CURLE_OPERATION_TIMEDOUT);
            return;
        }
        // More transfers may have started since the body last grew: its share may be smaller
        // now than what it holds.
        const std::uint64_t limit = BodyLimitNow();
        if (body.size() > limit) {
            bodyTooLarge = true;
            Finish(CURLE_WRITE_ERROR);
        } else if (body.capacity() > limit) {
            body.shrink_to_fit();
        }
    }

    std::optional<Clock::time_point> NextLimit() const override {
        std::optional<Clock::time_point> next = abandonAt;
        if (const long pauseLimit = PauseLimitMs(); pauseLimit > 0) {
            const Clock::time_point pauseEnd = lastActivity + Ms(pauseLimit);
            if (!next || pauseEnd < *next) next = pauseEnd;
        }
        return next;
    }

    HttpRequest& Owner() override { return self; }

    // The pause limit that applies now; 0 when none does.
    long PauseLimitMs() const {
        if (!requestSent) return 0;  // the connect phase has curl's own limit
        const long limit = uploading ? sendMs : receiveMs;
        return limit > 0 ? limit : 0;
    }

    // Runs the transfer (with the rest of its group) until it ends or the deadline passes,
    // keeping the window painted.
    void Drive(std::optional<Clock::time_point> deadline) {
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

    void Abort() {
        if (phase == Phase::Running) {
            loop->Remove(easy, *this);
            cookies.Restore(easy, loop->cookieShare());
            FreeHeaderList();
            ClearResponse();
            failure = TransferFailure::Stopped;
            phase = Phase::Failed;
        }
    }
};

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
