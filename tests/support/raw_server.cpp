#include "support/raw_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

namespace zembrat::testing {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr Ms kSlice{20};  // how often waits look whether the server is stopping
constexpr Ms kReadLimit{5000};
constexpr Ms kSendStall{5000};
constexpr Ms kLongestHold{60000};
constexpr std::size_t kLongestHead = 64 * 1024;

// Polls fd for events in slices until they come, the limit passes or stopping is set.
bool WaitFor(int fd, short events, Ms limit, const std::atomic<bool>& stopping) {
    const auto until = Clock::now() + limit;
    while (!stopping) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, static_cast<int>(kSlice.count()));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
        if (Clock::now() >= until) return false;
    }
    return false;
}

std::uint64_t StatusValueKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::strtoull(line.c_str() + prefix.size(), nullptr, 10);
    }
    return 0;
}

}  // namespace

std::string RawConnection::ReadRequestHead() {
    std::string head;
    const auto until = Clock::now() + kReadLimit;
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < kLongestHead) {
        const auto left = std::chrono::duration_cast<Ms>(until - Clock::now());
        if (left.count() <= 0 || !WaitFor(fd_, POLLIN, left, stopping_)) break;
        // Byte by byte would be slow; the head's end is found in what came, and whatever
        // followed it (a body) is not needed by any script.
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        head.append(chunk, static_cast<std::size_t>(n));
    }
    const auto end = head.find("\r\n\r\n");
    if (end == std::string::npos) return {};
    head.resize(end);
    if (record_) record_(head);
    return head;
}

bool RawConnection::Send(std::string_view bytes) {
    while (!bytes.empty()) {
        if (reset_ || !WaitFor(fd_, POLLOUT, kSendStall, stopping_)) return false;
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            return false;
        }
        sent_ += static_cast<std::uint64_t>(n);
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool RawConnection::Pause(std::chrono::milliseconds span) {
    const auto until = Clock::now() + span;
    while (!stopping_) {
        const auto left = std::chrono::duration_cast<Ms>(until - Clock::now());
        if (left.count() <= 0) return true;
        std::this_thread::sleep_for(std::min(left, kSlice));
    }
    return false;
}

void RawConnection::Hold() {
    const auto until = Clock::now() + kLongestHold;
    while (!stopping_ && Clock::now() < until) {
        if (!WaitFor(fd_, POLLIN, kSlice, stopping_)) continue;
        // Readable: either more bytes (ignored) or the client's close.
        char chunk[4096];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
    }
}

void RawConnection::Reset() {
    if (reset_) return;
    // A zero linger time makes close() send RST and drop anything unsent.
    const linger abort{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd_);
    reset_ = true;
}

class RawServer::Impl {
  public:
    explicit Impl(Script script) : script_(std::move(script)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0) return;
        const int one = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 64) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ::close(listener_);
            listener_ = -1;
            return;
        }
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { AcceptLoop(); });
    }

    ~Impl() {
        stopping_ = true;
        if (acceptor_.joinable()) acceptor_.join();
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (auto& t : threads) t.join();
        if (listener_ >= 0) ::close(listener_);
    }

    bool started() const { return listener_ >= 0; }
    int port() const { return port_; }
    int connections() const { return connections_; }
    std::vector<std::string> heads() const {
        std::lock_guard lock(mutex_);
        return heads_;
    }

  private:
    void AcceptLoop() {
        while (!stopping_) {
            if (!WaitFor(listener_, POLLIN, kSlice, stopping_)) continue;
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++connections_;
            std::lock_guard lock(mutex_);
            threads_.emplace_back([this, fd] { Serve(fd); });
        }
    }

    void Serve(int fd) {
        RawConnection connection(fd, stopping_, [this](const std::string& head) {
            std::lock_guard lock(mutex_);
            heads_.push_back(head);
        });
        if (script_) script_(connection);
        if (!connection.reset()) {
            ::shutdown(fd, SHUT_WR);
            // Let the client read what was sent before the socket goes away for good: a close
            // with unread input pending would turn into a reset.
            char sink[4096];
            const auto until = Clock::now() + Ms(1000);
            while (Clock::now() < until && WaitFor(fd, POLLIN, Ms(200), stopping_)) {
                if (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) <= 0) break;
            }
            ::close(fd);
        }
    }

    Script script_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::vector<std::string> heads_;
};

RawServer::RawServer(Script script) : impl_(std::make_unique<Impl>(std::move(script))) {}
RawServer::~RawServer() = default;

bool RawServer::started() const {
    return impl_->started();
}
int RawServer::port() const {
    return impl_->port();
}
std::string RawServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port()) + std::string(path);
}
int RawServer::ConnectionCount() const {
    return impl_->connections();
}
std::vector<std::string> RawServer::RequestHeads() const {
    return impl_->heads();
}

std::uint64_t PeakResidentKb() {
    return StatusValueKb("VmHWM");
}

std::uint64_t ResidentKb() {
    return StatusValueKb("VmRSS");
}

bool ResetPeakResident() {
    // Writing 5 to clear_refs resets the peak to the current resident size.
    std::FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

}  // namespace zembrat::testing
