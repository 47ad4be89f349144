// The program as the benchmarks start it: a child process with no display, its output thrown
// away.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace zembrat::bench {

// Runs args[0] (found on the PATH when it has no "/") with args; its exit status, or -1.
// cpuSeconds: where the child's CPU time (user and system) goes.
inline int RunChild(std::vector<std::string> args, double* cpuSeconds = nullptr) {
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            ::_exit(126);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status)) return -1;
    if (cpuSeconds)
        *cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (std::getenv("ZEMBRAT_BENCH_CPU"))
        std::fprintf(stderr, "child CPU: user %.2f s, system %.2f s\n",
                     usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6,
                     usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6);
    return WEXITSTATUS(status);
}

}  // namespace zembrat::bench
