// "测试连接" and the host-key question of a publish: one connection to a target, made on a thread
// of its own while the window keeps its events going, that logs in and looks at the folder the
// images go to.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "publish/secret_files.h"
#include "publish/transport.h"

namespace zembrat::ui {

struct TargetProbe {
    bool loggedIn = false;
    bool hostKeyUnknown = false;               // refused only for an SFTP host key not known yet
    std::string fingerprint;                   // then: its "SHA256:..." fingerprint
    std::optional<publish::RemoteFile> found;  // what the look found (when it could look)
    std::string message;                       // UTF-8: the transport's why, when it failed
};

// Logs in to target (credentials' password, else keyring's, as a publish takes it) and, when
// lookAt is not empty, looks at lookAt below the target's base; pump is called every few
// milliseconds meanwhile on the calling thread.
TargetProbe ProbeTarget(const publish::Target& target, const publish::Credentials& credentials,
                        const publish::KeyringLookup& keyring, const std::string& lookAt,
                        const std::function<void()>& pump);

// What a probe found, in Chinese (GBK): logged in to where, and whether lookAt is there yet.
std::string ProbeWords(const publish::Target& target, const TargetProbe& probe,
                       const std::string& lookAt);

}  // namespace zembrat::ui
