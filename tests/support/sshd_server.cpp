#include "support/sshd_server.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace zembrat::testing {
namespace {

constexpr char kSshd[] = "/usr/sbin/sshd";
constexpr char kKeygen[] = "/usr/bin/ssh-keygen";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string FirstLine(std::string text) {
    return text.substr(0, text.find('\n'));
}

}  // namespace

SshdServer::SshdServer() {
    if (::access(kSshd, X_OK) != 0 || ::access(kKeygen, X_OK) != 0) {
        error_ = "OpenSSH's sshd or ssh-keygen is not installed (Debian openssh-server)";
        return;
    }
    if (::geteuid() != 0) {
        error_ = "sshd's privilege separation needs root, and this test does not run as root";
        return;
    }
    if (dir_.path().empty()) {
        error_ = "no temporary folder";
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories("/run/sshd", ec);  // its privilege-separation folder
    std::filesystem::create_directories(root(), ec);
    dir_.Write("authorized_keys", "");
    port_ = FreeLoopbackPort();
    if (!ChangeHostKey() && error_.empty()) error_ = "sshd did not start";
}

std::string SshdServer::MakeUserKey(const std::string& sshFolder) {
    std::error_code ec;
    std::filesystem::create_directories(sshFolder, ec);
    const std::string key = sshFolder + "/id_ed25519";
    std::filesystem::remove(key, ec);
    std::filesystem::remove(key + ".pub", ec);
    if (!RunToEnd({kKeygen, "-q", "-t", "ed25519", "-N", "", "-C", "zembrat-test", "-f", key}))
        return "";
    return FirstLine(ReadAll(key + ".pub"));
}

bool SshdServer::Authorize(const std::string& publicKeyLine) {
    std::ofstream out(dir_.path() + "/authorized_keys", std::ios::app);
    out << publicKeyLine << "\n";
    return static_cast<bool>(out.flush());
}

std::string SshdServer::KnownHostsLine() const {
    const std::string key = FirstLine(ReadAll(dir_.path() + "/host_key.pub"));
    // "type base64 comment" -> "[127.0.0.1]:port type base64"
    std::istringstream words(key);
    std::string type, base64;
    words >> type >> base64;
    return "[127.0.0.1]:" + std::to_string(port_) + " " + type + " " + base64;
}

bool SshdServer::ChangeHostKey() {
    process_.Stop();
    const std::string p = dir_.path();
    std::error_code ec;
    std::filesystem::remove(p + "/host_key", ec);
    std::filesystem::remove(p + "/host_key.pub", ec);
    std::string output;
    if (!RunToEnd({kKeygen, "-q", "-t", "ed25519", "-N", "", "-f", p + "/host_key"}, &output) ||
        !RunToEnd({kKeygen, "-l", "-E", "sha256", "-f", p + "/host_key.pub"}, &output)) {
        error_ = "ssh-keygen failed: " + output;
        return false;
    }
    // "256 SHA256:... comment (ED25519)"
    std::istringstream words(output);
    std::string bits;
    words >> bits >> fingerprint_;
    return Start();
}

bool SshdServer::Start() {
    const std::string p = dir_.path();
    std::ostringstream conf;
    conf << "ListenAddress 127.0.0.1\nPort " << port_ << "\nHostKey " << p << "/host_key\n"
         << "AuthorizedKeysFile " << p << "/authorized_keys\n"
         << "PidFile " << p << "/sshd.pid\n"
         << "StrictModes no\nUsePAM no\nPermitRootLogin prohibit-password\n"
         << "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
         << "Subsystem sftp internal-sftp\nLogLevel ERROR\n";
    dir_.Write("sshd_config", conf.str());
    error_.clear();
    if (!process_.Start({kSshd, "-D", "-e", "-f", p + "/sshd_config"}, p + "/sshd.log", port_,
                        error_))
        return false;
    return true;
}

}  // namespace zembrat::testing
