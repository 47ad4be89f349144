// The program itself calls (through web::WebClient::FetchBytes and its redirect probe): Open,
// SetTimeouts, SetProxy, SetRequestHeader, Send, SendBytes, WaitForResponse, Status,
// GetResponseHeader, ResponseBody; the rest is the component's interface kept whole.
//
// The HTTP request component: our stand-in for the platform's scriptable HTTP request object,
// built over libcurl.
//
// One instance owns one curl easy handle and one multi handle for its whole life, so the
// connections it opens stay alive across requests, and it keeps the cookies its responses set
// in memory (curl's cookie engine, never written to disk) until it is destroyed. Instances made
// in an HttpTransferGroup run their transfers at once in the group's multi handle instead, and
// share the group's connections and cookies.
//
// Texts are the program's GBK text on both sides: URLs, header names and values, credentials,
// response headers and the response text. At the wire:
// - non-ASCII characters of a URL (and spaces) are sent percent-encoded as UTF-8, the way
//   browsers send them;
// - header values go out as their bytes, unchanged, so a cookie that came in comes back
//   byte-exact;
// - a text body is sent in the charset named by the request's Content-Type, UTF-8 when it names
//   none (and "text/plain; Charset=UTF-8" is declared when the caller set no Content-Type);
//   a byte body is sent as it is.
//
// Headers on the wire: curl sends Host itself, Content-Length when there is a body, and
// User-Agent from option 0 when the caller set none. Its own "Accept: */*" and "Expect:
// 100-continue" are suppressed and no Accept-Encoding is offered, so a response is handed over
// exactly as the server sent it. Every other header is one the caller set.
//
// Refused outright, so the request is never sent and its result is empty: a URL, method or
// header holding a control character (CR, LF, any byte below 0x20, DEL); a scheme other than
// http or https; a response body above the body limit (256 MiB; in a group, the group's share).
// Redirects are followed by default, at most 10 hops, to http and https only. Server
// certificates are always verified, against the CA bundle named by SSL_CERT_FILE or
// CURL_CA_BUNDLE when one is set. Without a proxy call (the default setting) the proxy comes from
// the environment as curl reads it: http_proxy, https_proxy, all_proxy and no_proxy (and the
// upper-case forms curl takes).
//
// Every transfer sets every option it depends on, so nothing of one request (its scheme, its
// redirects, its limits) carries over to the next on the same handle. Failure() tells why the
// last transfer gave no response.
//
// Blocking waits (a synchronous Send, WaitForResponse) call KeepPainted() of the event points
// given (SetEventPoints) about every 25 ms, so the window repaints and takes input;
// when the points' stop is requested after such a call, the transfer is abandoned at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/component.h"
#include "platform/event_points.h"
#include "platform/http_request_failure.h"
#include "text/gbk.h"

namespace zembrat::platform {

// An option value as the component takes and gives it.
struct OptionBytes {
    text::Bytes bytes;
};
using OptionValue = std::variant<std::monostate, std::int64_t, bool, std::string, OptionBytes>;

// The component's numbered options that this stand-in knows.
enum HttpOption : int {
    kOptionUserAgent = 0,        // text: the User-Agent sent when the caller sets none
    kOptionUrl = 1,              // text, read only: the URL of the open request
    kOptionEnableRedirects = 6,  // boolean: follow redirects (default true)
};

// Values of SetProxy's setting.
enum ProxySetting : int { kProxyDefault = 0, kProxyDirect = 1, kProxyNamed = 2 };

// SetCredentials' flags.
enum CredentialsFor : int { kCredentialsForServer = 0, kCredentialsForProxy = 1 };

// SetAutoLogonPolicy's values.
enum AutoLogonPolicy : int {
    kAutoLogonAlways = 0,
    kAutoLogonOnlyIfBypassProxy = 1,
    kAutoLogonNever = 2
};

// A readable, seekable stream over bytes (what "ResponseStream" gives).
class ByteStream : public Component {
  public:
    explicit ByteStream(text::Bytes bytes) : bytes_(std::move(bytes)) {}

    // Up to count bytes from the position on; the position moves past them.
    text::Bytes Read(std::size_t count);
    // Moves the position; false (and no move) when it lies past the end.
    bool Seek(std::size_t position);
    std::size_t Position() const { return position_; }
    std::size_t Size() const { return bytes_.size(); }

  private:
    text::Bytes bytes_;
    std::size_t position_ = 0;
};

namespace http_detail {
class TransferLoop;
}
class HttpRequest;

// Requests whose transfers run at once over one curl multi handle, driven from the calling
// thread: the connections they open are reused among them, and they share one cookie engine (the
// cookies an answer sets go with the later requests of every member, as within one request
// object). Members are made with HttpRequest(group); the group must outlive them.
class HttpTransferGroup {
  public:
    // The bodies of all transfers running at once together hold at most this much, shared: a
    // member's body may grow, up to its own limit (256 MiB), into whatever the others' bodies
    // leave of the budget, and every body may reach 1 MiB however full the budget is (a small
    // image is never refused while large ones run). A body past what it may hold fails as too
    // large. The buffers in flight thus hold at most the budget and 1 MiB per transfer, and
    // while one buffer doubles its old half is held too: at 64 at once about 544 MiB at worst,
    // 400 MiB or so when bodies grow side by side. At 64 at once a single 200 MiB image still
    // downloads beside 63 small ones.
    static constexpr std::uint64_t kDefaultBodyBudget = 320ull * 1024 * 1024;

    // maxHostConnections: curl opens at most that many connections to one host (0: no limit).
    // keptConnections: how many idle connections stay open for reuse (0: curl's own rule, four
    // per transfer in the handle, which closes connections as the transfers end and leave it).
    // bodyBudget: see kDefaultBodyBudget; 0 for none (each member keeps its own limit).
    // http2: the members' https requests offer HTTP/2 (ALPN) besides HTTP/1.1, and where a
    // server takes it, the group's transfers to that host run as streams of one connection
    // (a transfer started while the host's first connection is still being made waits for it
    // rather than opening another). http:// requests, and every request without it, go out as
    // HTTP/1.1, byte for byte as a lone request sends them.
    explicit HttpTransferGroup(long maxHostConnections = 0, long keptConnections = 0,
                               std::uint64_t bodyBudget = kDefaultBodyBudget, bool http2 = false);
    ~HttpTransferGroup();
    HttpTransferGroup(const HttpTransferGroup&) = delete;
    HttpTransferGroup& operator=(const HttpTransferGroup&) = delete;

    // False when curl could not give the group its handles; its members then send nothing.
    bool ok() const;
    // Runs every member's transfer as far as it goes without waiting, and ends the transfers
    // that are complete, failed, or past one of their limits (connect, send and receive pauses,
    // AbandonAfter).
    void Perform();
    // Waits until a member's connection is ready to go on, for at most limit and no longer than
    // until the nearest limit of a member passes (with nothing running: the whole limit).
    void Poll(std::chrono::milliseconds limit);
    // The members whose transfers ended by themselves since the last call, in the order they
    // ended; aborted transfers are not among them.
    std::vector<HttpRequest*> TakeEnded();
    // Members whose transfer is running.
    std::size_t Running() const;

  private:
    friend class HttpRequest;
    std::unique_ptr<http_detail::TransferLoop> loop_;
};

class HttpRequest : public Component {
  public:
    static constexpr std::uint64_t kDefaultBodyLimit = 256ull * 1024 * 1024;
    static constexpr long kMaxRedirects = 10;

    // bodyLimit: the largest response body accepted, in bytes.
    explicit HttpRequest(std::uint64_t bodyLimit = kDefaultBodyLimit);
    // A member of group. Its asynchronous Send only adds the transfer to the group, whose
    // Perform drives it; a synchronous Send or WaitForResponse drives the whole group until this
    // member's transfer has ended.
    explicit HttpRequest(HttpTransferGroup& group, std::uint64_t bodyLimit = kDefaultBodyLimit);
    ~HttpRequest() override;
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // The event points the blocking waits use; NoEventPoints() until set. The object must
    // outlive the request (or be replaced before it goes).
    void SetEventPoints(EventPoints& points);

    // Every member that can fail returns false (or the empty value) on failure, as the
    // original's failed member calls yield nothing.

    // Starts a new request: aborts any transfer still running, forgets the last response and
    // the headers and credentials of the last request. Timeouts, proxy and options carry over.
    bool Open(std::string_view method, std::string_view url, bool async);
    // Sets (or replaces) one header of the open request. An empty value sends the header empty.
    bool SetRequestHeader(std::string_view name, std::string_view value);
    // In milliseconds; 0 or -1 means no limit, anything below -1 is refused.
    bool SetTimeouts(long resolveMs, long connectMs, long sendMs, long receiveMs);
    struct Timeouts {
        long resolveMs, connectMs, sendMs, receiveMs;
        friend bool operator==(const Timeouts&, const Timeouts&) = default;
    };
    // The time-outs in force (initially 0, 60000, 30000, 30000).
    Timeouts CurrentTimeouts() const;
    // setting: ProxySetting. server: "host:port", "http://host:port" or per-scheme entries
    // "http=host:port;https=host:port". bypass: host patterns ("*" and "?" wildcards, "<local>"
    // for host names without a dot) separated by ";", "," or spaces.
    bool SetProxy(int setting, std::string_view server, std::string_view bypass);
    // For the open request; flags: CredentialsFor.
    bool SetCredentials(std::string_view user, std::string_view password, int flags);
    // The name of a PEM file holding the client certificate and its key.
    bool SetClientCertificate(std::string_view certificate);
    bool SetAutoLogonPolicy(int policy);

    // Sends the open request: without a body, with a text body, or with a byte body. A
    // synchronous request returns when the response has arrived or the transfer failed (true
    // only for a complete response); an asynchronous one returns once the transfer is started.
    bool Send();
    bool Send(std::string_view bodyText);
    bool SendBytes(std::string_view bodyBytes);
    // Drives an asynchronous transfer for at most timeoutSeconds (-1: no limit). True when the
    // response is complete; false when the time ran out (the transfer goes on), it failed, or
    // the stop was requested (the transfer is then abandoned and there is no response).
    bool WaitForResponse(long timeoutSeconds);
    // Stops a running transfer; the request then has no response.
    void Abort();

    // The response: status 0, empty texts and bytes while there is none.
    long Status() const;
    std::string StatusText() const;
    // The first header of that name (ASCII case ignored), its value trimmed; empty when none.
    std::string GetResponseHeader(std::string_view name) const;
    // Every header line of the final response as it came, each ended by CR LF. (An HTTP/2
    // answer's names, which come in lower case, are given as HTTP/1.1 writes them:
    // "set-cookie" as "Set-Cookie".)
    std::string GetAllResponseHeaders() const;
    // The body decoded by the charset of its Content-Type (UTF-8 when none names one and the
    // body is valid UTF-8), as GBK text.
    std::string ResponseText() const;
    text::Bytes ResponseBody() const;
    // The body, handed over without a copy; the response keeps no body afterwards.
    text::Bytes TakeResponseBody();
    std::shared_ptr<ByteStream> ResponseStream() const;

    // Refuses a redirect from an https address to an http one: the transfer then fails and
    // gives nothing. Off by default.
    void SetRefuseHttpsDowngrade(bool refuse);
    // Takes over from other what carries over from request to request: the time-outs, the
    // proxy, the client certificate, the sign-on policy, the options and the downgrade refusal.
    void AdoptSettings(const HttpRequest& other);
    // The running transfer is dropped unanswered, as a WaitForResponse(seconds) that ran out
    // would leave it, when it has not ended within seconds from now (-1: no such limit). Needed
    // where a group, not a WaitForResponse, drives the transfer.
    void AbandonAfter(long seconds);

    // Reads and writes the numbered options (HttpOption). Reading an unknown option gives
    // std::monostate; writing one, or writing a value of the wrong kind, fails.
    OptionValue Option(int option) const;
    bool SetOption(int option, const OptionValue& value);

    // True while an asynchronous transfer is running.
    bool Pending() const;
    // The last transfer's answer came over HTTP/2 (so its connection can carry other requests at
    // the same time), whether or not the transfer then ended well (a body too large, a cut).
    bool AnsweredOverHttp2() const;
    // Why the last request ended without a response: None while it runs, after a response (of
    // any status) and after an Open that worked; NotSent after one that failed or a request that
    // was refused before it went out; Stopped after an Abort (or an Open while it ran).
    TransferFailure Failure() const;

  private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace zembrat::platform
