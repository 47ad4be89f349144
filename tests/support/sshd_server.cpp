#include "support/sshd_server.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <fcntl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zembrat::testing {
namespace {

constexpr char kSshd[] = "/usr/sbin/sshd";
constexpr char kKeygen[] = "/usr/bin/ssh-keygen";
constexpr char kAgent[] = "/usr/bin/ssh-agent";
constexpr char kAdd[] = "/usr/bin/ssh-add";

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
    return FirstLine(ReadWholeFile(key + ".pub"));
}

int SshdServer::Logins() const {
    return CountLines(dir_.path() + "/sshd.log", "Accepted publickey for ");
}

bool SshdServer::Authorize(const std::string& publicKeyLine) {
    std::ofstream out(dir_.path() + "/authorized_keys", std::ios::app);
    out << publicKeyLine << "\n";
    return static_cast<bool>(out.flush());
}

std::string SshdServer::KnownHostsLine() const {
    const std::string key = FirstLine(ReadWholeFile(dir_.path() + "/host_key.pub"));
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
         << "Subsystem sftp internal-sftp\nLogLevel INFO\n";
    dir_.Write("sshd_config", conf.str());
    error_.clear();
    if (!process_.Start({kSshd, "-D", "-e", "-f", p + "/sshd_config"}, p + "/sshd.log", port_,
                        error_))
        return false;
    return true;
}

SshAgent::SshAgent() {
    if (dir_.path().empty() || ::access(kAgent, X_OK) != 0) return;
    const std::string path = socket();
    const pid_t child = ::fork();
    if (child == 0) {
        const int none = ::open("/dev/null", O_RDWR);
        ::dup2(none, 0);
        ::dup2(none, 1);
        ::dup2(none, 2);
        ::execl(kAgent, kAgent, "-D", "-a", path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (child < 0) return;
    pid_ = child;
    for (int i = 0; i < 500 && ::access(path.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

SshAgent::~SshAgent() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

bool SshAgent::Add(const std::string& keyFile) {
    if (!started()) return false;
    const std::string path = socket();
    // ssh-add finds the agent through its environment.
    const char* old = std::getenv("SSH_AUTH_SOCK");
    const std::string saved = old ? old : "";
    ::setenv("SSH_AUTH_SOCK", path.c_str(), 1);
    const bool added = RunToEnd({kAdd, "-q", keyFile});
    if (old) {
        ::setenv("SSH_AUTH_SOCK", saved.c_str(), 1);
    } else {
        ::unsetenv("SSH_AUTH_SOCK");
    }
    return added;
}

}  // namespace zembrat::testing
