// Whole runs of the real program (the command line, a child process, timed from its start to
// its end) against curl and plain libcurl loops over the same addresses, in the same run.
//
//     at_once_bench [rounds]     (default 10)
//
// Downloads at once: 240 image references at 1, 3, 10 and 40 per article, every answer 20 ms
// late as from a distant site; `zembrat --run --jobs 8` against
// `curl --parallel --parallel-max 8` writing the same files (aim: at least 0.85 at every size),
// medians of the rounds. Every round counts: the slowest round of each side is printed beside
// its median (aim: at most 1.1 times it), so a run that stalls now and then shows. With
// ZEMBRAT_BENCH_ROUNDS=1 each round is told on standard error with what the server saw of it;
// with ZEMBRAT_BENCH_JITTER=1 the answers come 10-30 ms late and one image in 60 300 ms later
// still (a late answer must not idle the other downloads).
//
// One at a time: 300 articles of 20 references answered at once; `zembrat --run` (keeping no
// record) against a loop that fetches and writes each image (aim: at least 0.9), and
// `zembrat --run --incremental` from a clean result folder, keeping the whole record (aim: at
// least 0.85), the medians of the rounds, with the CPU time per image of each. With
// ZEMBRAT_BENCH_BASELINE=<another zembrat>, that build is timed in the same rounds too (at
// every part). Run with TMPDIR=/dev/shm to keep the disk out of it.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "child_run.h"
#include "plain_curl.h"
#include "platform/files.h"
#include "record/run_record.h"
#include "run_corpus.h"
#include "support/file_tree.h"
#include "support/http2_server.h"
#include "support/http_server.h"
#include "support/https_server.h"
#include "text/codec.h"

namespace {
using namespace zembrat;
using namespace zembrat::text::literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// The seconds a child run took from its start to its end, or a negative number when it did not
// end with status 0; cpu: where its CPU seconds go.
double TimedRun(std::vector<std::string> args, double* cpu = nullptr) {
    const auto start = Clock::now();
    if (bench::RunChild(std::move(args), cpu) != 0) return -1;
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    return n == 0 ? 0 : n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

// The slowest of the rounds: a stall in one round in two shows here, not in the median.
double Slowest(const std::vector<double>& times) {
    return times.empty() ? 0 : *std::max_element(times.begin(), times.end());
}

// One round of downloads at once as the server saw it: the connections the program opened, the
// most requests it had at once, and the longest time no request arrived (a stall shows there).
void PrintRound(int perArticle, int round, double program, double curl, int connections,
                const std::vector<testing::RecordedRequest>& requests) {
    int most = 0;
    double gap = 0;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        most = std::max(most, requests[i].inProgress);
        if (i > 0)
            gap = std::max(
                gap, std::chrono::duration<double>(requests[i].arrived - requests[i - 1].arrived)
                         .count());
    }
    std::fprintf(stderr,
                 "%d/article, round %d: zembrat %.3f s (%zu requests, %d connections, at most %d "
                 "at once, longest gap %.3f s), curl %.3f s\n",
                 perArticle, round, program, requests.size(), connections, most, gap, curl);
}

// The program's run over folder (native path), from a clean result folder; extra: more switches.
double ProgramRun(const fs::path& folder, const std::string& settings, int jobs,
                  const char* executable = ZEMBRAT_EXECUTABLE,
                  const std::vector<std::string>& extra = {}, double* cpu = nullptr) {
    fs::remove_all(folder / "转存结果");
    std::vector<std::string> args{executable, "--run",   folder.string(), "--settings",
                                  settings,   "--quiet", "--jobs",        std::to_string(jobs)};
    args.insert(args.end(), extra.begin(), extra.end());
    return TimedRun(std::move(args), cpu);
}

// curl's own parallel transfers writing each address to a file of its own, `parallel` at once;
// extra: more of curl's switches.
double CurlRun(const std::vector<std::string>& urls, const fs::path& out, int parallel = 8,
               const std::vector<std::string>& extra = {}) {
    fs::remove_all(out);
    fs::create_directories(out);
    const fs::path config = out / "urls.conf";
    {
        std::ofstream c(config);
        for (std::size_t i = 0; i < urls.size(); ++i)
            c << "url = \"" << urls[i] << "\"\noutput = \"" << (out / std::to_string(i)).string()
              << "\"\n";
    }
    std::vector<std::string> args{"curl",       "--silent",       "--fail",
                                  "--parallel", "--parallel-max", std::to_string(parallel),
                                  "--config",   config.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return TimedRun(std::move(args));
}

// Every file of a run's result folder with its bytes, the run record (which keeps the run's
// times) left out.
std::map<std::string, std::string> ResultTree(const fs::path& folder) {
    return testing::FilesBelow(folder / "转存结果", record::RunRecord::FileName());
}

// Downloads at once over HTTP/2: nginx over TLS on 127.0.0.1, every answer 20 ms late, 24
// articles of 40 images. `zembrat --https --jobs 32` against `curl --http2 --parallel-max 32`
// writing the same files (aim: at least 0.9), and against the same run over HTTP/1.1 with
// --jobs 8 (from an nginx that speaks HTTP/1.1 only; aim: at least 3 times as fast); the
// result must be byte for byte that of --jobs 1. False when a run failed.
bool Http2Part(const fs::path& root, const std::string& settings, int rounds) {
    setenv("SSL_CERT_FILE", testing::HttpsServer::CaFile().c_str(), 1);
    const std::chrono::milliseconds delay(20);
    testing::Http2Server h2({.http2 = true, .delay = delay}), h1({.http2 = false, .delay = delay});
    for (const testing::Http2Server* s : {&h2, &h1}) {
        if (!s->started()) {
            std::fprintf(stderr, "nginx: %s\n", s->error().c_str());
            return false;
        }
    }
    const auto corpusOn = [&](const testing::Http2Server& server, const fs::path& folder) {
        fs::create_directories(folder);
        return bench::MakeRunCorpusWith(
            [&](const std::string& path, const std::string& body) {
                server.Put(path, body);
                return server.Url(path);
            },
            platform::GbkFromNative(folder.string()), 24, 40);
    };
    const fs::path over2 = root / "http2", over1 = root / "http1";
    const bench::RunCorpus corpus = corpusOn(h2, over2);
    corpusOn(h1, over1);
    const std::vector<std::string> https{"--https"};
    std::vector<double> ours, curls, http1;
    bool complete = true;
    for (int r = 0; r < rounds; ++r) {
        curls.push_back(CurlRun(corpus.fetched, root / "curl-out", 32,
                                {"--http2", "--cacert", testing::HttpsServer::CaFile()}));
        ours.push_back(ProgramRun(over2, settings, 32, ZEMBRAT_EXECUTABLE, https));
        http1.push_back(ProgramRun(over1, settings, 8, ZEMBRAT_EXECUTABLE, https));
        if (std::getenv("ZEMBRAT_BENCH_ROUNDS"))
            std::fprintf(stderr,
                         "HTTP/2, round %d: zembrat -j32 %.3f s, curl -Z 32 %.3f s, zembrat -j8 "
                         "over HTTP/1.1 %.3f s\n",
                         r + 1, ours.back(), curls.back(), http1.back());
    }
    for (const auto* times : {&ours, &curls, &http1})
        for (const double t : *times) complete = complete && t > 0;
    // What the last run at 32 wrote, against one at a time (once, untimed: 20 s of waits).
    const auto atOnce = ResultTree(over2);
    const bool oneRan = ProgramRun(over2, settings, 1, ZEMBRAT_EXECUTABLE, https) > 0;
    const auto oneByOne = ResultTree(over2);
    const bool same = oneRan && !atOnce.empty() && atOnce == oneByOne;
    std::set<long> connections;
    std::size_t overHttp2 = 0;
    const auto requests =
        h2.Requests((2 * static_cast<std::size_t>(rounds) + 1) * corpus.fetched.size());
    for (const auto& q : requests) overHttp2 += q.protocol == "HTTP/2.0" ? 1 : 0;
    const double images = static_cast<double>(corpus.fetched.size());
    std::printf(
        "\nDownloads at once over HTTP/2: 24 articles x 40 references over https, every answer "
        "20 ms late (medians of %d rounds)\n",
        rounds);
    std::printf("zembrat --jobs 32 (HTTP/2):       %6.0f images/s (slowest/median %.2f)\n",
                images / Median(ours), Slowest(ours) / Median(ours));
    std::printf("curl --http2 -Z 32:               %6.0f images/s (slowest/median %.2f)\n",
                images / Median(curls), Slowest(curls) / Median(curls));
    std::printf("zembrat --jobs 8 (HTTP/1.1):      %6.0f images/s (slowest/median %.2f)\n",
                images / Median(http1), Slowest(http1) / Median(http1));
    std::printf("ratio to curl:                    %6.2f (aim: at least 0.9)\n",
                Median(curls) / Median(ours));
    std::printf("speed-up over HTTP/1.1 --jobs 8:  %6.2f (aim: at least 3)\n",
                Median(http1) / Median(ours));
    std::printf(
        "result byte for byte that of --jobs 1: %s (%zu files); %zu of %zu requests "
        "over HTTP/2\n",
        same ? "yes" : "NO", atOnce.size(), overHttp2, requests.size());
    return complete && same;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::printf("Machine: %ld cores\n", sysconf(_SC_NPROCESSORS_ONLN));
    const fs::path root =
        fs::temp_directory_path() / ("zembrat-at-once-" + std::to_string(getpid()));
    fs::create_directories(root);
    const std::string settings = (root / "Zembrat.ini").string();
    platform::WriteWholeFile(platform::GbkFromNative(settings), "");
    bool complete = true;

    // ZEMBRAT_BENCH_ONLY=one runs only the one-at-a-time part (for profiling it), =at-once only
    // the downloads at once.
    const char* only = std::getenv("ZEMBRAT_BENCH_ONLY");
    bool atOnce = !only || std::string(only) != "one";
    const bool oneAtATime =
        !only || (std::string(only) != "at-once" && std::string(only) != "http2");
    const bool http2 = !only || std::string(only) == "http2";
    if (only && std::string(only) == "http2") atOnce = false;
    // ZEMBRAT_BENCH_BASELINE names another build of the program, timed in the same rounds.
    const char* baseline = std::getenv("ZEMBRAT_BENCH_BASELINE");
    // ZEMBRAT_BENCH_JITTER=1: the answers come 10-30 ms late, and one image in 60 300 ms later
    // still, as from a busy site: a late answer must not idle the other downloads.
    const bool jitter = std::getenv("ZEMBRAT_BENCH_JITTER") != nullptr;
    const bench::AnswerDelay delay =
        jitter ? bench::AnswerDelay{std::chrono::milliseconds(20), std::chrono::milliseconds(10),
                                    60, std::chrono::milliseconds(300)}
               : bench::AnswerDelay{std::chrono::milliseconds(20)};
    if (atOnce) {
        std::printf("\nDownloads at once: 240 references, every answer %s\n",
                    jitter ? "10-30 ms late, one in 60 300 ms later still" : "20 ms late");
        std::printf("%-18s %12s %12s %8s %10s %10s%s\n", "images/article", "zembrat -j8",
                    "curl -Z 8", "ratio", "slowest/m", "curl s/m",
                    baseline ? "  speedup  base s/m" : "");
    }
    for (const int perArticle : {1, 3, 10, 40}) {
        if (!atOnce) break;
        testing::HttpServer server;
        if (!server.started()) return 1;
        const fs::path folder = root / ("at-once-" + std::to_string(perArticle));
        fs::create_directories(folder);
        const bench::RunCorpus corpus = bench::MakeRunCorpus(
            server, platform::GbkFromNative(folder), 240 / perArticle, perArticle, delay);
        std::vector<double> programs, curls, baselines;
        for (int r = 0; r < rounds; ++r) {
            curls.push_back(CurlRun(corpus.fetched, root / "curl-out"));
            const int connectionsBefore = server.ConnectionCount();
            server.ClearRequests();
            programs.push_back(ProgramRun(folder, settings, 8));
            if (std::getenv("ZEMBRAT_BENCH_ROUNDS"))
                PrintRound(perArticle, r + 1, programs.back(), curls.back(),
                           server.ConnectionCount() - connectionsBefore, server.Requests());
            if (baseline) baselines.push_back(ProgramRun(folder, settings, 8, baseline));
        }
        for (const auto* times : {&programs, &curls, &baselines})
            for (const double t : *times) complete = complete && t > 0;
        const double images = static_cast<double>(corpus.fetched.size());
        std::printf("%-18d %8.0f i/s %8.0f i/s %8.2f %10.2f %10.2f", perArticle,
                    images / Median(programs), images / Median(curls),
                    Median(curls) / Median(programs), Slowest(programs) / Median(programs),
                    Slowest(curls) / Median(curls));
        if (baseline)
            std::printf(" %8.2f %10.2f", Median(baselines) / Median(programs),
                        Slowest(baselines) / Median(baselines));
        std::printf("\n");
    }
    if (atOnce)
        std::printf(
            "(medians of %d rounds; aims: ratio at least 0.85, slowest round at most 1.1 "
            "times the median)\n",
            rounds);

    if (http2) complete = Http2Part(root, settings, rounds) && complete;

    if (oneAtATime) {
        testing::HttpServer server;
        if (!server.started()) return 1;
        const fs::path folder = root / "one-at-a-time";
        fs::create_directories(folder);
        const bench::RunCorpus corpus =
            bench::MakeRunCorpus(server, platform::GbkFromNative(folder), 300, 20);
        const std::string anchor = (root / "anchor").string();
        fs::create_directories(anchor);
        std::vector<double> programs, loops, baselines, incrementals, baseIncrementals;
        double programCpu = 0, incrementalCpu = 0, loopCpu = 0;  // summed over the rounds
        int round = 0;
        const auto timed = [&](std::vector<double>& times, const char* executable,
                               const std::vector<std::string>& extra, double* cpuSum) {
            double cpu = 0;
            times.push_back(ProgramRun(folder, settings, 1, executable, extra, &cpu));
            if (cpuSum) *cpuSum += cpu;
        };
        for (int r = 0; r < rounds; ++r) {
            const bench::LoopResult loop =
                bench::PlainLoop(corpus.fetched, anchor, std::to_string(++round) + "-");
            loops.push_back(loop.seconds);
            loopCpu += loop.cpuSeconds;
            // The runs take turns at going first: the run after the loop is slower. Each
            // incremental run starts from a clean result folder: it keeps the whole record.
            if (baseline && r % 2) {
                timed(baselines, baseline, {}, nullptr);
                timed(baseIncrementals, baseline, {"--incremental"}, nullptr);
            }
            if (r % 2) timed(incrementals, ZEMBRAT_EXECUTABLE, {"--incremental"}, &incrementalCpu);
            timed(programs, ZEMBRAT_EXECUTABLE, {}, &programCpu);
            if (r % 2 == 0)
                timed(incrementals, ZEMBRAT_EXECUTABLE, {"--incremental"}, &incrementalCpu);
            if (baseline && r % 2 == 0) {
                timed(baseIncrementals, baseline, {"--incremental"}, nullptr);
                timed(baselines, baseline, {}, nullptr);
            }
        }
        for (const auto* times : {&programs, &baselines, &incrementals, &baseIncrementals}) {
            for (const double t : *times) complete = complete && t > 0;
        }
        const double images = static_cast<double>(corpus.fetched.size());
        const auto rate = [&](const std::vector<double>& times) { return images / Median(times); };
        const auto perImage = [&](double cpu) { return cpu * 1e6 / (images * rounds); };
        std::printf(
            "\nOne at a time: 300 articles x 20 references answered at once, from the program's "
            "start to its end (medians of %d rounds; CPU per image, the process's user and "
            "system time, and the loop thread's)\n",
            rounds);
        std::printf("zembrat --run:               %6.0f images/s, %4.0f us CPU per image\n",
                    rate(programs), perImage(programCpu));
        std::printf("zembrat --run --incremental: %6.0f images/s, %4.0f us CPU per image\n",
                    rate(incrementals), perImage(incrementalCpu));
        if (baseline) std::printf("baseline --run:              %6.0f images/s\n", rate(baselines));
        std::printf("fetch-and-write loop:        %6.0f images/s, %4.0f us CPU per image\n",
                    rate(loops), perImage(loopCpu));
        std::printf("ratio, no record:            %6.2f (aim: at least 0.9)\n",
                    rate(programs) / rate(loops));
        std::printf("ratio, --incremental:        %6.2f (aim: at least 0.85)\n",
                    rate(incrementals) / rate(loops));
        if (baseline) {
            std::printf("baseline ratio:              %6.2f\n", rate(baselines) / rate(loops));
            std::printf("zembrat / baseline:          %6.2f (speed-up)\n",
                        rate(programs) / rate(baselines));
            std::printf("baseline --incremental:      %6.2f of the loop; speed-up %.2f\n",
                        rate(baseIncrementals) / rate(loops),
                        rate(incrementals) / rate(baseIncrementals));
        }
    }
    fs::remove_all(root);
    return complete ? 0 : 2;
}
