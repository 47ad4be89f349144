#include "support/dav_server.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace zembrat::testing {
namespace {

constexpr char kNginx[] = "/usr/sbin/nginx";
constexpr char kRclone[] = "/usr/bin/rclone";
constexpr char kOpenssl[] = "/usr/bin/openssl";
constexpr char kDavExtModule[] = "/usr/lib/nginx/modules/ngx_http_dav_ext_module.so";

// The password's hash for an htpasswd line (openssl passwd -apr1).
std::string PasswordHash(const std::string& password) {
    std::string hash;
    const std::string command = std::string(kOpenssl) + " passwd -apr1 '" + password + "'";
    if (std::FILE* out = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, out)) hash += buffer;
        ::pclose(out);
    }
    while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r')) hash.pop_back();
    return hash;
}

}  // namespace

DavServer::DavServer(DavKind kind, std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)) {
    folder_.Write("www/.keep", "");
    port_ = FreeLoopbackPort();
    if (!(kind == DavKind::Rclone ? StartRclone() : StartNginx(kind == DavKind::NginxTls)) &&
        error_.empty())
        error_ = "the server did not start";
}

bool DavServer::StartNginx(bool tls) {
    const std::string hash = PasswordHash(password_);
    if (hash.empty()) {
        error_ = "openssl passwd made no hash (Debian package openssl)";
        return false;
    }
    const std::string p = folder_.path();
    folder_.Write("htpasswd", user_ + ":" + hash + "\n");
    folder_.Write("tmp/.keep", "");
    if (tls) {
        const std::string command = std::string(kOpenssl) +
                                    " req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                                    " -addext subjectAltName=IP:127.0.0.1 -keyout '" +
                                    p + "/key.pem' -out '" + p + "/cert.pem' 2>/dev/null";
        if (std::system(command.c_str()) != 0) {
            error_ = "openssl made no certificate (Debian package openssl)";
            return false;
        }
        caFile_ = p + "/cert.pem";
    }
    std::ostringstream conf;
    // As root the workers would otherwise become "nobody", who cannot write the folder.
    if (::geteuid() == 0) conf << "user root;\n";
    // PROPFIND (listings) from the module Debian packages on its own.
    conf << "load_module " << kDavExtModule << ";\n";
    conf << "worker_processes 1;\npid " << p << "/nginx.pid;\nerror_log " << p
         << "/error.log;\nevents { worker_connections 64; }\nhttp {\n  access_log " << p
         << "/access.log;\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf << "  " << temp << "_temp_path " << p << "/tmp/" << temp << ";\n";
    conf << "  server {\n    listen 127.0.0.1:" << port_ << (tls ? " ssl" : "") << ";\n";
    if (tls)
        conf << "    ssl_certificate " << caFile_ << ";\n    ssl_certificate_key " << p
             << "/key.pem;\n";
    conf << "    root " << p << "/www;\n"
         << "    client_max_body_size 0;\n    location / {\n"
         << "      dav_methods PUT DELETE MKCOL COPY MOVE;\n      dav_ext_methods PROPFIND "
            "OPTIONS;\n"
         << "      create_full_put_path off;\n"
         << "      dav_access user:rw group:r all:r;\n      auth_basic \"zembrat\";\n"
         << "      auth_basic_user_file " << p << "/htpasswd;\n    }\n  }\n}\n";
    const std::string confFile = folder_.Write("nginx.conf", conf.str());
    return process_.Start(
        {kNginx, "-q", "-c", confFile, "-p", p + "/", "-g", "daemon off; master_process off;"},
        p + "/server.log", port_, error_);
}

bool DavServer::StartRclone() {
    const std::string p = folder_.path();
    const std::string config = folder_.Write("rclone.conf", "");
    return process_.Start({kRclone, "serve", "webdav", p + "/www", "--config", config, "--addr",
                           "127.0.0.1:" + std::to_string(port_), "--user", user_, "--pass",
                           password_, "--cache-dir", p + "/cache"},
                          p + "/server.log", port_, error_);
}

}  // namespace zembrat::testing
