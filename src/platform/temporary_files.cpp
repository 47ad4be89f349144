#include "platform/temporary_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include "platform/files.h"

namespace zembrat::platform::files_detail {
namespace {

// The temporary names are the pattern the header tells.
constexpr std::string_view kTemporaryPrefix = ".zembrat-";
constexpr std::string_view kTemporarySuffix = ".tmp";

std::string NextTemporaryName() {
    static std::atomic<unsigned> counter{0};
    return std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-" +
           std::to_string(counter++) + std::string(kTemporarySuffix);
}

bool AllDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The process that made a temporary name, or 0 when name is not one.
pid_t TemporaryOwner(std::string_view name) {
    if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) return 0;
    name.remove_prefix(kTemporaryPrefix.size());
    name.remove_suffix(kTemporarySuffix.size());
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos) return 0;
    const std::string_view pid = name.substr(0, dash);
    if (!AllDigits(pid) || !AllDigits(name.substr(dash + 1)) || pid.size() > 9) return 0;
    return static_cast<pid_t>(std::stol(std::string(pid)));
}

bool ProcessRunning(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

}  // namespace

Fd CreateUnnamed(int folder, unsigned permissions) {
    return Fd(Retrying([&] {
        return ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC,
                        static_cast<mode_t>(permissions));
    }));
}

bool NoUnnamedFiles(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Linking by descriptor needs a privilege on older kernels; the
// file's /proc name works there, and is kept to once it was needed.
bool LinkUnnamed(int file, int folder, const char* name) {
    static std::atomic<bool> byDescriptor{true};
    if (byDescriptor.load(std::memory_order_relaxed)) {
        if (::linkat(file, "", folder, name, AT_EMPTY_PATH) == 0) return true;
        if (errno != ENOENT && errno != EPERM) return false;
    }
    const std::string proc = "/proc/self/fd/" + std::to_string(file);
    if (::linkat(AT_FDCWD, proc.c_str(), folder, name, AT_SYMLINK_FOLLOW) != 0) return false;
    byDescriptor.store(false, std::memory_order_relaxed);
    return true;
}

Fd CreateTemporary(int folder, std::string& name, unsigned permissions) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = NextTemporaryName();
        Fd fd(Retrying([&] {
            return ::openat(folder, name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            static_cast<mode_t>(permissions));
        }));
        if (fd || errno != EEXIST) return fd;
    }
    return Fd();
}

bool RenameNoReplace(int folder, const char* from, const char* to) {
    if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL) return false;
    // A file system without the flag: a second link, then the first one goes.
    if (::linkat(folder, from, folder, to, 0) != 0) return false;
    ::unlinkat(folder, from, 0);
    return true;
}

void Discard(int folder, const std::string& name) {
    if (name.empty()) return;
    const int error = errno;
    ::unlinkat(folder, name.c_str(), 0);
    errno = error;
}

bool WriteTemporary(int folder, std::string_view bytes, unsigned permissions, bool sync,
                    std::string& name) {
    name.clear();
    Fd file = CreateUnnamed(folder, permissions);
    const bool unnamed = static_cast<bool>(file);
    if (!unnamed) {
        if (!NoUnnamedFiles(errno)) return false;
        file = CreateTemporary(folder, name, permissions);
        if (!file) return false;
    }
    bool ok = WriteAll(file.get(), bytes) && (!sync || ::fsync(file.get()) == 0);
    if (ok && unnamed) {
        ok = false;
        for (int attempt = 0; attempt < 100 && !ok; ++attempt) {
            name = NextTemporaryName();
            ok = LinkUnnamed(file.get(), folder, name.c_str());
            if (!ok && errno != EEXIST) break;
        }
        if (!ok) name.clear();
    }
    ok = ::close(file.Release()) == 0 && ok;
    if (!ok) Discard(folder, name);
    return ok;
}

std::size_t SweepFolder(int folder) {
    const int listing = Retrying(
        [&] { return ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
    if (listing < 0) return 0;
    DIR* dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return 0;
    }
    const pid_t self = ::getpid();
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t owner = TemporaryOwner(entry->d_name);
        if (owner <= 0 || owner == self || ProcessRunning(owner)) continue;
        struct stat st {};
        if (::fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (::unlinkat(folder, entry->d_name, 0) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

}  // namespace zembrat::platform::files_detail
