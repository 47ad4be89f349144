// Incremental runs against the first run over the same folder, and what keeping the run record
// costs the first run.
//
//     incremental_bench [articles] [delay ms]    (default 1000 and 20)
//
// Each article has three images, a tenth of them shared between articles; a loopback server
// delays every answer. Measured, one download at a time:
//   first run (record kept) and first run with the record switched off (aim: at most 5% more),
//   in turn over fresh result folders, two rounds each, the best round of each counting (the
//   machine's load then weighs on both alike);
//   a second run with the incremental option over the unchanged folder (no image request; aim:
//   at most 0.02 of the first run); the same after ten new articles (aim: at most 0.05).
// Exits non-zero when an aim is missed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <stdlib.h>

#include "job/result_folder.h"
#include "job/run.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "support/http_server.h"
#include "text/codec.h"
#include "web/web_client.h"

namespace {
using namespace zembrat;
using Clock = std::chrono::steady_clock;

constexpr int kImagesPerArticle = 3;
constexpr int kSharedPool = 30;  // the shared images, each used by about ten articles

std::string Image(const std::string& name) {
    return "\x89PNG\r\n\x1a\n" + name + std::string(2048, static_cast<char>(name.size()));
}

struct Corpus {
    testing::HttpServer& server;
    std::chrono::milliseconds delay;
    int images = 0;

    // Writes article number k into folder, its images set on the server.
    void Article(const std::string& folder, int k) {
        std::string text = "<html><body><p>article " + std::to_string(k) + "</p>\n";
        for (int j = 0; j < kImagesPerArticle; ++j) {
            const int n = k * kImagesPerArticle + j;
            const std::string path = n % 10 == 0
                                         ? "/s/" + std::to_string(n / 10 % kSharedPool) + ".png"
                                         : "/u/" + std::to_string(n) + ".png";
            testing::Reply reply = testing::Reply::Ok(Image(path), "image/png");
            reply.delay = delay;
            server.Set(path, reply);
            text += "<img src=\"" + server.Url(path) + "\">\n";
        }
        text += "</body></html>\n";
        platform::WriteWholeFile(folder + "/" + std::to_string(100000 + k) + ".htm", text);
    }
};

double Seconds(const job::RunInputs& inputs, job::RunCounts* counts = nullptr) {
    web::WebClient web;
    web.CreateRequest();
    platform::EventPoints events;
    job::RunObserver quiet;
    const auto start = Clock::now();
    const job::RunResult result = job::Run(inputs, web, events, quiet);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (counts) *counts = result.counts;
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int articles = argc > 1 ? std::atoi(argv[1]) : 1000;
    const std::chrono::milliseconds delay(argc > 2 ? std::atoi(argv[2]) : 20);
    testing::HttpServer server;
    if (!server.started()) {
        std::fprintf(stderr, "the loopback server did not start\n");
        return 2;
    }
    Corpus corpus{server, delay};
    std::string scratch =
        (std::filesystem::temp_directory_path() / "zembrat-bench-XXXXXX").string();
    if (!::mkdtemp(scratch.data())) return 2;
    const std::string root = text::GbkFromUtf8(scratch);
    auto inputs = [&](const std::string& folder) {
        job::RunInputs in;
        in.settings = {folder, "*.htm", "files/img", "", "new.site", ""};
        return in;
    };
    const std::string plain = root + "/plain", kept = root + "/kept";
    for (const std::string& folder : {plain, kept}) {
        std::filesystem::create_directories(platform::NativePath(folder));
        for (int k = 0; k < articles; ++k) corpus.Article(folder, k);
    }

    // The record's cost: the same first run with it switched off and with it, in turn.
    job::RunInputs off = inputs(plain);
    off.record = job::RecordUse::Never;
    double withoutRecord = 1e9, withRecord = 1e9;
    job::RunCounts first;
    std::size_t firstRequests = 0;
    for (int round = 0; round < 2; ++round) {
        for (const std::string& folder : {plain, kept})
            std::filesystem::remove_all(platform::NativePath(job::ResultFolder(folder)));
        withoutRecord = std::min(withoutRecord, Seconds(off));
        server.ClearRequests();
        withRecord = std::min(withRecord, Seconds(inputs(kept), &first));
        firstRequests = server.RequestCount();
    }

    job::RunInputs incremental = inputs(kept);
    incremental.options.incremental = true;
    server.ClearRequests();
    job::RunCounts second;
    const double unchanged = Seconds(incremental, &second);
    const std::size_t secondRequests = server.RequestCount();

    for (int k = articles; k < articles + 10; ++k) corpus.Article(kept, k);
    server.ClearRequests();
    job::RunCounts third;
    const double tenNew = Seconds(incremental, &third);

    const double recordCost = withRecord / withoutRecord - 1;
    const double unchangedRatio = unchanged / withRecord;
    const double tenNewRatio = tenNew / withRecord;
    std::printf("%d articles, %d images each (a tenth shared), answers delayed %lld ms\n", articles,
                kImagesPerArticle, static_cast<long long>(delay.count()));
    std::printf("first run, record off:         %8.3f s\n", withoutRecord);
    std::printf(
        "first run, record kept:        %8.3f s  (%zu requests, %zu articles written)  "
        "record cost %+.2f%% (aim <= 5%%)\n",
        withRecord, firstRequests, first.articlesWritten, recordCost * 100);
    std::printf(
        "incremental, unchanged:        %8.3f s  (%zu requests, %zu skipped)  "
        "ratio %.4f (aim <= 0.02)\n",
        unchanged, secondRequests, second.articlesSkipped, unchangedRatio);
    std::printf(
        "incremental, 10 new articles:  %8.3f s  (%zu requests, %zu written, %zu "
        "skipped)  ratio %.4f (aim <= 0.05)\n",
        tenNew, server.RequestCount(), third.articlesWritten, third.articlesSkipped, tenNewRatio);
    const bool met = recordCost <= 0.05 && secondRequests == 0 && unchangedRatio <= 0.02 &&
                     tenNewRatio <= 0.05 && third.articlesWritten == 10;
    std::printf("%s\n", met ? "all aims met" : "AIM MISSED");
    std::filesystem::remove_all(scratch);
    return met ? 0 : 1;
}
