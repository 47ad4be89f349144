// A server program started by a test on 127.0.0.1: a free port, the program started with its
// output in a log file, a wait until the port accepts, and the program ended when the object
// goes. No test framework is needed, so benchmarks start the same servers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zembrat::testing {

// A port free on 127.0.0.1 a moment ago.
int FreeLoopbackPort();
// Whether something accepts connections on 127.0.0.1:port.
bool LoopbackAnswers(int port);

// A temporary folder made at construction and removed with everything in it at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }
    // Writes a file below the folder (relative "/"-separated, folders made); returns its path.
    std::string Write(const std::string& relative, const std::string& bytes) const;

  private:
    std::string path_;
};

// The whole content of a file, or "<missing>".
std::string ReadWholeFile(const std::string& path);
// The size of the largest file anywhere below folder (0 when none).
std::uint64_t LargestFileBelow(const std::string& folder);

class LoopbackProcess {
  public:
    LoopbackProcess() = default;
    ~LoopbackProcess() { Stop(); }
    LoopbackProcess(const LoopbackProcess&) = delete;
    LoopbackProcess& operator=(const LoopbackProcess&) = delete;

    // Starts argv (argv[0] a path) with its output appended to log, and waits up to 20 seconds
    // for port to accept. False, with error set, when it ended or did not answer.
    bool Start(const std::vector<std::string>& argv, int port, const std::string& log);
    // Ends it (SIGTERM, then SIGKILL after 3 seconds).
    void Stop();
    const std::string& error() const { return error_; }

  private:
    int pid_ = 0;
    std::string error_;
};

}  // namespace zembrat::testing
