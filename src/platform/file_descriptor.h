// An open file descriptor that closes when it goes, and the retry of a call an interruption
// broke off. Private to platform/.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace zembrat::platform::files_detail {

// A file descriptor closed when it goes.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Fd() { Reset(); }
    int get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    explicit operator bool() const { return fd_ >= 0; }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

// call() again as long as it fails with EINTR; its last result.
int Retrying(auto call) {
    int r;
    do {
        r = call();
    } while (r < 0 && errno == EINTR);
    return r;
}

}  // namespace zembrat::platform::files_detail
