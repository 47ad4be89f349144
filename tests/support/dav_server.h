// A real WebDAV server on 127.0.0.1 for tests and benchmarks, serving a temporary folder with
// one user and password (basic authentication):
//  - nginx (Debian nginx-light): PUT DELETE MKCOL COPY MOVE (and PROPFIND from
//    libnginx-mod-http-dav-ext), no folders made by a PUT; over
//    https too, with a self-signed certificate for 127.0.0.1 made by openssl;
//  - rclone serve webdav (Debian rclone): a PUT into a missing folder is refused with 404,
//    MKCOL on a folder that exists answers 201.
#pragma once

#include <string>

#include "support/server_process.h"

namespace zembrat::testing {

enum class DavKind { Nginx, NginxTls, Rclone };

class DavServer {
  public:
    explicit DavServer(DavKind kind, std::string user = "zembrat",
                       std::string password = "dav-pass-1");
    DavServer(const DavServer&) = delete;
    DavServer& operator=(const DavServer&) = delete;

    bool started() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    // NginxTls: the certificate to trust (a PEM file), else empty.
    const std::string& caFile() const { return caFile_; }
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    // The folder it serves ("/a/b.png" on the server is root() + "/a/b.png" on disk).
    std::string root() const { return folder_.path() + "/www"; }
    // Everything it keeps, its temporary files too.
    const std::string& folder() const { return folder_.path(); }

  private:
    bool StartNginx(bool tls);
    bool StartRclone();

    std::string user_, password_;
    ScratchFolder folder_;
    int port_ = 0;
    std::string caFile_;
    ServerProcess process_;
    std::string error_;
};

}  // namespace zembrat::testing
