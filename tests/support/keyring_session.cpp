#include "support/keyring_session.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>

namespace zembrat::testing {

KeyringSession::KeyringSession() {
    const std::string root = dir_.path();
    for (const char* folder : {"/home/.local/share", "/home/.config", "/run"})
        std::filesystem::create_directories(root + folder);
    ::chmod((root + "/run").c_str(), 0700);
    home_ = std::make_unique<ScopedEnv>("HOME", (root + "/home").c_str());
    runtime_ = std::make_unique<ScopedEnv>("XDG_RUNTIME_DIR", (root + "/run").c_str());
    data_ = std::make_unique<ScopedEnv>("XDG_DATA_HOME", (root + "/home/.local/share").c_str());
    config_ = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", (root + "/home/.config").c_str());
    // The bus forks into the background and prints its address and its process id.
    std::string printed;
    if (!RunToEnd({"/usr/bin/dbus-daemon", "--session", "--fork", "--print-address=1",
                   "--print-pid=1", "--address=unix:path=" + root + "/bus"},
                  &printed)) {
        error_ = "dbus-daemon did not start: " + printed;
        return;
    }
    std::string address, pid;
    for (std::size_t at = 0, line = 0; at < printed.size(); ++line) {
        const std::size_t end = printed.find('\n', at);
        const std::string text = printed.substr(at, end - at);
        if (text.starts_with("unix:")) address = text;
        if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) pid = text;
        if (end == std::string::npos) break;
        at = end + 1;
    }
    if (address.empty() || pid.empty()) {
        error_ = "dbus-daemon printed no address and process id: " + printed;
        return;
    }
    busPid_ = std::stoi(pid);
    bus_ = std::make_unique<ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", address.c_str());
    // The keyring daemon reads the login keyring's password on its input, makes that keyring
    // unlocked, and ends when the bus does.
    std::string said;
    if (!RunToEnd({"/bin/sh", "-c",
                   "printf test-password | exec gnome-keyring-daemon --unlock "
                   "--components=secrets"},
                  &said))
        error_ = "gnome-keyring-daemon did not start: " + said;
}

KeyringSession::~KeyringSession() {
    if (busPid_ > 0) ::kill(busPid_, SIGTERM);
}

}  // namespace zembrat::testing
