// The desktop's keyring (the Secret Service, through QtKeychain): the secret of a publish target,
// kept under the target's place (publish::TargetPlace), never in Zembrat.ini. There is no
// fallback: where no keyring answers, nothing is kept.
#pragma once

#include <optional>
#include <string>

namespace zembrat::ui {

enum class KeyringAnswer {
    Done,       // kept, read or forgotten
    NotKept,    // nothing is kept under that place
    NoKeyring,  // no keyring service answers (none runs, or the session bus is not there)
    Refused,    // the keyring refused (locked and not opened, denied, or another failure)
};

struct KeyringResult {
    KeyringAnswer answer = KeyringAnswer::NoKeyring;
    std::string secret;  // Done on a read: what is kept, UTF-8
    std::string why;     // otherwise: the keyring's own words (UTF-8), for the console
};

// Keeps secret under place (replacing what was kept); an empty secret forgets it.
KeyringResult KeepSecret(const std::string& place, const std::string& secret);
// What is kept under place.
KeyringResult ReadSecret(const std::string& place);

// ReadSecret's secret, as publish::Credentials::keyring asks it: nullopt when none is read.
std::optional<std::string> KeyringSecret(const std::string& place);

}  // namespace zembrat::ui
