#include "publish/secret_files.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "publish/s3_parts.h"
#include "publish/web_transfer.h"

namespace zembrat::publish {

std::string LooseSecretFile(const std::string& path, SecretFile kind) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    const unsigned mode = static_cast<unsigned>(st.st_mode) & 0777u;
    const bool loose = kind == SecretFile::Private ? (mode & 077u) != 0 : (mode & 022u) != 0;
    if (!loose) return {};
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", mode);
    if (kind == SecretFile::Private)
        return path + " is readable by others (" + octal +
               "): OpenSSH refuses such a file, and so is it refused here; make it the owner's "
               "alone with: chmod 600 " +
               path;
    return path + " is writable by others (" + octal +
           "): anyone could change the logins it gives, so it is not used; make it the owner's "
           "alone with: chmod 600 " +
           path;
}

namespace {

// Whether the .netrc at path holds an entry for host (or a default one).
bool NetrcKnows(const std::string& path, const std::string& host) {
    std::ifstream in(path);
    std::string word, previous;
    while (in >> word) {
        if (word == "default" || (previous == "machine" && word == host)) return true;
        previous = word;
    }
    return false;
}

}  // namespace

bool SecretGivenBeside(const Target& target, const std::string& home) {
    const std::string folder = HomeFolder(home);
    switch (target.protocol) {
        case Protocol::Sftp:
            return true;
        case Protocol::S3: {
            std::string why;
            return FindAwsKeys(folder, target.profile, why) ||
                   !LooseSecretFile(folder + "/.aws/credentials", SecretFile::Private).empty();
        }
        case Protocol::Ftp:
        case Protocol::FtpExplicit:
        case Protocol::FtpImplicit:
        case Protocol::Dav:
        case Protocol::Davs:
            return NetrcKnows(folder + "/.netrc", target.host);
    }
    return false;
}

std::string KeyringPassword(const Target& target, const Credentials& credentials,
                            const KeyringLookup& keyring) {
    if (!credentials.password.empty()) return credentials.password;
    if (!keyring || SecretGivenBeside(target, credentials.home)) return {};
    return keyring(TargetPlace(target)).value_or(std::string());
}

}  // namespace zembrat::publish
