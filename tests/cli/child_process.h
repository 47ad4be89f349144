// The real zembrat executable started as a child process, with the display variables unset
// and its output kept in files.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace zembrat::testing {

class ChildProcess {
  public:
    // Starts program with args; its standard output and error go to files in folder, and the
    // environment is this one's without DISPLAY and WAYLAND_DISPLAY, with HOME and
    // XDG_CONFIG_HOME set to folder.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& folder)
        : out_(folder + "/stdout.txt"), err_(folder + "/stderr.txt") {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
                entry.rfind("HOME=", 0) == 0 || entry.rfind("XDG_CONFIG_HOME=", 0) == 0 ||
                entry.rfind("QT_QPA_PLATFORM=", 0) == 0)
                continue;
            env.push_back(entry);
        }
        env.push_back("HOME=" + folder);
        env.push_back("XDG_CONFIG_HOME=" + folder + "/config");
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> argp, envp;
        for (std::string& a : argv) argp.push_back(a.data());
        argp.push_back(nullptr);
        for (std::string& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            ::execve(program.c_str(), argp.data(), envp.data());
            ::_exit(127);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // The exit status, or -1 when it has not ended within the time (it is killed then);
    // 128 + n when a signal n ended it.
    int Wait(std::chrono::milliseconds within = std::chrono::seconds(60)) {
        const auto end = std::chrono::steady_clock::now() + within;
        while (status_ < 0) {
            int raw = 0;
            const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
            if (done == pid_) {
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
                break;
            }
            if (std::chrono::steady_clock::now() >= end) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                status_ = -2;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return status_;
    }
    bool Running() {
        if (status_ >= 0 || status_ == -2) return false;
        int raw = 0;
        if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return false;
        }
        return true;
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    std::string Out() const { return ReadFileOrMissing(out_); }
    std::string Err() const { return ReadFileOrMissing(err_); }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string out_, err_;
};

// Runs the program to its end and gives its status.
inline int RunToEnd(const std::string& program, const std::vector<std::string>& args,
                    const std::string& folder, std::string* out = nullptr,
                    std::string* err = nullptr) {
    ChildProcess child(program, args, folder);
    const int status = child.Wait();
    if (out) *out = child.Out();
    if (err) *err = child.Err();
    return status;
}

}  // namespace zembrat::testing
