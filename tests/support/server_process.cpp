#include "support/server_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace zembrat::testing {
namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

std::vector<char*> Arguments(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return args;
}

}  // namespace

int FreeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(0);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

bool LoopbackAccepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(port);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

bool RunToEnd(const std::vector<std::string>& argv, std::string* output) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return false;
    auto args = Arguments(argv);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeFds[1], 1);
        ::dup2(pipeFds[1], 2);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) return false;
    if (output) *output = text;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int CountLines(const std::string& path, const std::string& text) {
    std::ifstream in(path);
    int count = 0;
    for (std::string line; std::getline(in, line);)
        if (line.find(text) != std::string::npos) ++count;
    return count;
}

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zembrat-srv-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ScratchFolder::Write(const std::string& relative, const std::string& bytes) const {
    const std::filesystem::path full = std::filesystem::path(path_) / relative;
    std::error_code ec;
    std::filesystem::create_directories(full.parent_path(), ec);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << bytes;
    return out.flush() ? full.string() : std::string();
}

std::vector<std::vector<std::string>> TabSeparatedLines(const std::string& path,
                                                        std::size_t fields) {
    std::vector<std::vector<std::string>> lines;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream split(line);
        for (std::string part; std::getline(split, part, '\t');) f.push_back(part);
        if (f.size() == fields) lines.push_back(std::move(f));
    }
    return lines;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::uint64_t LargestFileBelow(const std::string& folder) {
    std::uint64_t largest = 0;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code sizeError;
        if (!it->is_regular_file(sizeError)) continue;
        const auto size = it->file_size(sizeError);
        if (!sizeError && size > largest) largest = size;
    }
    return largest;
}

bool ServerProcess::Start(const std::vector<std::string>& argv, const std::string& logFile,
                          int port, std::string& error) {
    auto args = Arguments(argv);
    const pid_t child = ::fork();
    if (child == 0) {
        const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int none = ::open("/dev/null", O_RDONLY);
        ::dup2(none, 0);
        ::dup2(log, 1);
        ::dup2(log, 2);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (child < 0) {
        error = "cannot start " + argv[0];
        return false;
    }
    pid_ = child;
    for (int i = 0; i < 2000; ++i) {
        if (LoopbackAccepts(port)) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = 0;
            error = argv[0] + " ended: " + ReadWholeFile(logFile);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error = argv[0] + " did not answer on 127.0.0.1:" + std::to_string(port) + ": " +
            ReadWholeFile(logFile);
    Stop();
    return false;
}

void ServerProcess::Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = 0;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = 0;
}

}  // namespace zembrat::testing
