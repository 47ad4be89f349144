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

#include "support/http_server.h"
#include "web/web_client.h"

namespace {

using Clock = std::chrono::steady_clock;

size_t Append(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// Seconds for all URLs, or a negative value when a download came back wrong.
double PlainCurl(const std::vector<std::string>& urls, std::size_t expected) {
    CURL* easy = curl_easy_init();
    std::string body;
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    bool ok = true;
    const auto start = Clock::now();
    for (const std::string& url : urls) {
        body.clear();
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        ok = ok && curl_easy_perform(easy) == CURLE_OK && body.size() == expected;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    curl_easy_cleanup(easy);
    return ok ? seconds : -1;
}

double ThroughWebClient(const std::vector<std::string>& urls, std::size_t expected) {
    zembrat::web::WebClient client;
    client.CreateRequest();
    bool ok = true;
    const auto start = Clock::now();
    for (const std::string& url : urls) ok = ok && client.FetchBytes(url).size() == expected;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return ok ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    zembrat::testing::HttpServer server;
    if (!server.started()) {
        std::fprintf(stderr, "the loopback server did not start\n");
        return 1;
    }
    std::string image(20 * 1024, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 131 % 251);
    server.Set("/img.jpg", zembrat::testing::Reply::Ok(image, "image/jpeg"));
    std::vector<std::string> urls;
    for (int i = 0; i < requests; ++i)
        urls.push_back(server.Url("/img.jpg?n=" + std::to_string(i)));

    // Rounds alternate so that neither side always runs on a warmer machine; the best round of
    // each counts.
    double plainBest = 1e30, ourBest = 1e30;
    for (int round = 0; round < 3; ++round) {
        const double plain = PlainCurl(urls, image.size());
        const double ours = ThroughWebClient(urls, image.size());
        if (plain < 0 || ours < 0) {
            std::fprintf(stderr, "a download came back wrong\n");
            return 1;
        }
        plainBest = std::min(plainBest, plain);
        ourBest = std::min(ourBest, ours);
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
