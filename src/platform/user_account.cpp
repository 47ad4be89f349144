#include "platform/user_account.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace zembrat::platform {
namespace {

// The effective user's entry of the password database; its fields live in buffer.
const passwd* OwnEntry(passwd& entry, std::vector<char>& buffer) {
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    buffer.resize(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    for (;;) {
        passwd* found = nullptr;
        const int error = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        return error == 0 ? found : nullptr;
    }
}

}  // namespace

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    passwd entry{};
    std::vector<char> buffer;
    const passwd* own = OwnEntry(entry, buffer);
    return own && own->pw_dir ? own->pw_dir : "";
}

std::string LoginName() {
    passwd entry{};
    std::vector<char> buffer;
    const passwd* own = OwnEntry(entry, buffer);
    return own && own->pw_name ? own->pw_name : "";
}

}  // namespace zembrat::platform
