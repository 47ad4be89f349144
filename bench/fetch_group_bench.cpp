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
#include "plain_curl.h"
#include "support/http_server.h"
#include "web/fetch_group.h"
#include "web/web_client.h"

namespace {

using Clock = std::chrono::steady_clock;

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
    zembrat::bench::PlainMulti plain(static_cast<std::size_t>(atOnce));
    zembrat::web::WebClient client;
    client.CreateRequest();
    // One host here: the per-host place limit goes up to atOnce so both sides run as many.
    zembrat::web::FetchGroup group(client, atOnce, atOnce);
    const auto wanted = static_cast<std::size_t>(requests);
    double plainBest = 1e30, ourBest = 1e30;
    for (int round = 0; round < 3; ++round) {
        const double p = Seconds(
            [&] {
                return plain.Run(urls,
                                 [&](const std::string& body) { return body.size() == imageSize; });
            },
            wanted);
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
