// A real HTTP/1.1 server on 127.0.0.1 for tests and benchmarks, started in-process on a free
// port. It answers each path with a Reply set beforehand (404 for any other path) and records
// every request it receives, with its headers in the order they came on the wire.
//
//     testing::HttpServer server;
//     server.Set("/a.png", testing::Reply::Ok(pngBytes, "image/png"));
//     ... fetch server.Url("/a.png") ...
//     EXPECT_EQ(server.Requests().at(0).method, "GET");
//
// Waits inside the server (delays, slow or endless bodies, "never answer") end when the server
// is destroyed, so a test never hangs on its own server.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zembrat::testing {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct RecordedRequest {
    std::string method;
    std::string target;  // the request target exactly as sent (absolute form through a proxy)
    std::string path;    // the target's path, percent-decoded, without the query
    HeaderList headers;  // in wire order, names and values as sent (values trimmed)
    std::string body;
    int connection = 0;  // 1 for the first TCP connection the server accepted, 2 for the next...
    std::chrono::steady_clock::time_point arrived;  // when its head had been read
    // Requests the server was answering when this one arrived, this one included: a request
    // counts from its arrival until its answer is handed over (a streamed body may still be
    // going out then). The largest value over all requests is the most there were at once.
    int inProgress = 0;

    bool HasHeader(std::string_view name) const;
    // The first header of that name (ASCII case ignored); empty when there is none.
    std::string Header(std::string_view name) const;
    // How many headers of that name came.
    std::size_t HeaderCount(std::string_view name) const;
    std::vector<std::string> HeaderNames() const;
};

// How a path is answered.
struct Reply {
    int status = 200;
    HeaderList headers;                   // extra headers (the server sends them sorted by name)
    std::vector<std::string> setCookies;  // one "Set-Cookie:" line each
    std::string body;

    std::chrono::milliseconds delay{0};  // wait before answering

    // Failing first: the first failFirst requests of the path get an empty failStatus answer,
    // or have their connection closed without an answer when failByClosing is set. (curl sends
    // a request again by itself when a reused connection closes before any answer, so a test
    // of failByClosing starts on a fresh connection.)
    int failFirst = 0;
    int failStatus = 503;
    bool failByClosing = false;

    // Body delivery. With length set, Content-Length is that length and the body bytes are
    // repeated to fill it (large bodies without large buffers). chunked sends the body with
    // chunked encoding in pieces of chunkSize with chunkInterval between them; endless repeats
    // the body for as long as the client reads (at most 60 s). closeMidBody declares the whole
    // body and closes the connection after sending half of it. neverAnswer reads the request
    // and then sends nothing until the server is destroyed (or 120 s have passed).
    std::optional<std::uint64_t> length;
    bool chunked = false;
    std::size_t chunkSize = 4096;
    std::chrono::milliseconds chunkInterval{0};
    bool endless = false;
    bool closeMidBody = false;
    bool neverAnswer = false;

    static Reply Ok(std::string body, std::string contentType = "application/octet-stream");
    static Reply Status(int status, std::string body = {});
    static Reply Redirect(std::string location, int status = 302);
    static Reply NeverAnswer();
    static Reply Endless(std::string piece, std::chrono::milliseconds interval);
    static Reply CloseMidBody(std::string body);

    Reply& Header(std::string name, std::string value);
    Reply& Cookie(std::string line);
};

class HttpServer {
  public:
    // Starts listening on 127.0.0.1 at a free port; started() tells whether it worked.
    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    bool started() const;
    int port() const;
    // "http://127.0.0.1:<port>"
    std::string BaseUrl() const;
    // BaseUrl() + path
    std::string Url(std::string_view path) const;

    // How the path (percent-decoded, without the query) is answered from now on.
    void Set(std::string path, Reply reply);

    std::vector<RecordedRequest> Requests() const;
    std::size_t RequestCount() const;
    // The requests of one path, in order.
    std::vector<RecordedRequest> RequestsTo(std::string_view path) const;
    // TCP connections accepted so far.
    int ConnectionCount() const;
    // Forgets the recorded requests (the connection count stays).
    void ClearRequests();

    class Impl;

  protected:
    explicit HttpServer(bool forwardAsProxy);

  private:
    std::unique_ptr<Impl> impl_;
};

// A forwarding HTTP proxy on 127.0.0.1: it takes absolute-form requests ("GET http://127.0.0.1:
// <port>/path"), passes them on to that loopback server and hands back its answer. Requests for
// any other host are refused with 403 and never leave the machine. It records what it received
// like HttpServer does.
class HttpProxyServer : public HttpServer {
  public:
    HttpProxyServer() : HttpServer(true) {}
    // "127.0.0.1:<port>", the form a proxy setting takes.
    std::string Address() const;
};

}  // namespace zembrat::testing
