// A real vsftpd on 127.0.0.1 for tests, from a configuration made in a temporary folder: plain
// FTP, explicit TLS (AUTH TLS) or implicit TLS, with a certificate made by openssl. It takes
// uploads into pub/ below its root from the anonymous user, whose password must be the one
// given (a login with another is refused), and stops when the object goes.
#pragma once

#include <string>

#include "support/server_process.h"

namespace zembrat::testing {

enum class FtpSecurity { Plain, ExplicitTls, ImplicitTls };

class VsftpdServer {
  public:
    explicit VsftpdServer(FtpSecurity security, const std::string& password = "s3cret");
    ~VsftpdServer() = default;
    VsftpdServer(const VsftpdServer&) = delete;
    VsftpdServer& operator=(const VsftpdServer&) = delete;

    bool started() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    // The folder that takes uploads, "pub" in the server's root (an absolute native path).
    std::string uploads() const { return dir_.path() + "/root/pub"; }
    // The self-signed certificate to trust (TLS modes).
    std::string certificate() const { return dir_.path() + "/cert.pem"; }
    // The user name to log in with.
    static constexpr const char* kUser = "anonymous";

  private:
    ScratchFolder dir_;
    ServerProcess process_;
    int port_ = 0;
    std::string error_;
};

}  // namespace zembrat::testing
