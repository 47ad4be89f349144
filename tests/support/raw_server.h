// A bare TCP server on 127.0.0.1 for answers no HTTP library would give: a broken status line, a
// megabyte of headers, a reset in the middle of a body, a connection closed before a word is
// said. Every accepted connection runs the script in its own thread; the connection is closed
// when the script returns (unless the script reset it).
//
//     testing::RawServer server([](testing::RawConnection& c) {
//         c.ReadRequestHead();
//         c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(50, 'x'));
//         c.Reset();
//     });
//     ... fetch server.Url("/x") ...
//
// Waits inside a script (Pause, Hold, a blocked Send) end when the server is destroyed, so a
// test never hangs on its own server.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zembrat::testing {

class RawConnection {
  public:
    using HeadRecorder = std::function<void(const std::string&)>;
    RawConnection(int fd, const std::atomic<bool>& stopping, HeadRecorder record)
        : fd_(fd), stopping_(stopping), record_(std::move(record)) {}
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // Reads up to the blank line that ends a request head (at most 64 KiB, at most 5 s).
    // The head without its blank line; empty when none came.
    std::string ReadRequestHead();
    // Sends all of bytes; false when the client went away, the send stalled for 5 s, the
    // connection was reset, or the server stops.
    bool Send(std::string_view bytes);
    // Waits for the span; false when the server stops first.
    bool Pause(std::chrono::milliseconds span);
    // Keeps the connection open, saying nothing, until the client closes it or the server
    // stops (at most 60 s).
    void Hold();
    // Ends the connection with a TCP reset instead of an orderly close.
    void Reset();
    // Bytes sent so far on this connection.
    std::uint64_t sent() const { return sent_; }

    int fd() const { return fd_; }
    bool reset() const { return reset_; }

  private:
    int fd_;
    const std::atomic<bool>& stopping_;
    HeadRecorder record_;
    std::uint64_t sent_ = 0;
    bool reset_ = false;
};

class RawServer {
  public:
    using Script = std::function<void(RawConnection&)>;

    // Starts listening on 127.0.0.1 at a free port; started() tells whether it worked.
    explicit RawServer(Script script);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    bool started() const;
    int port() const;
    // "http://127.0.0.1:<port>" + path
    std::string Url(std::string_view path) const;
    // Connections accepted so far.
    int ConnectionCount() const;
    // The request heads the scripts read, in the order they were read.
    std::vector<std::string> RequestHeads() const;

    class Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// The peak resident memory of this process in KiB (VmHWM), and a reset of that peak to the
// memory resident now; 0 / false where the system does not tell.
std::uint64_t PeakResidentKb();
std::uint64_t ResidentKb();
bool ResetPeakResident();

}  // namespace zembrat::testing
