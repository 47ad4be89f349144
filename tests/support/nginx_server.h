// A real nginx on 127.0.0.1 for tests, started from a configuration written into a temporary
// folder (pid, logs and temporary files there too; no system file is read or touched) and
// stopped when the object goes. It serves the files given below its root; the caller's
// location blocks decide who gets what (valid_referers and the like). Every request is in its
// access log, which the test reads back.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_dir.h"

namespace zembrat::testing {

struct NginxRequest {
    std::string uri;      // as requested
    std::string referer;  // "-" when none came
    std::string userAgent;
    int status = 0;
    std::string cookie;  // "-" when none came
};

class NginxServer {
  public:
    // files: path below the root ("/wx/a.png") to bytes. locations: server-block text, in which
    // "@PORT@" stands for the port it listens on.
    NginxServer(const std::map<std::string, std::string>& files, std::string_view locations);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    // Whether it answers; why not, when it does not.
    bool started() const { return pid_ > 0 && error_.empty(); }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    std::string Url(std::string_view path) const;
    // Every request so far, in the order they were logged.
    std::vector<NginxRequest> Requests() const;

  private:
    TempDir dir_;
    int port_ = 0;
    int pid_ = 0;
    std::string error_;
};

}  // namespace zembrat::testing
