// The files that hold a user's secrets (SSH keys, ~/.aws/credentials, ~/.netrc), used only when
// their owner's tools would use them: what OpenSSH refuses is refused here, with the fix named.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "publish/transport.h"

namespace zembrat::publish {

enum class SecretFile {
    Private,  // a key or credential file: nobody but its owner may read it (no 077 bit)
    Netrc,    // ~/.netrc: nobody but its owner may write it (no 022 bit)
};

// Why the file at path may not be used (UTF-8, naming the file, its permissions and the chmod
// that fixes them), or empty when it may be used or is not there.
std::string LooseSecretFile(const std::string& path, SecretFile kind);

// Whether the environment or a credential file gives target's secret: S3 keys in AWS_* or
// ~/.aws/credentials (or a file there that is refused), a ~/.netrc entry for an FTP or WebDAV
// host. An SFTP target logs in with keys: none is needed.
bool SecretGivenBeside(const Target& target, const std::string& home);

// The desktop's keyring as the program reads it: the secret kept for a target's place, nullopt
// when none is kept or no keyring answers.
using KeyringLookup = std::function<std::optional<std::string>(const std::string& place)>;

// The password target's transport is given: credentials' own, else, when nothing beside gives
// one, what keyring keeps for the target's place; empty when there is none.
std::string KeyringPassword(const Target& target, const Credentials& credentials,
                            const KeyringLookup& keyring);

}  // namespace zembrat::publish
