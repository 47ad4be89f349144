// The files that hold a user's secrets (SSH keys, ~/.aws/credentials, ~/.netrc), used only when
// their owner's tools would use them: what OpenSSH refuses is refused here, with the fix named.
#pragma once

#include <string>

namespace zembrat::publish {

enum class SecretFile {
    Private,  // a key or credential file: nobody but its owner may read it (no 077 bit)
    Netrc,    // ~/.netrc: nobody but its owner may write it (no 022 bit)
};

// Why the file at path may not be used (UTF-8, naming the file, its permissions and the chmod
// that fixes them), or empty when it may be used or is not there.
std::string LooseSecretFile(const std::string& path, SecretFile kind);

}  // namespace zembrat::publish
