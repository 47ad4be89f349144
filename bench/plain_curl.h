// The anchors the benchmarks measure the program against: plain libcurl loops over the same
// addresses, with nothing of the program in them. One reused easy handle for the one-at-a-time
// loops, one multi handle over a set of reused easy handles for the loop with downloads at once;
// the "and write" loops write each body to a new file (one open, one write, one close), the
// least a run that must store what it fetches can do.
#pragma once

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zembrat::bench {

// Images that came whole, and the seconds it took.
struct LoopResult {
    std::size_t images = 0;
    double seconds = 0;
    double cpuSeconds = 0;  // of the thread that ran it, where measured
    double Rate() const { return seconds > 0 ? static_cast<double>(images) / seconds : 0; }
};

// CPU seconds the calling thread has used, user and system.
inline double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

inline std::size_t AppendBody(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// One easy handle, kept for every request so its connection stays alive.
class PlainCurl {
  public:
    PlainCurl() : easy_(curl_easy_init()) {
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &AppendBody);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &body_);
    }
    ~PlainCurl() { curl_easy_cleanup(easy_); }
    PlainCurl(const PlainCurl&) = delete;
    PlainCurl& operator=(const PlainCurl&) = delete;

    // The body's size; 0 when the transfer failed.
    std::size_t Fetch(const std::string& url) {
        body_.clear();
        curl_easy_setopt(easy_, CURLOPT_URL, url.c_str());
        return curl_easy_perform(easy_) == CURLE_OK ? body_.size() : 0;
    }
    const std::string& body() const { return body_; }
    CURL* handle() const { return easy_; }
    std::string& buffer() { return body_; }

  private:
    CURL* easy_;
    std::string body_;
};

// Writes bytes as the new file folder/name; false when anything failed.
inline bool WriteNewFile(const std::string& folder, const std::string& name,
                         const std::string& bytes) {
    const std::string file = folder + "/" + name;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return ::close(fd) == 0 && ok;
}

// The downloads one after another, bodies kept in memory; with folder given, each body is also
// written to a new file there (its names begin with prefix, so rounds do not meet).
inline LoopResult PlainLoop(const std::vector<std::string>& urls, const std::string& folder = {},
                            const std::string& prefix = {}) {
    using Clock = std::chrono::steady_clock;
    PlainCurl curl;
    LoopResult result;
    const auto start = Clock::now();
    const double cpuStart = ThreadCpuSeconds();
    for (const std::string& url : urls) {
        if (curl.Fetch(url) == 0) continue;
        if (!folder.empty() &&
            !WriteNewFile(folder, prefix + std::to_string(result.images), curl.body()))
            continue;
        ++result.images;
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    result.cpuSeconds = ThreadCpuSeconds() - cpuStart;
    return result;
}

// One multi handle over `atOnce` reused easy handles, a new address on each that ends; its
// connections stay alive from run to run.
class PlainMulti {
  public:
    explicit PlainMulti(std::size_t atOnce) : multi_(curl_multi_init()), bodies_(atOnce) {
        // As many idle connections kept as a batch uses, so none is closed between batches.
        curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, static_cast<long>(4 * atOnce));
        for (std::size_t i = 0; i < atOnce; ++i) {
            CURL* easy = curl_easy_init();
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &AppendBody);
            curl_easy_setopt(easy, CURLOPT_WRITEDATA, &bodies_[i]);
            curl_easy_setopt(easy, CURLOPT_PRIVATE, reinterpret_cast<char*>(i));
            easy_.push_back(easy);
        }
    }
    ~PlainMulti() {
        for (CURL* easy : easy_) curl_easy_cleanup(easy);
        curl_multi_cleanup(multi_);
    }
    PlainMulti(const PlainMulti&) = delete;
    PlainMulti& operator=(const PlainMulti&) = delete;

    // Downloads every address; done(body) for each that came, in the order they end. The number
    // of transfers that ended well.
    template <class Done>
    std::size_t Run(const std::vector<std::string>& urls, Done done) {
        std::size_t next = 0, good = 0, running = 0;
        auto start = [&](std::size_t i) {
            bodies_[i].clear();
            curl_easy_setopt(easy_[i], CURLOPT_URL, urls[next++].c_str());
            curl_multi_add_handle(multi_, easy_[i]);
            ++running;
        };
        for (std::size_t i = 0; i < easy_.size() && next < urls.size(); ++i) start(i);
        while (running > 0) {
            int still = 0;
            curl_multi_perform(multi_, &still);
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
                if (msg->msg != CURLMSG_DONE) continue;
                CURL* easy = msg->easy_handle;
                char* tag = nullptr;
                curl_easy_getinfo(easy, CURLINFO_PRIVATE, &tag);
                const auto i = reinterpret_cast<std::size_t>(tag);
                if (msg->data.result == CURLE_OK && done(bodies_[i])) ++good;
                curl_multi_remove_handle(multi_, easy);
                --running;
                if (next < urls.size()) start(i);
            }
            if (running > 0) curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
        }
        return good;
    }

  private:
    CURLM* multi_;
    std::vector<CURL*> easy_;
    std::vector<std::string> bodies_;
};

// The downloads `parallel` at once, each body written to a new file in folder when it has come.
inline LoopResult ParallelLoop(PlainMulti& multi, const std::vector<std::string>& urls,
                               const std::string& folder, const std::string& prefix) {
    using Clock = std::chrono::steady_clock;
    LoopResult result;
    std::size_t written = 0;
    const auto start = Clock::now();
    result.images = multi.Run(urls, [&](const std::string& body) {
        return WriteNewFile(folder, prefix + std::to_string(written++), body);
    });
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

}  // namespace zembrat::bench
