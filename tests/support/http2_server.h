// A real nginx on 127.0.0.1 speaking HTTPS, with HTTP/2 offered (ALPN) or HTTP/1.1 only, under a
// certificate of the test CA (HttpsServer::CaFile()), for tests and benchmarks. It serves the
// files put below its root, each answer `delay` late (the echo module's sleep, which holds no
// worker), as from a distant site. Every request is in its access log with the protocol it came
// over and the connection that carried it. Stopped when the object goes; no system file is read
// or touched.
//
//     testing::Http2Server server({.http2 = true, .delay = std::chrono::milliseconds(20)});
//     server.Put("/img/1.png", bytes);
//     setenv("SSL_CERT_FILE", testing::HttpsServer::CaFile().c_str(), 1);
//     ... fetch server.Url("/img/1.png") ...
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/server_process.h"

namespace zembrat::testing {

struct Http2ServerOptions {
    bool http2 = true;                   // offer HTTP/2; false: HTTP/1.1 only
    std::chrono::milliseconds delay{0};  // every answer this late
};

struct Http2Request {
    std::string uri;       // as requested
    std::string protocol;  // "HTTP/2.0" or "HTTP/1.1"
    long connection = 0;   // nginx's serial number of the connection that carried it
    int status = 0;
};

class Http2Server {
  public:
    explicit Http2Server(Http2ServerOptions options = {});
    ~Http2Server();
    Http2Server(const Http2Server&) = delete;
    Http2Server& operator=(const Http2Server&) = delete;

    // Whether it answers; why not, when it does not.
    bool started() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    // "https://127.0.0.1:<port>" + path
    std::string Url(std::string_view path) const;
    // Serves bytes at path ("/img/1.png") from now on.
    void Put(const std::string& path, const std::string& bytes) const;
    // Serves size zero bytes at path, from a sparse file that takes no room on the disk.
    bool PutSparse(const std::string& path, std::uint64_t size) const;
    // Every request answered so far, in the order they were logged. nginx logs a request once
    // its answer has gone out, a moment after a client may have it whole: with atLeast, waits
    // (up to 5 s) until that many are logged.
    std::vector<Http2Request> Requests(std::size_t atLeast = 0) const;

  private:
    ScratchFolder dir_;
    ServerProcess process_;
    int port_ = 0;
    std::string error_;
};

}  // namespace zembrat::testing
