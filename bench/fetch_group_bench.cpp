// Downloads at once through web::FetchGroup against a plain libcurl multi loop with as many
// reused easy handles (nothing else), over the same loopback URLs, in the same run. The server
// delays every answer, as a distant image host would.
//
//     fetch_group_bench [requests] [at once] [delay ms]      (default 400 8 20)
//     fetch_group_bench endless
//
// Prints requests per second for both and their ratio; the aim is a ratio of at least 0.75.
//
// endless: the memory the group takes while bodies that never end come in, 16 and 64 at once,
// over HTTP/1.1 (a connection each) and over HTTP/2 (streams of one connection to nginx): the
// process's peak resident memory above what it held before (aim: at most 600 MB); every body
// must be refused as too large.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image_server.h"
#include "plain_curl.h"
#include "support/http2_server.h"
#include "support/http_server.h"
#include "support/https_server.h"
#include "support/raw_server.h"
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

// Starts atOnce downloads of url (each its own address) and waits for all; the peak growth of
// the process's resident memory in MB, or a negative number when a body was not refused as too
// large.
double EndlessPeakMb(const std::string& url, int atOnce, bool sameHost) {
    zembrat::web::WebClient client;
    client.CreateRequest();
    // Over HTTP/1.1 one host gets eight connections; the bodies come from one host here, so
    // the per-host limit goes up to atOnce to have as many running.
    zembrat::web::FetchGroup group(
        client, atOnce, sameHost ? atOnce : zembrat::web::FetchGroup::kDefaultMaxPerHost);
    const std::uint64_t before = zembrat::testing::ResidentKb();
    if (!zembrat::testing::ResetPeakResident()) return -1;
    std::size_t next = 0, refused = 0, ended = 0;
    const auto total = static_cast<std::size_t>(atOnce);
    while (ended < total) {
        while (next < total && group.CanStart(url))
            group.Start(next, url + "?n=" + std::to_string(next)), ++next;
        for (const auto& r : group.Wait(Clock::now() + std::chrono::seconds(60))) {
            ++ended;
            if (r.failure == zembrat::platform::TransferFailure::TooLarge) ++refused;
        }
    }
    const std::uint64_t peak = zembrat::testing::PeakResidentKb();
    if (refused != total) return -1;
    return static_cast<double>(peak - before) * 1024 / 1e6;
}

int EndlessBodies() {
    setenv("SSL_CERT_FILE", zembrat::testing::HttpsServer::CaFile().c_str(), 1);
    zembrat::testing::HttpServer server;
    server.Set("/endless", zembrat::testing::Reply::Endless(std::string(256 * 1024, 'e'),
                                                            std::chrono::milliseconds(0)));
    zembrat::testing::Http2Server h2({.http2 = true});
    if (!server.started() || !h2.started() || !h2.PutSparse("/endless", 1ull << 36)) {
        std::fprintf(stderr, "a server did not start: %s\n", h2.error().c_str());
        return 1;
    }
    std::printf(
        "Bodies that never end, all refused at the group's budget; the process's peak "
        "resident memory above what it held before (aim: at most 600 MB)\n");
    bool ok = true;
    for (const int atOnce : {16, 64}) {
        const double http1 = EndlessPeakMb(server.Url("/endless"), atOnce, true);
        const double http2 = EndlessPeakMb(h2.Url("/endless"), atOnce, false);
        ok = ok && http1 >= 0 && http2 >= 0 && http1 <= 600 && http2 <= 600;
        std::printf("%2d at once: HTTP/1.1 %6.0f MB, HTTP/2 %6.0f MB\n", atOnce, http1, http2);
    }
    return ok ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "endless") return EndlessBodies();
    const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 400;
    const int atOnce = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 64) : 8;
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
