// A run over one 100 MB article with 10,000 image tags against a plain read of the same file,
// and the two article listings of a folder of 100,000 files against a plain
// std::filesystem::directory_iterator over it. Prints times and peak memory of each phase.
//
//     large_input_bench [megabytes] [files]     (default 100 and 100000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <unistd.h>

#include "job/article_listing.h"
#include "job/folders.h"
#include "job/job_driver.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "support/http_server.h"
#include "support/recording_window.h"
#include "text/codec.h"
#include "web/web_client.h"

namespace {
using namespace zembrat;
using namespace zembrat::text::literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Peak resident memory since the last reset, in MiB.
double PeakMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10) / 1024.0;
    }
    return -1;
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

}  // namespace

int main(int argc, char** argv) {
    const long megabytes = argc > 1 ? std::atol(argv[1]) : 100;
    const long files = argc > 2 ? std::atol(argv[2]) : 100000;
    const fs::path root = fs::temp_directory_path() / ("zembrat-large-" + std::to_string(getpid()));
    const std::string folder = platform::GbkFromNative(root) + "/文章"_gbk;
    fs::create_directories(platform::NativePath(folder));

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
    web::WebClient web;
    web.CreateRequest();
    testing::RecordingWindow window;
    window.quiet = true;
    window.edits[job::EditBox::ArticleFolder] = folder;
    window.edits[job::EditBox::ArticleFilter] = "*.htm";
    window.edits[job::EditBox::ImageFolder] = "files/img";
    web.SetEventPoints(window);
    job::JobDriver driver(window, web, window);
    const double runSeconds =
        Seconds([&] { driver.StartOrStop(job::ListingMethod::FolderObject); });
    const double runPeak = PeakMiB();

    std::printf("Article: %.1f MB, 10000 image tags over 50 pictures\n", size);
    std::printf("Plain read:  %7.3f s, peak %7.1f MiB\n", readSeconds, readPeak);
    std::printf(
        "Whole run:   %7.3f s, peak %7.1f MiB  (%.0f times the read's time, %.1f times its peak)\n",
        runSeconds, runPeak, runSeconds / readSeconds, runPeak / readPeak);

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
