#include <QApplication>

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/program.h"
#include "cli/command_line.h"
#include "cli/console_main.h"
#include "text/codec.h"
#include "ui/keyring.h"

namespace {

// The executable's folder without an application object: the command line makes none.
std::string ExecutableFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return ".";
    std::string path(buffer, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    path.resize(slash == 0 ? 1 : slash);
    return zembrat::text::GbkFromUtf8(path);
}

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

// QT_QPA_PLATFORM names a platform that needs no display (offscreen, vnc, ...).
bool PlatformNeedsNoDisplay() {
    const char* value = std::getenv("QT_QPA_PLATFORM");
    if (!value || !*value) return false;
    const std::string platform = value;
    return !platform.starts_with("xcb") && !platform.starts_with("wayland");
}

}  // namespace

int main(int argc, char** argv) {
    // "--" options are the command line's; the window takes no arguments but Qt's own.
    if (zembrat::cli::WantsConsole(argc, argv)) {
        return zembrat::cli::Main(
            argc, argv, [] { return zembrat::app::SettingsPath(ExecutableFolder()); }, true,
            zembrat::ui::KeyringSecret);
    }
    // Arguments for the window where there is no display to open it on: the toolkit would
    // abort; point to the run without a window instead, with the status of bad usage.
    // Without a word, a platform that needs no display is the toolkit's to open.
    if (!HasDisplay() && !(argc == 1 && PlatformNeedsNoDisplay())) {
        if (const auto message =
                zembrat::cli::NoDisplayMessage(std::vector<std::string>(argv + 1, argv + argc))) {
            std::fputs(message->c_str(), stderr);
            return 2;
        }
    }
    QApplication application(argc, argv);  // Qt takes its own options; the program reads none
    return zembrat::app::RunProgram(zembrat::app::ProgramFolder());
}
