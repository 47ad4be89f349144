// What the loopback server fixtures share: a temporary folder of their own, a free port, running
// a program to its end, starting a server and waiting until it accepts, stopping it. No test
// framework here, so a benchmark can use the fixtures too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zembrat::testing {

// A port free on 127.0.0.1 a moment ago.
int FreeLoopbackPort();
// Whether something accepts on 127.0.0.1:port.
bool LoopbackAccepts(int port);

// Runs argv[0] (a full path) with its arguments to its end; true when it exited 0. Its output
// and errors go to output, when given.
bool RunToEnd(const std::vector<std::string>& argv, std::string* output = nullptr);

// How many lines of a file (a server's log) hold the text.
int CountLines(const std::string& path, const std::string& text);

// The whole content of a file, or "<missing>".
std::string ReadWholeFile(const std::string& path);

// The lines of a log file that hold `fields` tab-separated fields each, split at the tabs.
std::vector<std::vector<std::string>> TabSeparatedLines(const std::string& path,
                                                        std::size_t fields);

// The size of the largest file anywhere below folder (0 when none).
std::uint64_t LargestFileBelow(const std::string& folder);

// A folder made under the system's temporary folder, removed with everything in it at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }
    // Writes path()/relative, making its folders; its path, or empty when it could not.
    std::string Write(const std::string& relative, const std::string& bytes) const;

  private:
    std::string path_;
};

// A server process started in the background with its output into a log file.
class ServerProcess {
  public:
    ServerProcess() = default;
    ~ServerProcess() { Stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    // Starts argv and waits (up to 20 s) until 127.0.0.1:port accepts; false with error set
    // (the log's content included) otherwise.
    bool Start(const std::vector<std::string>& argv, const std::string& logFile, int port,
               std::string& error);
    // Ends it (SIGTERM, then SIGKILL) and waits for it.
    void Stop();

  private:
    int pid_ = 0;
};

}  // namespace zembrat::testing
