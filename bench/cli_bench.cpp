// The window's whole-run corpus, run from the command line: the real zembrat executable as a
// child process with no display, against the same loopback server in this process.
//
//     cli_bench [articles] [images per article]     (default 200 and 20)
//
// Prints images per second for the command line and for a plain sequential FetchBytes loop
// over the same addresses; run_bench prints the window's figure on the same corpus.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/http_server.h"
#include "text/codec.h"
#include "web/web_client.h"

namespace {
using namespace zembrat;
using namespace zembrat::text::literals;
using Clock = std::chrono::steady_clock;

// About 50 KB of Chinese filler with the given image tags spread through it.
std::string Article(std::mt19937& random, const std::vector<std::string>& urls) {
    static const std::string filler =
        "这是一段用来测试的中文文章内容，包含标点符号和一些数字12345。"_gbk;
    std::string article =
        "<html><head><meta charset=gbk><title>"_gbk + "测试"_gbk + "</title></head><body>\r\n";
    const std::size_t perTag = 50000 / (urls.size() + 1);
    for (std::size_t k = 0; k < urls.size(); ++k) {
        const std::string& url = urls[k];
        while (article.size() < perTag * (k + 1)) article += filler;
        article += "<p><img alt=\"图\" src=\""_gbk + url +
                   "\" width=" + std::to_string(random() % 900) + "></p>\r\n";
    }
    while (article.size() < 50000) article += filler;
    return article + "</body></html>";
}

// Runs the program with args, its output thrown away; the exit status, or -1.
int RunProgram(std::vector<std::string> args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::freopen("/dev/null", "w", stdout);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

int main(int argc, char** argv) {
    const int articleCount = argc > 1 ? std::atoi(argv[1]) : 200;
    const int imagesPerArticle = argc > 2 ? std::atoi(argv[2]) : 20;

    testing::HttpServer server;
    if (!server.started()) return 1;
    // The same pool and articles as run_bench, from the same seed.
    std::mt19937 random(7);
    const int distinct = articleCount * imagesPerArticle * 3 / 4 + 1;
    std::vector<std::string> pool;
    for (int i = 0; i < distinct; ++i) {
        std::string body(20 * 1024, '\0');
        for (char& c : body) c = static_cast<char>(random());
        const std::string path = "/img/" + std::to_string(i) + (i % 3 ? ".jpg" : ".png");
        server.Set(path, testing::Reply::Ok(body, "image/jpeg"));
        pool.push_back(server.Url(path));
    }
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("zembrat-cli-bench-" + std::to_string(getpid()));
    const std::string folder = platform::GbkFromNative(root) + "/文章"_gbk;
    std::filesystem::create_directories(platform::NativePath(folder));
    std::vector<std::string> fetched;
    int next = 0;
    for (int a = 0; a < articleCount; ++a) {
        std::vector<std::string> urls;
        for (int k = 0; k < imagesPerArticle; ++k) {
            urls.push_back(k % 4 == 3 ? pool[random() % pool.size()]
                                      : pool[static_cast<std::size_t>(next++ % distinct)]);
        }
        std::vector<std::string> once;
        for (std::size_t k = 0; k < urls.size(); ++k) {
            bool later = false;
            for (std::size_t j = k + 1; j < urls.size(); ++j) later = later || urls[j] == urls[k];
            if (!later) once.push_back(urls[k]);
        }
        fetched.insert(fetched.end(), once.begin(), once.end());
        char name[32];
        std::snprintf(name, sizeof name, "/%04d.htm", a);
        platform::WriteWholeFile(folder + name, Article(random, urls));
    }
    const std::string settings = (root / "Zembrat.ini").string();
    platform::WriteWholeFile(platform::GbkFromNative(root / "Zembrat.ini"), "");

    auto plainLoop = [&fetched] {
        web::WebClient plain;
        plain.CreateRequest();
        std::size_t images = 0;
        const auto start = Clock::now();
        for (const std::string& url : fetched) images += plain.FetchBytes(url).empty() ? 0 : 1;
        return std::make_pair(images, std::chrono::duration<double>(Clock::now() - start).count());
    };
    const auto before = plainLoop();

    const std::size_t requestsBefore = server.RequestCount();
    const auto runStart = Clock::now();
    const int status =
        RunProgram({ZEMBRAT_EXECUTABLE, "--run", platform::NativePath(folder).string(),
                    "--settings", settings, "--quiet"});
    const double runSeconds = std::chrono::duration<double>(Clock::now() - runStart).count();
    const std::size_t runImages = server.RequestCount() - requestsBefore;

    const auto after = plainLoop();
    const auto& best = before.second < after.second ? before : after;
    std::filesystem::remove_all(root);

    const double runRate = runImages / runSeconds, loopRate = best.first / best.second;
    std::printf(
        "Corpus: %d GBK articles of about 50 KB, %d image tags each, %d distinct 20 KB images\n",
        articleCount, imagesPerArticle, distinct);
    std::printf(
        "Command line: %zu images in %.2f s = %.0f images/s (exit status %d, with start-up)\n",
        runImages, runSeconds, runRate, status);
    std::printf("Plain loop:   %zu images in %.2f s = %.0f images/s\n", best.first, best.second,
                loopRate);
    std::printf("Command line / plain loop: %.2f\n", runRate / loopRate);
    return status == 0 && runImages == fetched.size() ? 0 : 2;
}
