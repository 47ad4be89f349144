// The window's whole-run corpus, run from the command line: the real zembrat executable as a
// child process with no display, against the same loopback server in this process.
//
//     cli_bench [articles] [images per article]     (default 200 and 20)
//
// Prints images per second for the command line and for a plain sequential FetchBytes loop
// over the same addresses; run_bench prints the window's figure on the same corpus.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "child_run.h"
#include "plain_curl.h"
#include "platform/files.h"
#include "run_corpus.h"
#include "support/http_server.h"
#include "text/codec.h"
#include "web/web_client.h"

namespace {
using namespace zembrat;
using namespace zembrat::text::literals;
using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
    const int articleCount = argc > 1 ? std::atoi(argv[1]) : 200;
    const int imagesPerArticle = argc > 2 ? std::atoi(argv[2]) : 20;

    testing::HttpServer server;
    if (!server.started()) return 1;
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("zembrat-cli-bench-" + std::to_string(getpid()));
    const std::string folder = platform::GbkFromNative(root) + "/文章"_gbk;
    std::filesystem::create_directories(platform::NativePath(folder));
    const bench::RunCorpus corpus =
        bench::MakeRunCorpus(server, folder, articleCount, imagesPerArticle);
    const std::vector<std::string>& fetched = corpus.fetched;
    const int distinct = corpus.distinct;
    const std::string settings = (root / "Zembrat.ini").string();
    platform::WriteWholeFile(platform::GbkFromNative(root / "Zembrat.ini"), "");

    auto plainLoop = [&fetched] { return bench::PlainLoop(fetched); };
    const auto before = plainLoop();

    const std::size_t requestsBefore = server.RequestCount();
    const auto runStart = Clock::now();
    const int status =
        bench::RunChild({ZEMBRAT_EXECUTABLE, "--run", platform::NativePath(folder).string(),
                         "--settings", settings, "--quiet"});
    const double runSeconds = std::chrono::duration<double>(Clock::now() - runStart).count();
    const std::size_t runImages = server.RequestCount() - requestsBefore;

    const auto after = plainLoop();
    const auto& best = before.seconds < after.seconds ? before : after;
    std::filesystem::remove_all(root);

    const double runRate = runImages / runSeconds, loopRate = best.Rate();
    std::printf(
        "Corpus: %d GBK articles of about 50 KB, %d image tags each, %d distinct 20 KB images\n",
        articleCount, imagesPerArticle, distinct);
    std::printf(
        "Command line: %zu images in %.2f s = %.0f images/s (exit status %d, with start-up)\n",
        runImages, runSeconds, runRate, status);
    std::printf("Plain loop:   %zu images in %.2f s = %.0f images/s\n", best.images, best.seconds,
                loopRate);
    std::printf("Command line / plain loop: %.2f\n", runRate / loopRate);
    return status == 0 && runImages == fetched.size() ? 0 : 2;
}
