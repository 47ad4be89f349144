// A whole run on the real main window, offscreen: a generated corpus of GBK articles with
// images served from a loopback server, against a plain sequential FetchBytes loop over the
// same image addresses in the same process.
//
//     run_bench [articles] [images per article]     (default 200 and 20)
//
// Prints images per second for the run and for the plain loop, their ratio (the aim is at
// least 0.6) and the process's peak memory.
#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "config/config_store.h"
#include "job/folders.h"
#include "platform/files.h"
#include "run_corpus.h"
#include "support/http_server.h"
#include "text/codec.h"
#include "ui/main_window.h"
#include "ui/qt_event_points.h"
#include "ui/qt_text.h"
#include "ui/text_dialog.h"
#include "web/web_client.h"

namespace {
using namespace zembrat;
using namespace zembrat::text::literals;
using Clock = std::chrono::steady_clock;

long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int articleCount = argc > 1 ? std::atoi(argv[1]) : 200;
    const int imagesPerArticle = argc > 2 ? std::atoi(argv[2]) : 20;

    testing::HttpServer server;
    if (!server.started()) return 1;
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("zembrat-run-bench-" + std::to_string(getpid()));
    const std::string folder = platform::GbkFromNative(root) + "/文章"_gbk;
    std::filesystem::create_directories(platform::NativePath(folder));
    const bench::RunCorpus corpus =
        bench::MakeRunCorpus(server, folder, articleCount, imagesPerArticle);
    const std::vector<std::string>& fetched = corpus.fetched;
    const int distinct = corpus.distinct;

    ui::QtEventPoints events;

    // The baseline: the same downloads in a plain sequential loop, measured before and after
    // the run (the better one counts, so the run is not compared with a cold start).
    auto plainLoop = [&fetched] { return bench::PlainFetchLoop(fetched); };
    // The true limit of a run that must store what it fetches: the same loop writing each body to
    // a new file (one open, one write, one close), on the same file system as the run.
    const std::string anchorFolder = (root / "anchor").string();
    std::filesystem::create_directories(anchorFolder);
    auto fetchAndWrite = [&fetched, &anchorFolder] {
        web::WebClient plain;
        plain.CreateRequest();
        static int round = 0;
        ++round;
        std::size_t images = 0;
        const auto start = Clock::now();
        for (const std::string& url : fetched) {
            const text::Bytes body = plain.FetchBytes(url);
            if (body.empty()) continue;
            const std::string file =
                anchorFolder + "/" + std::to_string(round) + "-" + std::to_string(images);
            const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0) continue;
            images += ::write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size());
            ::close(fd);
        }
        return std::make_pair(images, std::chrono::duration<double>(Clock::now() - start).count());
    };
    const auto before = plainLoop();
    const auto writeBefore = fetchAndWrite();

    web::WebClient web;
    web.CreateRequest();
    web.SetEventPoints(events);
    config::ConfigStore settings;  // bound to no file
    ui::TextDialogRequest textDialog;
    ui::MainWindow window(settings, textDialog, web, events);
    window.show();
    window.editBox(job::EditBox::ArticleFolder)->setText(ui::ToQString(folder));
    // Answers the completion question at once.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (QAbstractButton* no = box->button(QMessageBox::No)) no->click();
        }
    });
    answer.start(1);

    const std::size_t requestsBefore = server.RequestCount();
    const auto runStart = Clock::now();
    window.driver().StartOrStop(job::ListingMethod::FolderObject);
    const double runSeconds = std::chrono::duration<double>(Clock::now() - runStart).count();
    const std::size_t runImages = server.RequestCount() - requestsBefore;
    const long runPeak = PeakKiB();

    const auto after = plainLoop();
    const auto writeAfter = fetchAndWrite();
    const auto& best = before.second < after.second ? before : after;
    const auto& bestWrite = writeBefore.second < writeAfter.second ? writeBefore : writeAfter;
    const std::size_t loopImages = best.first;
    const double loopSeconds = best.second;

    std::size_t stored = 0;
    for (auto& e : std::filesystem::directory_iterator(
             platform::NativePath(job::ResultFolder(folder) + "files/img"))) {
        (void)e;
        ++stored;
    }
    std::filesystem::remove_all(root);

    const double runRate = runImages / runSeconds, loopRate = loopImages / loopSeconds;
    std::printf(
        "Corpus: %d GBK articles of about 50 KB, %d image tags each, %d distinct 20 KB images\n",
        articleCount, imagesPerArticle, distinct);
    std::printf("Whole run:  %zu images in %.2f s = %.0f images/s (%zu files stored)\n", runImages,
                runSeconds, runRate, stored);
    std::printf("Plain loop: %zu images in %.2f s = %.0f images/s\n", loopImages, loopSeconds,
                loopRate);
    const double writeRate = bestWrite.first / bestWrite.second;
    std::printf("Fetch-and-write loop: %zu images in %.2f s = %.0f images/s\n", bestWrite.first,
                bestWrite.second, writeRate);
    std::printf("Run / plain loop: %.2f\n", runRate / loopRate);
    std::printf("Run / fetch-and-write loop: %.2f (aim: at least 0.8)\n", runRate / writeRate);
    std::printf("Peak memory (VmHWM) after the run: %.1f MiB\n", runPeak / 1024.0);
    return runImages == fetched.size() ? 0 : 2;
}
