// Runs that grow, each beside an anchor measured in the same process:
// - one 100 MB article with 10,000 image tags through the whole run, against a plain read of
//   the same file, with the peak memory against its target (3 times the article plus 60 MB);
// - runs over 100, 1,000 and 5,000 articles of about 50 KB with 20 image tags each (images
//   repeat across articles), whose time per article should stay flat: against the 100-article
//   run, and a plain read of the same articles;
// - the two article listings of a folder of 100,000 files against a plain
//   std::filesystem::directory_iterator over it.
// Everything lives on /dev/shm, so the disk does not decide the figures.
//
//     large_input_bench [megabytes] [files] [articles]     (default 100, 100000 and 5000)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "job/article_listing.h"
#include "job/result_folder.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "run_corpus.h"
#include "support/http_server.h"
#include "support/raw_server.h"
#include "support/recording_window.h"
#include "text/codec.h"
#include "ui/job_driver.h"
#include "web/web_client.h"

namespace {
using namespace zembrat;
using namespace zembrat::text::literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Peak resident memory since the last reset, in MiB.
double PeakMiB() {
    return static_cast<double>(zembrat::testing::PeakResidentKb()) / 1024.0;
}

void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

template <class F>
double Seconds(F f) {
    const auto start = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// One whole run over the articles of folder (GBK), as the window starts it.
double WholeRun(const std::string& folder) {
    web::WebClient web;
    web.CreateRequest();
    testing::RecordingWindow window;
    window.quiet = true;
    window.edits[ui::EditBox::ArticleFolder] = folder;
    window.edits[ui::EditBox::ArticleFilter] = "*.htm";
    window.edits[ui::EditBox::ImageFolder] = "files/img";
    web.SetEventPoints(window);
    ui::JobDriver driver(window, web, window);
    return Seconds([&] { driver.StartOrStop(job::ListingMethod::FolderObject); });
}

}  // namespace

int main(int argc, char** argv) {
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 100;
    const long files = argc > 2 ? std::atol(argv[2]) : 100000;
    const int articles = argc > 3 ? std::atoi(argv[3]) : 5000;
    const fs::path shm =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path root = shm / ("zembrat-large-" + std::to_string(getpid()));
    const std::string folder = platform::GbkFromNative(root) + "/文章"_gbk;
    fs::create_directories(platform::NativePath(folder));
    std::printf("Machine: %ld cores; files on %s\n", sysconf(_SC_NPROCESSORS_ONLN), shm.c_str());

    // The article: 10,000 tags over 50 pictures in Chinese text.
    testing::HttpServer server;
    std::string tags[50];
    for (int i = 0; i < 50; ++i) {
        const std::string path = "/p/" + std::to_string(i) + ".png";
        server.Set(path, testing::Reply::Ok("picture " + std::to_string(i)));
        tags[i] = "<img src=\"" + server.Url(path) + "\">";
    }
    std::string block;
    const std::size_t blockSize = static_cast<std::size_t>(megabytes) * 1024 * 1024 / 10000;
    while (block.size() < blockSize) block += "这是一段很长的中文文章。"_gbk;
    {
        std::string article;
        article.reserve(static_cast<std::size_t>(megabytes + 1) << 20);
        for (int k = 0; k < 10000; ++k) article += block + tags[k % 50];
        platform::WriteWholeFile(folder + "/big.htm", article);
    }

    ResetPeak();
    text::Bytes bytes;
    const double readSeconds =
        Seconds([&] { platform::ReadWholeFile(folder + "/big.htm", bytes); });
    const double readPeak = PeakMiB();
    const double size = static_cast<double>(bytes.size()) / (1 << 20);
    bytes.clear();
    bytes.shrink_to_fit();

    ResetPeak();
    const double runSeconds = WholeRun(folder);
    const double runPeak = PeakMiB();
    const double peakTarget = 3 * size + 60;

    std::printf("Article: %.1f MB, 10000 image tags over 50 pictures\n", size);
    std::printf("Plain read:  %7.3f s, peak %7.1f MiB\n", readSeconds, readPeak);
    std::printf(
        "Whole run:   %7.3f s, peak %7.1f MiB  (%.1f times the read's time, %.1f times its peak)\n",
        runSeconds, runPeak, runSeconds / readSeconds, runPeak / readPeak);
    std::printf("Peak target: 3 x article + 60 MB = %.1f MiB; peak / target = %.2f (aim <= 1)\n",
                peakTarget, runPeak / peakTarget);
    fs::remove_all(platform::NativePath(folder));
    fs::remove_all(platform::NativePath(job::ResultFolder(folder)));

    // Many articles: a pool of 400 distinct 4 KB images, so that images repeat across articles.
    if (articles > 0) {
        std::mt19937 random(7);
        std::vector<std::string> pool;
        for (int i = 0; i < 400; ++i) {
            std::string body(4 * 1024, '\0');
            for (char& c : body) c = static_cast<char>(random());
            const std::string path = "/img/" + std::to_string(i) + (i % 3 ? ".jpg" : ".png");
            server.Set(path, testing::Reply::Ok(body, "image/jpeg"));
            pool.push_back(server.Url(path));
        }
        std::vector<int> counts;
        for (int n : {100, 1000, 5000}) {
            if (n <= articles) counts.push_back(n);
        }
        if (counts.empty() || counts.back() != articles) counts.push_back(articles);
        std::printf("Many articles of about 50 KB, 20 image tags each over %zu distinct images:\n",
                    pool.size());
        double firstPerArticle = 0;
        int first = 0;
        for (int n : counts) {
            const std::string corpus =
                platform::GbkFromNative(root) + "/多篇"_gbk + std::to_string(n);
            fs::create_directories(platform::NativePath(corpus));
            for (int a = 0; a < n; ++a) {
                std::vector<std::string> urls;
                for (int k = 0; k < 20; ++k) urls.push_back(pool[random() % pool.size()]);
                char name[32];
                std::snprintf(name, sizeof name, "/%05d.htm", a);
                platform::WriteWholeFile(corpus + name, bench::CorpusArticle(random, urls));
            }
            // The anchor: a plain read of the same articles.
            std::size_t read = 0;
            const double plain = Seconds([&] {
                for (const auto& entry : fs::directory_iterator(platform::NativePath(corpus))) {
                    text::Bytes content;
                    platform::ReadWholeFile(platform::GbkFromNative(entry.path()), content);
                    read += content.size();
                }
            });
            server.ClearRequests();
            ResetPeak();
            const double run = WholeRun(corpus);
            const double peak = PeakMiB();
            const double perArticle = run / n * 1000;
            if (first == 0) {
                first = n;
                firstPerArticle = perArticle;
            }
            std::printf(
                "  %5d articles: %7.3f s, %6.3f ms per article (%zu images fetched), peak %6.1f "
                "MiB; plain read %.3f ms per article; per article / %d articles' = %.2f (aim "
                "near 1.0)\n",
                n, run, perArticle, server.RequestCount(), peak, plain / n * 1000, first,
                perArticle / firstPerArticle);
            fs::remove_all(platform::NativePath(corpus));
            fs::remove_all(platform::NativePath(job::ResultFolder(corpus)));
        }
    }

    // The listing.
    const std::string many = platform::GbkFromNative(root) + "/many";
    fs::create_directories(platform::NativePath(many));
    for (long i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/%06ld.%s", i, i % 2 ? "htm" : "txt");
        std::ofstream(platform::NativePath(many + name));
    }
    std::size_t plainCount = 0, objectCount = 0, searchCount = 0;
    const double plain = Seconds([&] {
        for (const auto& entry : fs::directory_iterator(platform::NativePath(many))) {
            if (entry.is_regular_file()) ++plainCount;
        }
    });
    const double object = Seconds([&] {
        objectCount = job::FolderObjectListing(many, "*.htm", platform::NoEventPoints()).size();
    });
    const double search = Seconds([&] {
        searchCount = job::FileSearchListing(many, "*.htm", platform::NoEventPoints()).size();
    });
    std::printf(
        "Listing %ld files: directory_iterator %.3f s (%zu files); folder objects %.3f s (%zu "
        "listed, "
        "%.1f times); directory search %.3f s (%zu listed, %.1f times)\n",
        files, plain, plainCount, object, objectCount, object / plain, search, searchCount,
        search / plain);
    fs::remove_all(root);
    return 0;
}
