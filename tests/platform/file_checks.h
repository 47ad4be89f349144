// What the tests of files, storing and replacing look at: a file's bytes on disk, and writes
// killed part-way in a child process.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "platform/files.h"

namespace zembrat::platform {

// The bytes of the file at path, or "<none>" when it cannot be read.
inline std::string Disk(const std::string& path) {
    text::Bytes bytes;
    return ReadWholeFile(path, bytes) ? bytes : "<none>";
}

// Runs write in a child process whose files may not grow past 4096 bytes, so that a longer write
// is killed by SIGXFSZ part-way; the signal that ended the child (0 when it exited).
inline int KilledWhileWriting(const std::function<void()>& write) {
    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        write();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// A process id that no process has any more.
inline pid_t EndedProcess() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

}  // namespace zembrat::platform
