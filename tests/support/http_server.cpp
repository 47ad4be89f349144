#include "support/http_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace zembrat::testing {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr Ms kSlice{20};          // how often waits look whether the server is stopping
constexpr Ms kReadTimeout{5000};  // a request that stops arriving half-way
constexpr Ms kWriteTimeout{5000};
constexpr Ms kKeepAliveIdle{10000};  // an idle keep-alive connection is closed after this
constexpr Ms kLongestWait{120000};   // "never" and "endless" end by themselves after this
constexpr Ms kLongestEndless{60000};

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return std::string(s.substr(first, last - first + 1));
}

// The headers of a raw request head, in wire order.
HeaderList ParseHead(std::string_view raw) {
    HeaderList headers;
    const auto end = raw.find("\r\n\r\n");
    std::string_view head = raw.substr(0, end);
    const auto firstLineEnd = head.find("\r\n");
    if (firstLineEnd == std::string_view::npos) return headers;
    head.remove_prefix(firstLineEnd + 2);
    while (!head.empty()) {
        const auto eol = head.find("\r\n");
        const std::string_view line = head.substr(0, eol);
        const auto colon = line.find(':');
        if (colon != std::string_view::npos)
            headers.emplace_back(std::string(line.substr(0, colon)),
                                 Trimmed(line.substr(colon + 1)));
        if (eol == std::string_view::npos) break;
        head.remove_prefix(eol + 2);
    }
    return headers;
}

// A socket stream that keeps every byte the request parser consumed, so the request's head can
// be read back in wire order (the parsed headers come sorted).
class RecordingStream : public httplib::Stream {
  public:
    RecordingStream(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}

    bool is_readable() const override {
        return pos_ < buffer_.size() || Wait(POLLIN, kReadTimeout);
    }
    bool is_writable() const override { return !dropped_ && Wait(POLLOUT, kWriteTimeout); }

    ssize_t read(char* ptr, size_t size) override {
        if (pos_ == buffer_.size()) {
            buffer_.clear();
            pos_ = 0;
            if (!Wait(POLLIN, kReadTimeout)) return -1;
            char chunk[16384];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) return n;
            buffer_.assign(chunk, static_cast<size_t>(n));
        }
        const size_t n = std::min(size, buffer_.size() - pos_);
        std::memcpy(ptr, buffer_.data() + pos_, n);
        pos_ += n;
        consumed_.append(ptr, n);
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) return -1;
        return ::send(fd_, ptr, size, MSG_NOSIGNAL);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        Address(false, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        Address(true, ip, port);
    }
    socket_t socket() const override { return fd_; }

    // Waits for the next request of a keep-alive connection: false when the connection stays
    // idle too long or the server stops.
    bool WaitForNextRequest() const {
        return pos_ < buffer_.size() || Wait(POLLIN, kKeepAliveIdle);
    }

    void StartRequest() { consumed_.clear(); }
    const std::string& consumed() const { return consumed_; }

    // Ends the connection at once, without an answer.
    void Drop() {
        dropped_ = true;
        ::shutdown(fd_, SHUT_RDWR);
    }

  private:
    bool Wait(short events, Ms limit) const {
        const auto until = Clock::now() + limit;
        while (!stopping_ && !dropped_) {
            pollfd p{fd_, events, 0};
            const int r = ::poll(&p, 1, static_cast<int>(kSlice.count()));
            if (r > 0) return true;
            if (r < 0 && errno != EINTR) return false;
            if (Clock::now() >= until) return false;
        }
        return false;
    }

    void Address(bool local, std::string& ip, int& port) const {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        const int r = local ? ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len)
                            : ::getpeername(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        if (r != 0) return;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
        ip = text;
        port = ntohs(a.sin_port);
    }

    int fd_;
    const std::atomic<bool>& stopping_;
    std::string buffer_;
    size_t pos_ = 0;
    std::string consumed_;
    bool dropped_ = false;
};

struct Connection {
    RecordingStream* stream = nullptr;
    int index = 0;
};
thread_local Connection currentConnection;

// One thread per accepted connection, so a connection that waits never blocks another.
class ThreadPerConnection : public httplib::TaskQueue {
  public:
    void enqueue(std::function<void()> fn) override {
        std::lock_guard lock(mutex_);
        threads_.emplace_back(std::move(fn));
    }
    void shutdown() override {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (auto& t : threads) t.join();
    }

  private:
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};

}  // namespace

class HttpServer::Impl : public httplib::Server {
  public:
    explicit Impl(bool proxy) : proxy_(proxy) {
        new_task_queue = [] { return new ThreadPerConnection; };
        set_tcp_nodelay(true);
        set_keep_alive_max_count(1000000);
        set_keep_alive_timeout(
            std::chrono::duration_cast<std::chrono::seconds>(kKeepAliveIdle).count());
        const Handler handler = [this](const httplib::Request& req, httplib::Response& res) {
            Dispatch(req, res);
        };
        Get(".*", handler);
        Post(".*", handler);
        Put(".*", handler);
        Patch(".*", handler);
        Delete(".*", handler);
        Options(".*", handler);

        port_ = bind_to_any_port("127.0.0.1");
        if (port_ <= 0) return;
        // The library listens with a backlog of 5: more connections opened at once than that
        // lose their SYN and wait a second for curl's retry. Listening again raises it.
        ::listen(svr_sock_, 128);
        listener_ = std::thread([this] { listen_after_bind(); });
        // stop() only works on a running server, so wait until it runs.
        const auto until = Clock::now() + Ms(5000);
        while (!is_running() && Clock::now() < until) std::this_thread::sleep_for(Ms(1));
        started_ = is_running();
    }

    ~Impl() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (listener_.joinable()) {
            stop();
            listener_.join();
        }
    }

    int port() const { return port_; }
    bool started() const { return started_; }

    void SetReply(std::string path, Reply reply) {
        std::lock_guard lock(mutex_);
        routes_[std::move(path)] = Route{std::move(reply), 0};
    }

    std::vector<RecordedRequest> Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    void ClearRequests() {
        std::lock_guard lock(mutex_);
        requests_.clear();
    }
    int Connections() const { return connections_; }

  private:
    struct Route {
        Reply reply;
        int served = 0;
    };

    // Replaces the library's connection loop: the same keep-alive handling, over a stream that
    // records what it reads, with waits that end when the server stops.
    bool process_and_close_socket(socket_t sock) override {
        const int one = 1;
        ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        RecordingStream stream(sock, stopping_);
        currentConnection = Connection{&stream, ++connections_};
        bool ok = false;
        while (!stopping_ && stream.WaitForNextRequest()) {
            stream.StartRequest();
            bool closed = false;
            ok = process_request(stream, false, closed, nullptr);
            if (!ok || closed) break;
        }
        currentConnection = Connection{};
        ::shutdown(sock, SHUT_RDWR);
        ::close(sock);
        return ok;
    }

    // Waits for the span or until the server stops; false when it stops.
    bool Pause(Ms span) {
        std::unique_lock lock(mutex_);
        return !wake_.wait_for(lock, span, [this] { return stopping_.load(); });
    }

    void Record(const httplib::Request& req, int inProgress) {
        RecordedRequest r;
        r.arrived = Clock::now();
        r.inProgress = inProgress;
        r.method = req.method;
        r.target = req.target;
        r.path = req.path;
        r.body = req.body;
        if (currentConnection.stream) r.headers = ParseHead(currentConnection.stream->consumed());
        r.connection = currentConnection.index;
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(r));
    }

    // Counts a request as in progress for the life of its handler.
    class InProgress {
      public:
        explicit InProgress(std::atomic<int>& count) : count_(count), now_(++count) {}
        ~InProgress() { --count_; }
        InProgress(const InProgress&) = delete;
        InProgress& operator=(const InProgress&) = delete;
        int now() const { return now_; }

      private:
        std::atomic<int>& count_;
        int now_;
    };

    void Dispatch(const httplib::Request& req, httplib::Response& res) {
        const InProgress inProgress(inProgress_);
        Record(req, inProgress.now());
        if (proxy_) {
            Forward(req, res);
            return;
        }
        Reply reply;
        bool failNow = false;
        {
            std::lock_guard lock(mutex_);
            auto it = routes_.find(req.path);
            if (it == routes_.end()) {
                res.status = 404;
                return;
            }
            reply = it->second.reply;
            failNow = it->second.served++ < reply.failFirst;
        }
        if (reply.delay.count() > 0 && !Pause(reply.delay)) return;
        if (failNow) {
            if (reply.failByClosing && currentConnection.stream) {
                currentConnection.stream->Drop();
            } else {
                res.status = reply.failStatus;
            }
            return;
        }
        if (reply.neverAnswer) {
            Pause(kLongestWait);
            if (currentConnection.stream) currentConnection.stream->Drop();
            return;
        }
        Answer(reply, res);
    }

    void Answer(const Reply& reply, httplib::Response& res) {
        res.status = reply.status;
        std::string contentType = "application/octet-stream";
        for (const auto& [name, value] : reply.headers) {
            if (EqualsNoCase(name, "Content-Type")) contentType = value;
            res.set_header(name, value);
        }
        for (const auto& line : reply.setCookies) res.set_header("Set-Cookie", line);

        const std::string piece = reply.body.empty() ? std::string("x") : reply.body;
        const std::size_t chunkSize = std::max<std::size_t>(1, reply.chunkSize);
        const Ms interval = reply.chunkInterval;
        auto repeated = [piece](std::size_t offset, std::size_t n) {
            std::string out;
            out.reserve(n);
            while (out.size() < n) {
                const std::size_t at = (offset + out.size()) % piece.size();
                out.append(piece, at, std::min(piece.size() - at, n - out.size()));
            }
            return out;
        };

        if (reply.closeMidBody) {
            const std::string body = reply.body;
            const std::size_t half = body.size() / 2;
            res.set_content_provider(
                body.size(), contentType,
                [body, half](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    if (offset < half) return sink.write(body.data() + offset, half - offset);
                    return false;  // the connection goes down mid-body
                });
        } else if (reply.length) {
            res.set_content_provider(
                static_cast<std::size_t>(*reply.length), contentType,
                [this, repeated, chunkSize, interval](std::size_t offset, std::size_t n,
                                                      httplib::DataSink& sink) {
                    if (interval.count() > 0 && !Pause(interval)) return false;
                    const std::string out = repeated(offset, std::min(n, chunkSize));
                    return sink.write(out.data(), out.size());
                });
        } else if (reply.endless) {
            const auto until = Clock::now() + kLongestEndless;
            res.set_chunked_content_provider(
                contentType, [this, repeated, chunkSize, interval, until](std::size_t offset,
                                                                          httplib::DataSink& sink) {
                    if (interval.count() > 0 && !Pause(interval)) return false;
                    if (stopping_ || Clock::now() >= until) return false;
                    const std::string out = repeated(offset, chunkSize);
                    return sink.write(out.data(), out.size());
                });
        } else if (reply.chunked) {
            const std::string body = reply.body;
            res.set_chunked_content_provider(
                contentType,
                [this, body, chunkSize, interval](std::size_t offset, httplib::DataSink& sink) {
                    if (offset >= body.size()) {
                        sink.done();
                        return true;
                    }
                    if (offset > 0 && interval.count() > 0 && !Pause(interval)) return false;
                    const std::size_t n = std::min(chunkSize, body.size() - offset);
                    return sink.write(body.data() + offset, n);
                });
        } else {
            res.body = reply.body;
            if (!res.has_header("Content-Type") && !reply.body.empty())
                res.set_header("Content-Type", contentType);
        }
    }

    // Passes an absolute-form request on to a loopback server and hands back its answer.
    void Forward(const httplib::Request& req, httplib::Response& res) {
        static const std::string kLoopback = "http://127.0.0.1:";
        if (req.target.rfind(kLoopback, 0) != 0) {
            res.status = 403;
            return;
        }
        const std::string rest = req.target.substr(kLoopback.size());
        const auto slash = rest.find('/');
        const std::string portText = rest.substr(0, slash);
        if (portText.empty() || portText.size() > 5 ||
            portText.find_first_not_of("0123456789") != std::string::npos) {
            res.status = 400;
            return;
        }
        httplib::Request out;
        out.method = req.method;
        out.path = slash == std::string::npos ? "/" : rest.substr(slash);
        out.body = req.body;
        static const char* const kHopByHop[] = {"Host",
                                                "Connection",
                                                "Proxy-Connection",
                                                "Keep-Alive",
                                                "Proxy-Authorization",
                                                "Content-Length",
                                                "Transfer-Encoding"};
        if (currentConnection.stream) {
            for (const auto& [name, value] : ParseHead(currentConnection.stream->consumed())) {
                const bool hop =
                    std::any_of(std::begin(kHopByHop), std::end(kHopByHop),
                                [&key = name](const char* h) { return EqualsNoCase(key, h); });
                if (!hop) out.headers.emplace(name, value);
            }
        }
        httplib::Client client("127.0.0.1", std::stoi(portText));
        client.set_url_encode(false);
        client.set_keep_alive(false);
        client.set_read_timeout(std::chrono::seconds(10));
        auto result = client.send(out);
        if (!result) {
            res.status = 502;
            return;
        }
        res.status = result->status;
        for (const auto& [name, value] : result->headers) {
            if (EqualsNoCase(name, "Content-Length") || EqualsNoCase(name, "Transfer-Encoding") ||
                EqualsNoCase(name, "Connection") || EqualsNoCase(name, "Keep-Alive"))
                continue;
            res.set_header(name, value);
        }
        res.body = result->body;
    }

    const bool proxy_;
    int port_ = -1;
    bool started_ = false;
    std::thread listener_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::atomic<int> inProgress_{0};
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::map<std::string, Route> routes_;
    std::vector<RecordedRequest> requests_;
};

bool RecordedRequest::HasHeader(std::string_view name) const {
    return HeaderCount(name) > 0;
}

std::string RecordedRequest::Header(std::string_view name) const {
    for (const auto& [n, v] : headers)
        if (EqualsNoCase(n, name)) return v;
    return {};
}

std::size_t RecordedRequest::HeaderCount(std::string_view name) const {
    return static_cast<std::size_t>(
        std::count_if(headers.begin(), headers.end(),
                      [&](const auto& h) { return EqualsNoCase(h.first, name); }));
}

std::vector<std::string> RecordedRequest::HeaderNames() const {
    std::vector<std::string> names;
    for (const auto& h : headers) names.push_back(h.first);
    return names;
}

Reply Reply::Ok(std::string body, std::string contentType) {
    Reply r;
    r.body = std::move(body);
    r.headers.emplace_back("Content-Type", std::move(contentType));
    return r;
}

Reply Reply::Status(int status, std::string body) {
    Reply r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

Reply Reply::Redirect(std::string location, int status) {
    Reply r;
    r.status = status;
    r.headers.emplace_back("Location", std::move(location));
    return r;
}

Reply Reply::NeverAnswer() {
    Reply r;
    r.neverAnswer = true;
    return r;
}

Reply Reply::Endless(std::string piece, std::chrono::milliseconds interval) {
    Reply r;
    r.body = std::move(piece);
    r.endless = true;
    r.chunkSize = std::max<std::size_t>(1, r.body.size());
    r.chunkInterval = interval;
    return r;
}

Reply Reply::CloseMidBody(std::string body) {
    Reply r;
    r.body = std::move(body);
    r.closeMidBody = true;
    return r;
}

Reply& Reply::Header(std::string name, std::string value) {
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
}

Reply& Reply::Cookie(std::string line) {
    setCookies.push_back(std::move(line));
    return *this;
}

HttpServer::HttpServer() : HttpServer(false) {}
HttpServer::HttpServer(bool forwardAsProxy) : impl_(std::make_unique<Impl>(forwardAsProxy)) {}
HttpServer::~HttpServer() = default;

bool HttpServer::started() const {
    return impl_->started();
}
int HttpServer::port() const {
    return impl_->port();
}
std::string HttpServer::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port());
}
std::string HttpServer::Url(std::string_view path) const {
    return BaseUrl() + std::string(path);
}
void HttpServer::Set(std::string path, Reply reply) {
    impl_->SetReply(std::move(path), std::move(reply));
}
std::vector<RecordedRequest> HttpServer::Requests() const {
    return impl_->Requests();
}
std::size_t HttpServer::RequestCount() const {
    return impl_->Requests().size();
}

std::vector<RecordedRequest> HttpServer::RequestsTo(std::string_view path) const {
    std::vector<RecordedRequest> out;
    for (auto& r : impl_->Requests())
        if (r.path == path) out.push_back(std::move(r));
    return out;
}

int HttpServer::ConnectionCount() const {
    return impl_->Connections();
}
void HttpServer::ClearRequests() {
    impl_->ClearRequests();
}

std::string HttpProxyServer::Address() const {
    return "127.0.0.1:" + std::to_string(port());
}

}  // namespace zembrat::testing
