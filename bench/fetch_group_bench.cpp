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
// over HTTP/1.1 (a connection each, chunked without end) and over HTTP/2 (streams of one
// connection to nginx, a file of 250 MiB: declared below the body limit, so curl takes it in
// until the group's share refuses it, as it does an endless one): the process's peak resident
// memory above what it held before (aim: at most 600 MB); every body must be refused as too
// large.
#include <curl/curl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
// the process's resident memory in MB, or a negative number when a download failed otherwise
// than as too large. refused: how many were refused as too large (a body may also come whole
// when the others have ended and its share has grown to its size).
double EndlessPeakMb(const std::string& url, int atOnce, bool sameHost, std::size_t& refused) {
    zembrat::web::WebClient client;
    client.CreateRequest();
    client.SetOpensHttps(true);  // the https option: an https address is fetched as it is
    // Over HTTP/1.1 one host gets eight connections; the bodies come from one host here, so
    // the per-host limit goes up to atOnce to have as many running.
    zembrat::web::FetchGroup group(
        client, atOnce, sameHost ? atOnce : zembrat::web::FetchGroup::kDefaultMaxPerHost);
    const std::uint64_t before = zembrat::testing::ResidentKb();
    if (!zembrat::testing::ResetPeakResident()) return -1;
    std::size_t next = 0, ended = 0;
    bool ok = true;
    refused = 0;
    const auto total = static_cast<std::size_t>(atOnce);
    while (ended < total) {
        while (next < total && group.CanStart(url)) {
            group.Start(next, url + "?n=" + std::to_string(next));
            ++next;
        }
        for (const auto& r : group.Wait(Clock::now() + std::chrono::seconds(60))) {
            ++ended;
            if (r.failure == zembrat::platform::TransferFailure::TooLarge)
                ++refused;
            else
                ok = ok && r.failure == zembrat::platform::TransferFailure::None;
        }
    }
    const std::uint64_t peak = zembrat::testing::PeakResidentKb();
    return ok ? static_cast<double>(peak - before) * 1024 / 1e6 : -1;
}

// A loopback server answering /endless with a body that never ends, in a child process of its
// own, so that its threads' memory does not count in this one's; its port, or 0.
int StartEndlessServer(pid_t& child) {
    int fds[2];
    if (::pipe(fds) != 0) return 0;
    child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        zembrat::testing::HttpServer server;
        server.Set("/endless", zembrat::testing::Reply::Endless(std::string(256 * 1024, 'e'),
                                                                std::chrono::milliseconds(0)));
        const int port = server.started() ? server.port() : 0;
        if (::write(fds[1], &port, sizeof port) != sizeof port) ::_exit(1);
        ::pause();  // until the benchmark ends it
        ::_exit(0);
    }
    ::close(fds[1]);
    int port = 0;
    if (child < 0 || ::read(fds[0], &port, sizeof port) != sizeof port) port = 0;
    ::close(fds[0]);
    return port;
}

int EndlessBodies() {
    pid_t child = 0;
    const int port = StartEndlessServer(child);
    setenv("SSL_CERT_FILE", zembrat::testing::HttpsServer::CaFile().c_str(), 1);
    zembrat::testing::Http2Server h2({.http2 = true});
    const bool up = port > 0 && h2.started() && h2.PutSparse("/endless", 250ull << 20);
    if (!up) {
        std::fprintf(stderr, "a server did not start: %s\n", h2.error().c_str());
        if (child > 0) ::kill(child, SIGTERM);
        return 1;
    }
    const std::string endless = "http://127.0.0.1:" + std::to_string(port) + "/endless";
    std::printf(
        "Bodies that never end (HTTP/1.1) or of 250 MiB (HTTP/2) against the group's "
        "budget, the servers in processes of their own; the process's peak resident "
        "memory above what it held before (aim: at most 600 MB)\n");
    bool ok = true;
    for (const int atOnce : {16, 64}) {
        std::size_t refused1 = 0, refused2 = 0;
        const double http1 = EndlessPeakMb(endless, atOnce, true, refused1);
        const double http2 = EndlessPeakMb(h2.Url("/endless"), atOnce, false, refused2);
        ok = ok && http1 >= 0 && http2 >= 0 && http1 <= 600 && http2 <= 600;
        std::printf("%2d at once: HTTP/1.1 %4.0f MB (%zu refused), HTTP/2 %4.0f MB (%zu refused)\n",
                    atOnce, http1, refused1, http2, refused2);
    }
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
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
