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
// ZEMBRAT_BENCH_ROUNDS=1 each round is told on standard error with what the server saw of it.
//
// One at a time: 300 articles of 20 references answered at once; `zembrat --run` against a
// loop that fetches and writes each image (aim: at least 0.85), the medians of the rounds. The
// same command line keeping no run record is timed in the same rounds, which shows the record's
// share (one SQLite transaction per article). With ZEMBRAT_BENCH_BASELINE=<another zembrat>,
// that build is timed in the same rounds too. Run with TMPDIR=/dev/shm to keep the disk out of
// it.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "child_run.h"
#include "plain_curl.h"
#include "platform/files.h"
#include "run_corpus.h"
#include "support/http_server.h"
#include "text/codec.h"

namespace {
using namespace zembrat;
using namespace zembrat::text::literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// The seconds a child run took from its start to its end, or a negative number when it did not
// end with status 0.
double TimedRun(std::vector<std::string> args) {
    const auto start = Clock::now();
    if (bench::RunChild(std::move(args)) != 0) return -1;
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

// The program's run over folder (native path), from a clean result folder.
double ProgramRun(const fs::path& folder, const std::string& settings, int jobs,
                  const char* executable = ZEMBRAT_EXECUTABLE) {
    fs::remove_all(folder / "转存结果");
    return TimedRun({executable, "--run", folder.string(), "--settings", settings, "--quiet",
                     "--jobs", std::to_string(jobs)});
}

// curl's own parallel transfers writing each address to a file of its own.
double CurlRun(const std::vector<std::string>& urls, const fs::path& out) {
    fs::remove_all(out);
    fs::create_directories(out);
    const fs::path config = out / "urls.conf";
    {
        std::ofstream c(config);
        for (std::size_t i = 0; i < urls.size(); ++i)
            c << "url = \"" << urls[i] << "\"\noutput = \"" << (out / std::to_string(i)).string()
              << "\"\n";
    }
    return TimedRun({"curl", "--silent", "--fail", "--parallel", "--parallel-max", "8", "--config",
                     config.string()});
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
    const bool atOnce = !only || std::string(only) != "one";
    const bool oneAtATime = !only || std::string(only) != "at-once";
    if (atOnce) {
        std::printf("\nDownloads at once: 240 references, every answer 20 ms late\n");
        std::printf("%-18s %12s %12s %8s %10s %10s\n", "images/article", "zembrat -j8", "curl -Z 8",
                    "ratio", "slowest/m", "curl s/m");
    }
    for (const int perArticle : {1, 3, 10, 40}) {
        if (!atOnce) break;
        testing::HttpServer server;
        if (!server.started()) return 1;
        const fs::path folder = root / ("at-once-" + std::to_string(perArticle));
        fs::create_directories(folder);
        const bench::RunCorpus corpus =
            bench::MakeRunCorpus(server, platform::GbkFromNative(folder), 240 / perArticle,
                                 perArticle, std::chrono::milliseconds(20));
        std::vector<double> programs, curls;
        for (int r = 0; r < rounds; ++r) {
            curls.push_back(CurlRun(corpus.fetched, root / "curl-out"));
            const int connectionsBefore = server.ConnectionCount();
            server.ClearRequests();
            programs.push_back(ProgramRun(folder, settings, 8));
            if (std::getenv("ZEMBRAT_BENCH_ROUNDS"))
                PrintRound(perArticle, r + 1, programs.back(), curls.back(),
                           server.ConnectionCount() - connectionsBefore, server.Requests());
        }
        for (const double t : programs) complete = complete && t > 0;
        for (const double t : curls) complete = complete && t > 0;
        const double images = static_cast<double>(corpus.fetched.size());
        std::printf("%-18d %8.0f i/s %8.0f i/s %8.2f %10.2f %10.2f\n", perArticle,
                    images / Median(programs), images / Median(curls),
                    Median(curls) / Median(programs), Slowest(programs) / Median(programs),
                    Slowest(curls) / Median(curls));
    }
    if (atOnce)
        std::printf(
            "(medians of %d rounds; aims: ratio at least 0.85, slowest round at most 1.1 "
            "times the median)\n",
            rounds);

    if (oneAtATime) {
        testing::HttpServer server;
        if (!server.started()) return 1;
        const fs::path folder = root / "one-at-a-time";
        fs::create_directories(folder);
        const bench::RunCorpus corpus =
            bench::MakeRunCorpus(server, platform::GbkFromNative(folder), 300, 20);
        const std::string anchor = (root / "anchor").string();
        fs::create_directories(anchor);
        // ZEMBRAT_BENCH_BASELINE names another build of the program, timed in the same rounds.
        const char* baseline = std::getenv("ZEMBRAT_BENCH_BASELINE");
        std::vector<double> programs, loops, baselines, unrecorded;
        int round = 0;
        for (int r = 0; r < rounds; ++r) {
            loops.push_back(
                bench::PlainLoop(corpus.fetched, anchor, std::to_string(++round) + "-").seconds);
            // The builds take turns at going first: the run after the loop is slower.
            if (baseline && r % 2) baselines.push_back(ProgramRun(folder, settings, 1, baseline));
            if (r % 2)
                unrecorded.push_back(ProgramRun(folder, settings, 1, ZEMBRAT_WITHOUT_RECORD));
            programs.push_back(ProgramRun(folder, settings, 1));
            if (r % 2 == 0)
                unrecorded.push_back(ProgramRun(folder, settings, 1, ZEMBRAT_WITHOUT_RECORD));
            if (baseline && r % 2 == 0)
                baselines.push_back(ProgramRun(folder, settings, 1, baseline));
        }
        for (const auto* times : {&programs, &baselines, &unrecorded}) {
            for (const double t : *times) complete = complete && t > 0;
        }
        const double images = static_cast<double>(corpus.fetched.size());
        const auto rate = [&](const std::vector<double>& times) { return images / Median(times); };
        std::printf(
            "\nOne at a time: 300 articles x 20 references answered at once, from the program's "
            "start to its end (medians of %d rounds)\n",
            rounds);
        std::printf("zembrat --run:        %6.0f images/s\n", rate(programs));
        if (baseline) std::printf("baseline --run:       %6.0f images/s\n", rate(baselines));
        std::printf("fetch-and-write loop: %6.0f images/s\n", rate(loops));
        std::printf("ratio:                %6.2f (aim: at least 0.85)\n",
                    rate(programs) / rate(loops));
        std::printf(
            "without the record:   %6.0f images/s, ratio %.2f; the record's share of the "
            "run %.2f\n",
            rate(unrecorded), rate(unrecorded) / rate(loops),
            1 - Median(unrecorded) / Median(programs));
        if (baseline) {
            std::printf("baseline ratio:       %6.2f\n", rate(baselines) / rate(loops));
            std::printf("zembrat / baseline:   %6.2f (speed-up)\n",
                        rate(programs) / rate(baselines));
        }
    }
    fs::remove_all(root);
    return complete ? 0 : 2;
}
