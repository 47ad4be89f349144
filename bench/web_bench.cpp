// Sequential image downloads through WebClient::FetchBytes against a plain libcurl loop (one
// reused easy handle, nothing else) over the same loopback URLs, in the same run.
//
//     web_bench [requests]      (default 2000)
//
// Prints requests per second for both and their ratio; the aim is a ratio of at least 0.9.
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
#include "web/web_client.h"

namespace {

using Clock = std::chrono::steady_clock;

// Seconds for urls[from, to), or a negative value when a download came back wrong.
template <class Fetch>
double Time(const std::vector<std::string>& urls, std::size_t from, std::size_t to,
            std::size_t expected, Fetch fetch) {
    bool ok = true;
    const auto start = Clock::now();
    for (std::size_t i = from; i < to; ++i) ok = ok && fetch(urls[i]) == expected;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return ok ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    zembrat::testing::HttpServer server;
    const auto served = zembrat::bench::ServeImage(server, requests);
    if (!served) return 1;
    const std::vector<std::string>& urls = served->urls;
    const std::size_t imageSize = served->imageSize;

    // Both sides keep their connection for the whole run. Each round runs all URLs on both
    // sides in alternating batches of 100, so a change in the machine's load hits both alike;
    // the best round of each side counts.
    zembrat::bench::PlainCurl plain;
    zembrat::web::WebClient client;
    client.CreateRequest();
    const std::size_t batch = 100;
    double plainBest = 1e30, ourBest = 1e30;
    for (int round = 0; round < 3; ++round) {
        double plainTotal = 0, ourTotal = 0;
        for (std::size_t from = 0; from < urls.size(); from += batch) {
            const std::size_t to = std::min(urls.size(), from + batch);
            const double p = Time(urls, from, to, imageSize,
                                  [&](const std::string& u) { return plain.Fetch(u); });
            const double o = Time(urls, from, to, imageSize, [&](const std::string& u) {
                return client.FetchBytes(u).size();
            });
            if (p < 0 || o < 0) {
                std::fprintf(stderr, "a download came back wrong\n");
                return 1;
            }
            plainTotal += p;
            ourTotal += o;
        }
        plainBest = std::min(plainBest, plainTotal);
        ourBest = std::min(ourBest, ourTotal);
    }
    const double plainRate = requests / plainBest;
    const double ourRate = requests / ourBest;
    std::printf("%d sequential downloads of a 20 KB image from 127.0.0.1 (best of 3 rounds)\n",
                requests);
    std::printf("plain libcurl loop      %10.0f requests/s\n", plainRate);
    std::printf("WebClient::FetchBytes   %10.0f requests/s\n", ourRate);
    std::printf("ratio                   %10.3f (target >= 0.9)\n", ourRate / plainRate);
    curl_global_cleanup();
    return 0;
}
