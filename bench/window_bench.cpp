// How long the window takes to be shown: from the moment the program is started (fork and exec,
// as a launcher does) until its main window is on the screen with its settings read, against a
// bare Qt program that shows an empty window, started the same way in the same rounds.
//
//     window_bench [rounds]      (default 10; medians, and the slowest round)
//
// Offscreen (QT_QPA_PLATFORM=offscreen unless set), with a settings file of its own in a
// temporary folder. Aim: the program's window shown in at most 0.1 s.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/program.h"
#include "text/codec.h"
#include "ui/main_window.h"

namespace {
namespace fs = std::filesystem;

double MonotonicSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// In the child: once a window of the kind wanted is exposed, writes the seconds since `started`
// (the parent's clock before the fork) to `out` and closes it.
void ReportWhenShown(double started, int out, bool program) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [=] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<zembrat::ui::MainWindow*>(w);
            if (program && (!window || !window->settingsLoaded())) continue;
            if (!w->windowHandle() || !w->windowHandle()->isExposed()) continue;
            const double seconds = MonotonicSeconds() - started;
            if (::write(out, &seconds, sizeof seconds) != sizeof seconds) ::_exit(1);
            poll->stop();
            w->close();
            QApplication::quit();
            return;
        }
    });
    poll->start(1);
}

// Starts this program as a child in the given part; the seconds it took to show its window, or
// a negative number.
double ShowTime(const char* self, const char* part, const std::string& folder) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    char started[64];
    std::snprintf(started, sizeof started, "%.9f", MonotonicSeconds());
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        // The toolkit's notes (no runtime folder, no raise() offscreen) are not the figures.
        if (!std::freopen("/dev/null", "w", stderr)) ::_exit(126);
        const std::string fd = std::to_string(fds[1]);
        ::execl(self, self, part, started, fd.c_str(), folder.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    double seconds = -1;
    if (child < 0 || ::read(fds[0], &seconds, sizeof seconds) != sizeof seconds) seconds = -1;
    ::close(fds[0]);
    int status = 0;
    if (child > 0) ::waitpid(child, &status, 0);
    return seconds;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string part = argc > 1 ? argv[1] : "";
    if ((part == "--program" || part == "--bare") && argc == 5) {
        const double started = std::atof(argv[2]);
        const int out = std::atoi(argv[3]);
        int qtArgc = 1;
        QApplication application(qtArgc, argv);
        ReportWhenShown(started, out, part == "--program");
        if (part == "--program")
            return zembrat::app::RunProgram(zembrat::text::GbkFromUtf8(argv[4]));
        QWidget bare;
        bare.resize(640, 480);
        bare.show();
        return QApplication::exec();
    }
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    setenv("QT_QPA_PLATFORM",
           std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "offscreen", 1);
    const fs::path folder =
        fs::temp_directory_path() / ("zembrat-window-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::printf("Machine: %ld cores\n", sysconf(_SC_NPROCESSORS_ONLN));
    std::vector<double> program, bare;
    bool complete = true;
    for (int r = 0; r < rounds; ++r) {
        bare.push_back(ShowTime(argv[0], "--bare", folder.string()));
        program.push_back(ShowTime(argv[0], "--program", folder.string()));
        complete = complete && bare.back() > 0 && program.back() > 0;
    }
    fs::remove_all(folder);
    std::printf(
        "From the start (fork and exec) to the window on the screen, medians of %d rounds\n",
        rounds);
    std::printf("zembrat's main window:    %6.3f s (slowest %.3f s; aim: at most 0.1 s)\n",
                Median(program), *std::max_element(program.begin(), program.end()));
    std::printf("a bare Qt window:         %6.3f s (slowest %.3f s)\n", Median(bare),
                *std::max_element(bare.begin(), bare.end()));
    std::printf("ratio:                    %6.2f\n", Median(program) / Median(bare));
    return complete ? 0 : 2;
}
