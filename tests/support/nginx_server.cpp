#include "support/nginx_server.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/server_process.h"

namespace zembrat::testing {
namespace {

constexpr char kNginx[] = "/usr/sbin/nginx";

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
    for (std::size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
        s.replace(at, from.size(), to);
    return s;
}

}  // namespace

NginxServer::NginxServer(const std::map<std::string, std::string>& files,
                         std::string_view locations) {
    if (::access(kNginx, X_OK) != 0) {
        error_ = "nginx is not installed (Debian package nginx-light)";
        return;
    }
    port_ = FreeLoopbackPort();
    const std::string p = dir_.path();
    for (const auto& [path, bytes] : files) dir_.Write("www" + path, bytes);
    dir_.Write("tmp/.keep", "");
    const std::string port = std::to_string(port_);
    std::ostringstream conf;
    // As root the workers would otherwise become "nobody", who cannot read the temporary folder.
    if (::geteuid() == 0) conf << "user root;\n";
    conf << "worker_processes 1;\npid " << p << "/nginx.pid;\nerror_log " << p
         << "/error.log;\nevents { worker_connections 64; }\nhttp {\n"
         << "  log_format t "
            "'$request_uri\\t$http_referer\\t$http_user_agent\\t$status\\t$http_cookie';\n"
         << "  access_log " << p << "/access.log t;\n";
    for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf << "  " << temp << "_temp_path " << p << "/tmp/" << temp << ";\n";
    conf << "  types { image/png png; image/gif gif; image/jpeg jpg; text/html htm; }\n"
         << "  default_type application/octet-stream;\n"
         << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << p << "/www;\n"
         << ReplaceAll(std::string(locations), "@PORT@", port) << "\n  }\n}\n";
    const std::string confFile = dir_.Write("nginx.conf", conf.str());

    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(kNginx, kNginx, "-q", "-c", confFile.c_str(), "-p", (p + "/").c_str(), "-g",
                "daemon off;", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    pid_ = child;
    for (int i = 0; i < 500; ++i) {
        if (LoopbackAccepts(port_)) return;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = 0;
            error_ = "nginx ended: " + ReadFileOrMissing(p + "/error.log");
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error_ = "nginx did not answer on 127.0.0.1:" + port;
}

NginxServer::~NginxServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGQUIT);  // the master ends its worker and itself
    int status = 0;
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
}

std::string NginxServer::Url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<NginxRequest> NginxServer::Requests() const {
    std::vector<NginxRequest> requests;
    for (const auto& f : TabSeparatedLines(dir_ / "access.log", 5))
        requests.push_back({f[0], f[1], f[2], std::atoi(f[3].c_str()), f[4]});
    return requests;
}

}  // namespace zembrat::testing
