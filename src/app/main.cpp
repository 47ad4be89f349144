#include <QApplication>

#include <unistd.h>

#include <climits>
#include <string>

#include "app/program.h"
#include "cli/command_line.h"
#include "cli/console_main.h"
#include "text/codec.h"

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

}  // namespace

int main(int argc, char** argv) {
    // "--" options are the command line's; the window takes no arguments but Qt's own.
    if (zembrat::cli::WantsConsole(argc, argv)) {
        return zembrat::cli::Main(argc, argv,
                                  [] { return zembrat::app::SettingsPath(ExecutableFolder()); });
    }
    QApplication application(argc, argv);  // Qt takes its own options; the program reads none
    return zembrat::app::RunProgram(zembrat::app::ProgramFolder());
}
