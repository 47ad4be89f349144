// What the fuzz targets share: a check that stops the fuzzer with the failed condition, and a
// scratch folder that is removed when the process ends.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <stdlib.h>

#define FUZZ_CHECK(cond)                                                            \
    do {                                                                            \
        if (!(cond)) {                                                              \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #cond); \
            __builtin_trap();                                                       \
        }                                                                           \
    } while (0)

namespace zembrat::fuzzing {

// name inside a temporary folder made once per process.
inline std::string ScratchPath(const std::string& name) {
    static const std::string folder = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zembrat-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        return pattern;
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        });
        return true;
    }();
    (void)cleanup;
    return folder + "/" + name;
}

}  // namespace zembrat::fuzzing
