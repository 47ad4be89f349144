// A desktop keyring of its own for a test: a D-Bus session bus (dbus-daemon) in a temporary folder
// and a gnome-keyring-daemon serving the Secret Service on it, its login keyring made and
// unlocked with a password given on its input. While the object lives, the process's
// DBUS_SESSION_BUS_ADDRESS, HOME and XDG folders point at it; the daemons end with it.
#pragma once

#include <memory>
#include <string>

#include "support/scoped_env.h"
#include "support/server_process.h"

namespace zembrat::testing {

class KeyringSession {
  public:
    KeyringSession();
    ~KeyringSession();
    KeyringSession(const KeyringSession&) = delete;
    KeyringSession& operator=(const KeyringSession&) = delete;

    bool started() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // The home folder the session's keyring files live under.
    std::string home() const { return dir_.path() + "/home"; }

  private:
    ScratchFolder dir_;
    int busPid_ = 0;
    std::string error_;
    std::unique_ptr<ScopedEnv> bus_, home_, runtime_, data_, config_;
};

}  // namespace zembrat::testing
