// The command line as the program's own executable runs it, with the same libraries loaded, but
// keeping no run record: what at_once_bench times beside the program to show the record's share
// of a one-at-a-time run.
#include <string>

#include "app/program.h"
#include "cli/console_main.h"

int main(int argc, char** argv) {
    return zembrat::cli::Main(
        argc, argv, [] { return zembrat::app::SettingsPath("."); }, false);
}
