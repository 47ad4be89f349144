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

// The downloads at most `parallel` at once over one multi handle, in order of the list, each
// body written to a new file in folder when it has come.
inline LoopResult ParallelLoop(const std::vector<std::string>& urls, int parallel,
                               const std::string& folder, const std::string& prefix) {
    using Clock = std::chrono::steady_clock;
    CURLM* multi = curl_multi_init();
    std::vector<std::unique_ptr<PlainCurl>> pool;
    std::vector<PlainCurl*> idle;
    for (int i = 0; i < parallel; ++i) {
        pool.push_back(std::make_unique<PlainCurl>());
        curl_easy_setopt(pool.back()->handle(), CURLOPT_PRIVATE, pool.back().get());
        idle.push_back(pool.back().get());
    }
    LoopResult result;
    std::size_t next = 0;
    int running = 0;
    const auto start = Clock::now();
    while (next < urls.size() || running > 0) {
        while (next < urls.size() && !idle.empty()) {
            PlainCurl* curl = idle.back();
            idle.pop_back();
            curl->buffer().clear();
            curl_easy_setopt(curl->handle(), CURLOPT_URL, urls[next++].c_str());
            curl_multi_add_handle(multi, curl->handle());
        }
        curl_multi_perform(multi, &running);
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg != CURLMSG_DONE) continue;
            PlainCurl* curl = nullptr;
            curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &curl);
            const bool ok = msg->data.result == CURLE_OK;
            curl_multi_remove_handle(multi, msg->easy_handle);
            if (ok && WriteNewFile(folder, prefix + std::to_string(result.images), curl->body()))
                ++result.images;
            idle.push_back(curl);
        }
        if (running > 0) curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    pool.clear();
    curl_multi_cleanup(multi);
    return result;
}

}  // namespace zembrat::bench
