#include "publish/secret_files.h"

#include <sys/stat.h>

#include <cstdio>

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

}  // namespace zembrat::publish
