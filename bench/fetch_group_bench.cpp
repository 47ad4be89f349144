// Downloads at once through web::FetchGroup against a plain libcurl multi loop with as many
// reused easy handles (nothing else), over the same loopback URLs, in the same run. The server
// delays every answer, as a distant image host would.
//
//     fetch_group_bench [requests] [at once] [delay ms]      (default 400 8 20)
//
// Prints requests per second for both and their ratio; the aim is a ratio of at least 0.75.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image_server.h"
#include "support/http_server.h"
#include "web/fetch_group.h"
#include "web/web_client.h"

namespace {

using Clock = std::chrono::steady_clock;

// The baseline: one multi handle, `atOnce` easy handles reused, a new URL on each that ends.
class PlainMulti {
  public:
    explicit PlainMulti(std::size_t atOnce) : multi_(curl_multi_init()), bodies_(atOnce) {
        for (std::size_t i = 0; i < atOnce; ++i) {
            CURL* easy = curl_easy_init();
            curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &zembrat::bench::AppendToString);
            curl_easy_setopt(easy, CURLOPT_WRITEDATA, &bodies_[i]);
            curl_easy_setopt(easy, CURLOPT_PRIVATE, reinterpret_cast<char*>(i));
            easy_.push_back(easy);
        }
    }
    ~PlainMulti() {
        for (CURL* easy : easy_) curl_easy_cleanup(easy);
        curl_multi_cleanup(multi_);
    }
    // The number of downloads that came back with the expected size.
    std::size_t Run(const std::vector<std::string>& urls, std::size_t expected) {
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
                if (msg->data.result == CURLE_OK && bodies_[i].size() == expected) ++good;
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

std::size_t RunGroup(zembrat::web::FetchGroup& group, const std::vector<std::string>& urls,
                     std::size_t expected) {
    std::size_t next = 0, good = 0;
    while (next < urls.size() || group.Running() > 0) {
        while (next < urls.size() && group.CanStart(urls[next])) {
            group.Start(next, urls[next]);
            ++next;
        }
        for (const auto& r : group.Wait(std::nullopt))
            if (r.status == 200 && r.body.size() == expected) ++good;
    }
    return good;
}

template <class Run>
double Seconds(Run run, std::size_t wanted) {
    const auto start = Clock::now();
    const std::size_t good = run();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return good == wanted ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 400;
    const int atOnce = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 16) : 8;
    const int delayMs = argc > 3 ? std::max(0, std::atoi(argv[3])) : 20;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    zembrat::testing::HttpServer server;
    const auto served =
        zembrat::bench::ServeImage(server, requests, std::chrono::milliseconds(delayMs));
    if (!served) return 1;
    const std::vector<std::string>& urls = served->urls;
    const std::size_t imageSize = served->imageSize;

    // Both sides keep their connections for the whole run and take turns, so a change in the
    // machine's load hits both alike; the best of three rounds of each side counts.
    PlainMulti plain(static_cast<std::size_t>(atOnce));
    zembrat::web::WebClient client;
    client.CreateRequest();
    // One host here: the per-host place limit goes up to atOnce so both sides run as many.
    zembrat::web::FetchGroup group(client, atOnce, atOnce);
    const auto wanted = static_cast<std::size_t>(requests);
    double plainBest = 1e30, ourBest = 1e30;
    for (int round = 0; round < 3; ++round) {
        const double p = Seconds([&] { return plain.Run(urls, imageSize); }, wanted);
        const double o = Seconds([&] { return RunGroup(group, urls, imageSize); }, wanted);
        if (p < 0 || o < 0) {
            std::fprintf(stderr, "a download came back wrong\n");
            return 1;
        }
        plainBest = std::min(plainBest, p);
        ourBest = std::min(ourBest, o);
    }
    const double plainRate = requests / plainBest;
    const double ourRate = requests / ourBest;
    std::printf(
        "%d downloads of a 20 KB image, %d at once, each answer delayed %d ms, from "
        "127.0.0.1 (best of 3 rounds)\n",
        requests, atOnce, delayMs);
    std::printf("plain libcurl multi loop %10.0f requests/s\n", plainRate);
    std::printf("web::FetchGroup          %10.0f requests/s\n", ourRate);
    std::printf("ratio                    %10.3f (target >= 0.75)\n", ourRate / plainRate);
    curl_global_cleanup();
    return 0;
}
