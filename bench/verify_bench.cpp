// Checking the public copies of a publish by content, over a loopback web server that answers
// each address 20 ms late (a CDN across the country).
//
//     verify_bench [addresses] [at-once]    (default 10000 and 16)
//
// The result's run record lists the images as stored and published to the target; the server
// serves each under the target's public address. Printed: the time to check them all, the time
// one at a time takes for a sample, scaled to all of them (the baseline, measured in the same run),
// and the ratio. Aim: 10,000 addresses in at most 30 s. Exits non-zero when the aim is missed or a
// copy was not found the same.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "publish/public_copies.h"
#include "publish/result_items.h"
#include "record/run_record.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/crc32.h"

namespace {
using namespace zembrat;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int atOnce = argc > 2 ? std::atoi(argv[2]) : 16;
    constexpr int kSample = 100;
    testing::HttpServer cdn;
    if (!cdn.started()) return 2;
    testing::TempDir dir;
    const std::string target = "dav://127.0.0.1:1/site/?public=" + cdn.Url("/site");
    std::string error;
    const auto parsed = publish::ParseTargetUrl(target, error);
    if (!parsed) return 2;
    const std::string place = publish::TargetPlace(*parsed);
    record::RunRecord record;
    if (record.Open(dir.path()) == record::OpenResult::Failed) return 2;
    record.Begin();
    std::vector<record::PublishedEntry> published;
    for (int i = 0; i < count; ++i) {
        const std::string bytes = "\x89PNG\r\n\x1a\n image " + std::to_string(i);
        const std::string path = "files/img/" + std::to_string(i) + ".png";
        record.PutImage({"http://web.example.com/" + std::to_string(i) + ".png", path, bytes.size(),
                         text::Crc32(bytes), "", "", record::Outcome::Stored, 1});
        published.push_back({place, path, bytes.size(), "", 1});
        testing::Reply reply = testing::Reply::Ok(bytes, "image/png");
        reply.delay = std::chrono::milliseconds(20);
        cdn.Set("/site/" + path, reply);
    }
    if (!record.Commit() || !record.PutPublished(published)) return 2;
    record.Close();

    publish::ResultPublishRequest request;
    request.resultFolder = dir.path();
    request.target = target;
    // The baseline: one at a time, over a sample of the record (a record of the sample alone).
    testing::TempDir sampleDir;
    {
        record::RunRecord sample;
        if (sample.Open(sampleDir.path()) == record::OpenResult::Failed) return 2;
        sample.Begin();
        std::vector<record::PublishedEntry> some(published.begin(), published.begin() + kSample);
        for (int i = 0; i < kSample; ++i) {
            const std::string bytes = "\x89PNG\r\n\x1a\n image " + std::to_string(i);
            sample.PutImage({"http://web.example.com/" + std::to_string(i) + ".png",
                             some[i].remotePath, bytes.size(), text::Crc32(bytes), "", "",
                             record::Outcome::Stored, 1});
        }
        if (!sample.Commit() || !sample.PutPublished(some)) return 2;
    }
    publish::ResultPublishRequest sampled = request;
    sampled.resultFolder = sampleDir.path();
    const auto sampleStart = Clock::now();
    const publish::PublicCopies one = publish::CheckPublicCopies(sampled, 1, {}, {});
    const double baseline = Seconds(Clock::now() - sampleStart) * count / kSample;

    const auto start = Clock::now();
    const publish::PublicCopies all = publish::CheckPublicCopies(request, atOnce, {}, {});
    const double ours = Seconds(Clock::now() - start);
    const std::size_t same = all.Count(publish::CopyOutcome::Same);
    std::printf(
        "verify %d addresses 20 ms away, %d at once: %.2f s; one at a time (scaled from "
        "%d): %.2f s; ratio %.1f; aim: at most 30 s for 10,000\n",
        count, atOnce, ours, kSample, baseline, baseline / ours);
    if (same != static_cast<std::size_t>(count) ||
        one.Count(publish::CopyOutcome::Same) != kSample) {
        std::fprintf(stderr, "only %zu of %d copies were found the same\n", same, count);
        return 1;
    }
    return ours * 10000.0 / count <= 30.0 ? 0 : 1;
}
