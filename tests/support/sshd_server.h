// A real OpenSSH sshd on 127.0.0.1 for tests, serving SFTP (internal-sftp) from a configuration,
// a host key and an authorized-keys file made in a temporary folder; stopped when the object
// goes. It needs root (privilege separation); started() says why not otherwise.
#pragma once

#include <string>

#include "support/server_process.h"

namespace zembrat::testing {

class SshdServer {
  public:
    SshdServer();
    ~SshdServer() = default;
    SshdServer(const SshdServer&) = delete;
    SshdServer& operator=(const SshdServer&) = delete;

    bool started() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    // The folder the tests' files live in on the server's side (an absolute native path).
    std::string root() const { return dir_.path() + "/root"; }
    // The host key: its "SHA256:..." fingerprint, and its line for a known_hosts file.
    const std::string& fingerprint() const { return fingerprint_; }
    std::string KnownHostsLine() const;
    // How many logins the server has accepted so far.
    int Logins() const;
    // What the server logged so far.
    std::string Log() const { return ReadWholeFile(dir_.path() + "/sshd.log"); }
    // Lets the holder of the public key (an OpenSSH .pub line) log in.
    bool Authorize(const std::string& publicKeyLine);
    // Restarts the server with a new host key.
    bool ChangeHostKey();

    // Makes <sshFolder>/id_ed25519 (and .pub) without a passphrase; the .pub line, or empty.
    static std::string MakeUserKey(const std::string& sshFolder);

  private:
    bool Start();

    ScratchFolder dir_;
    ServerProcess process_;
    int port_ = 0;
    std::string fingerprint_;
    std::string error_;
};

// An ssh-agent of its own, listening on a socket in a temporary folder; ended when the object
// goes. Point SSH_AUTH_SOCK at socket() to use it.
class SshAgent {
  public:
    SshAgent();
    ~SshAgent();
    SshAgent(const SshAgent&) = delete;
    SshAgent& operator=(const SshAgent&) = delete;
    bool started() const { return pid_ > 0; }
    std::string socket() const { return dir_.path() + "/agent.sock"; }
    // Gives the agent a private key file; true when ssh-add took it.
    bool Add(const std::string& keyFile);

  private:
    ScratchFolder dir_;
    int pid_ = 0;
};

}  // namespace zembrat::testing
