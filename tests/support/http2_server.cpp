#include "support/http2_server.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/https_server.h"

namespace zembrat::testing {
namespace {

constexpr char kNginx[] = "/usr/sbin/nginx";
constexpr char kEchoModule[] = "/usr/lib/nginx/modules/ngx_http_echo_module.so";

}  // namespace

Http2Server::Http2Server(Http2ServerOptions options) {
    if (::access(kNginx, X_OK) != 0) {
        error_ = "nginx is not installed (Debian package nginx-light)";
        return;
    }
    const bool delayed = options.delay.count() > 0;
    if (delayed && ::access(kEchoModule, R_OK) != 0) {
        error_ = "nginx's echo module is not installed (Debian package libnginx-mod-http-echo)";
        return;
    }
    port_ = FreeLoopbackPort();
    const std::string p = dir_.path();
    const HttpsServer::Pem pem = HttpsServer::IssueCertificate();
    dir_.Write("cert.pem", pem.certificate);
    dir_.Write("key.pem", pem.key);
    dir_.Write("www/.keep", "");
    dir_.Write("tmp/.keep", "");
    std::ostringstream conf;
    if (delayed) conf << "load_module " << kEchoModule << ";\n";
    // As root the workers would otherwise become "nobody", who cannot read the scratch folder.
    if (::geteuid() == 0) conf << "user root;\n";
    conf << "worker_processes 1;\npid " << p << "/nginx.pid;\nerror_log " << p
         << "/error.log;\nevents { worker_connections 1024; }\nhttp {\n"
         << "  log_format t '$request_uri\\t$server_protocol\\t$connection\\t$status';\n"
         << "  access_log " << p << "/access.log t;\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf << "  " << temp << "_temp_path " << p << "/tmp/" << temp << ";\n";
    conf << "  types { image/png png; image/gif gif; image/jpeg jpg; text/html htm; }\n"
         << "  default_type application/octet-stream;\n"
         << "  keepalive_requests 1000000;\n"
         << "  server {\n    listen 127.0.0.1:" << port_
         << (options.http2 ? " ssl http2;\n" : " ssl;\n") << "    ssl_certificate " << p
         << "/cert.pem;\n    ssl_certificate_key " << p << "/key.pem;\n    root " << p << "/www;\n";
    if (delayed) {
        // The sleep is a timer of the worker; the file is then served as without it.
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", options.delay.count() / 1000.0);
        conf << "    location / { echo_sleep " << seconds << "; echo_exec @file; }\n"
             << "    location @file { }\n";
    }
    conf << "  }\n}\n";
    const std::string confFile = dir_.Write("nginx.conf", conf.str());
    if (!process_.Start({kNginx, "-q", "-c", confFile, "-p", p + "/", "-g", "daemon off;"},
                        p + "/nginx.out", port_, error_) &&
        error_.empty())
        error_ = "nginx did not start";
}

Http2Server::~Http2Server() = default;

std::string Http2Server::Url(std::string_view path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void Http2Server::Put(const std::string& path, const std::string& bytes) const {
    dir_.Write("www" + path, bytes);
}

bool Http2Server::PutSparse(const std::string& path, std::uint64_t size) const {
    const std::string file = dir_.Write("www" + path, "");
    std::error_code ec;
    if (!file.empty()) std::filesystem::resize_file(file, size, ec);
    return !file.empty() && !ec;
}

std::vector<Http2Request> Http2Server::Requests(std::size_t atLeast) const {
    std::vector<Http2Request> requests;
    for (int i = 0; i < 500; ++i) {
        requests.clear();
        for (const auto& f : TabSeparatedLines(dir_.path() + "/access.log", 4))
            requests.push_back({f[0], f[1], std::atol(f[2].c_str()), std::atoi(f[3].c_str())});
        if (requests.size() >= atLeast) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return requests;
}

}  // namespace zembrat::testing
