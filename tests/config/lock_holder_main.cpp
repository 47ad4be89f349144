// A second program for the two-process test: opens a settings file, writes one value, reports
// on standard output, then keeps the file open until its standard input ends.
//   lock_holder <settings file> <section> <key> <value>
#include <cstdio>
#include <iostream>
#include <string>

#include "config/config_store.h"

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    zembrat::config::ConfigStore store;
    const bool handle = store.Open(argv[1], zembrat::config::DiskFile);
    store.SetSection(argv[2]);
    const bool written =
        store.WriteText(argv[3], argv[4]) == zembrat::config::WriteResult::kWritten;
    std::printf("handle=%d written=%d\n", handle ? 1 : 0, written ? 1 : 0);
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
