#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "text/codec.h"

namespace zembrat::platform {
namespace fs = std::filesystem;

namespace {

// The path without separators at its end (the root stays "/"): "a/" names the link a itself,
// not the folder it leads to.
std::string WithoutFinalSeparators(std::string_view path) {
    while (path.size() > 1 && path.back() == text::kPathSeparator) path.remove_suffix(1);
    return std::string(path);
}

}  // namespace

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

fs::path NativePath(std::string_view gbkPath) {
    const std::string utf8 = text::Utf8FromGbk(gbkPath);
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string GbkFromNative(const fs::path& path) {
    const std::u8string utf8 = path.u8string();
    return text::GbkFromUtf8(
        std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

bool ReadWholeFile(std::string_view path, text::Bytes& out) {
    out.clear();
    if (path.empty()) return false;
    // Only regular files: a FIFO would block the open, a link to a device could never end.
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    out.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            out.clear();
            return false;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

bool WriteWholeFile(std::string_view path, std::string_view bytes) {
    if (path.empty()) return false;
    // Never through a link at the name (it could lead back to a source article) and never
    // blocking on a FIFO; only a regular file is truncated and written.
    const int fd = ::open(NativePath(path).c_str(),
                          O_WRONLY | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) == 0;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ok = (::close(fd) == 0) && ok;
    return ok;
}

bool PathExists(std::string_view path) {
    if (path.empty()) return false;
    std::error_code ec;
    return fs::exists(fs::symlink_status(NativePath(path), ec));
}

bool IsRealFolder(std::string_view path) {
    if (path.empty()) return false;
    struct stat st {};
    return ::lstat(NativePath(WithoutFinalSeparators(path)).c_str(), &st) == 0 &&
           S_ISDIR(st.st_mode);
}

std::optional<unsigned> PermissionBits(std::string_view path) {
    struct stat st {};
    if (path.empty() || ::stat(NativePath(path).c_str(), &st) != 0) return std::nullopt;
    return static_cast<unsigned>(st.st_mode) & 07777u;
}

bool MakeResultFolder(std::string_view path) {
    if (path.empty()) return false;
    const std::string folder = WithoutFinalSeparators(path);
    if (::mkdir(NativePath(folder).c_str(), 0777) != 0 && errno != EEXIST) return false;
    return IsRealFolder(folder);
}

bool IsFolder(std::string_view path) {
    if (path.empty()) return false;
    std::error_code ec;
    return fs::is_directory(NativePath(path), ec);
}

bool CreateOneFolder(std::string_view path) {
    if (path.empty()) return false;
    std::error_code ec;
    return fs::create_directory(NativePath(path), ec) && !ec;
}

bool NameLess(std::string_view a, std::string_view b) {
    const std::string la = text::AsciiLower(a);
    const std::string lb = text::AsciiLower(b);
    if (la != lb) return la < lb;
    return a < b;
}

std::vector<FolderEntry> ListFolder(std::string_view folder) {
    std::vector<FolderEntry> entries;
    std::error_code ec;
    if (folder.empty()) return entries;
    // increment(ec), not ++: an entry that cannot be read ends the listing instead of throwing.
    for (fs::directory_iterator it(NativePath(folder), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code typeError;
        entries.push_back({GbkFromNative(it->path().filename()), it->is_directory(typeError)});
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& x, const FolderEntry& y) { return NameLess(x.name, y.name); });
    return entries;
}

namespace {

inline char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool SameChar(std::string_view p, std::size_t i, std::string_view n, std::size_t j,
              std::size_t len) {
    if (len == 1) return Lower(p[i]) == Lower(n[j]);
    return p.compare(i, len, n.substr(j, len)) == 0;
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    // Greedy matching with one backtrack point for the last "*", over whole characters.
    std::size_t p = 0, n = 0;
    std::size_t starP = text::kNotFound, starN = 0;
    while (n < name.size()) {
        const std::size_t nLen = text::CharLength(name, n);
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
            continue;
        }
        if (p < pattern.size()) {
            const std::size_t pLen = text::CharLength(pattern, p);
            if ((pLen == 1 && pattern[p] == '?') ||
                (pLen == nLen && SameChar(pattern, p, name, n, pLen))) {
                p += pLen;
                n += nLen;
                continue;
            }
        }
        if (starP == text::kNotFound) return false;
        p = starP;
        starN += text::CharLength(name, starN);
        n = starN;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<std::string> SearchFiles(std::string_view folder, std::string_view pattern) {
    std::vector<std::string> names;
    if (pattern.empty()) return names;
    for (const FolderEntry& entry : ListFolder(folder)) {
        if (!entry.isFolder && WildcardMatch(pattern, entry.name)) names.push_back(entry.name);
    }
    return names;
}

// ---- storing beneath a base folder

namespace {

// A file descriptor closed when it goes.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    ~Fd() { Reset(); }
    int get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    explicit operator bool() const { return fd_ >= 0; }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

int Retrying(auto call) {
    int r;
    do {
        r = call();
    } while (r < 0 && errno == EINTR);
    return r;
}

// The folder names and the final name of a relative GBK path, in the file system's form. Empty
// names and "." are passed over; ".." or an absolute path gives nothing (it would leave the base).
std::optional<std::vector<std::string>> PathNames(std::string_view relative) {
    if (relative.empty() || relative.front() == text::kPathSeparator) return std::nullopt;
    std::vector<std::string> names;
    for (const std::string& part : text::Split(std::string(relative), "/")) {
        if (part.empty() || part == ".") continue;
        if (part == "..") return std::nullopt;
        names.push_back(NativePath(part).string());
    }
    if (names.empty()) return std::nullopt;
    return names;
}

#ifdef SYS_openat2
// One call for a folder path that is all there, where the kernel has openat2: beneath the base,
// no link followed. ENOSYS (an older kernel) and ENOENT send the caller to the walk.
int OpenBeneath(int base, const std::string& path) {
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    return Retrying([&] {
        return static_cast<int>(::syscall(SYS_openat2, base, path.c_str(), &how, sizeof how));
    });
}
#endif

// The folder base/names[0..count), made where it is missing unless make is false; no link is
// followed on the way, nor at base itself (its last name; the folders above it are the user's).
Fd OpenFolders(std::string_view base, const std::vector<std::string>& names, std::size_t count,
               bool make = true) {
    const std::string top = NativePath(WithoutFinalSeparators(base)).string();
    Fd folder(Retrying(
        [&] { return ::open(top.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
    struct stat st {};
    if (folder && (::fstat(folder.get(), &st) != 0 || !S_ISDIR(st.st_mode))) return Fd();
    if (!folder || count == 0) return folder;
#ifdef SYS_openat2
    std::string path;
    for (std::size_t i = 0; i < count; ++i) path += (i ? "/" : "") + names[i];
    const int whole = OpenBeneath(folder.get(), path);
    if (whole >= 0) return Fd(whole);
    if (errno != ENOSYS && errno != ENOENT) return Fd();
#endif
    for (std::size_t i = 0; i < count; ++i) {
        const char* name = names[i].c_str();
        auto open = [&] {
            return Retrying([&] {
                return ::openat(folder.get(), name,
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            });
        };
        int next = open();
        if (next < 0 && errno == ENOENT && make) {
            if (::mkdirat(folder.get(), name, 0777) != 0 && errno != EEXIST) return Fd();
            next = open();
        }
        if (next < 0) return Fd();  // ENOTDIR or ELOOP: a file or a link in the way
        folder = Fd(next);
    }
    return folder;
}

// What is at name in the folder, for a store: nothing, the same bytes, or something else.
enum class Occupant { None, Same, Other, Unknown };

Occupant OccupantOf(int folder, const char* name, std::string_view bytes) {
    const Fd fd(Retrying(
        [&] { return ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
    if (!fd) {
        if (errno == ENOENT) return Occupant::None;
        struct stat st {};
        // A link (ELOOP) or anything else that is there but cannot be opened.
        return ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? Occupant::Other
                                                                      : Occupant::Unknown;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return Occupant::Unknown;
    if (!S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) != bytes.size())
        return Occupant::Other;
    char buffer[65536];
    std::size_t at = 0;
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Occupant::Unknown;
        if (n == 0) break;
        const auto got = static_cast<std::size_t>(n);
        if (at + got > bytes.size() || bytes.compare(at, got, std::string_view(buffer, got)) != 0)
            return Occupant::Other;
        at += got;
    }
    return at == bytes.size() ? Occupant::Same : Occupant::Other;
}

// ---- files that get their name only once they are whole

// The temporary names: ".zembrat-" + process id + "-" + a number + ".tmp". A run finds those of
// ended processes by this pattern and removes them (RemoveLeftoverTemporaries).
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

// A new file without a name in the folder. None where the file system cannot make one (then
// errno is EOPNOTSUPP, or EISDIR or EINVAL on a kernel without such files), or on failure.
Fd CreateUnnamed(int folder, unsigned permissions) {
    return Fd(Retrying([&] {
        return ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC,
                        static_cast<mode_t>(permissions));
    }));
}

bool NoUnnamedFiles(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Gives the unnamed file its first name in the folder; fails with EEXIST, replacing nothing,
// when something is at the name. Linking by descriptor needs a privilege on older kernels; the
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

// A new, empty file in the folder under a fresh temporary name, which is put in name.
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

// Renames from to to in the folder unless something is at to (EEXIST then).
bool RenameNoReplace(int folder, const char* from, const char* to) {
    if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL) return false;
    // A file system without the flag: a second link, then the first one goes.
    if (::linkat(folder, from, folder, to, 0) != 0) return false;
    ::unlinkat(folder, from, 0);
    return true;
}

// Removes a temporary name, keeping errno for the caller.
void Discard(int folder, const std::string& name) {
    if (name.empty()) return;
    const int error = errno;
    ::unlinkat(folder, name.c_str(), 0);
    errno = error;
}

// The bytes as a whole, closed file under a fresh temporary name in the folder (its name in
// name); synced first when sync is set. The file is written without a name where the file system
// allows it, so the temporary name only ever shows a whole file. False, with nothing left, on
// failure.
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

// Stores the bytes at name in an open folder: written whole first, then given the name only
// where nothing is at it, so the name never shows a part of them. unnamed is cleared once the
// folder's file system turns out to make no unnamed files; then a temporary name is used.
StoreBytesResult StoreInFolder(int folder, const char* name, std::string_view bytes,
                               bool& unnamed) {
    // What is at the name already is looked at first: a picture stored before costs no new file.
    switch (OccupantOf(folder, name, bytes)) {
        case Occupant::Same:
            return StoreBytesResult::Same;
        case Occupant::Other:
            return StoreBytesResult::Taken;
        case Occupant::Unknown:
            return StoreBytesResult::Failed;
        case Occupant::None:
            break;
    }
    Fd file;
    std::string temporary;
    if (unnamed) {
        file = CreateUnnamed(folder, 0666);
        if (!file && NoUnnamedFiles(errno)) unnamed = false;
    }
    if (!unnamed) file = CreateTemporary(folder, temporary, 0666);
    if (!file) return StoreBytesResult::Failed;
    if (!WriteAll(file.get(), bytes) || (!temporary.empty() && ::close(file.Release()) != 0)) {
        Discard(folder, temporary);
        return StoreBytesResult::Failed;
    }
    StoreBytesResult result = StoreBytesResult::Failed;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool placed = temporary.empty() ? LinkUnnamed(file.get(), folder, name)
                                              : RenameNoReplace(folder, temporary.c_str(), name);
        if (placed) return StoreBytesResult::Stored;
        if (errno != EEXIST) break;
        const Occupant occupant = OccupantOf(folder, name, bytes);
        if (occupant == Occupant::None) continue;  // gone meanwhile: try again
        if (occupant == Occupant::Same) result = StoreBytesResult::Same;
        if (occupant == Occupant::Other) result = StoreBytesResult::Taken;
        break;
    }
    Discard(folder, temporary);
    return result;
}

// Removes the leftover temporary files of ended processes from one open folder.
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

}  // namespace

StoreBytesResult StoreBytesBeneath(std::string_view base, std::string_view relativePath,
                                   std::string_view bytes) {
    const auto names = PathNames(relativePath);
    if (!names || base.empty()) return StoreBytesResult::Failed;
    const Fd folder = OpenFolders(base, *names, names->size() - 1);
    if (!folder) return StoreBytesResult::Failed;
    bool unnamed = true;
    return StoreInFolder(folder.get(), names->back().c_str(), bytes, unnamed);
}

FolderBeneath::FolderBeneath(std::string_view base, std::string_view relativeFolder)
    : base_(base), relative_(relativeFolder) {}

FolderBeneath::~FolderBeneath() {
    if (fd_ >= 0) ::close(fd_);
}

bool FolderBeneath::Open() {
    if (fd_ >= 0) return true;
    if (base_.empty()) return false;
    // The folder's names as StoreBytesBeneath reads the folder part of a file's path.
    const auto names = PathNames(relative_ + "/_");
    if (!names) return false;
    fd_ = OpenFolders(base_, *names, names->size() - 1).Release();
    return fd_ >= 0;
}

StoreBytesResult FolderBeneath::Store(std::string_view name, std::string_view bytes) {
    const auto names = PathNames(name);
    if (!names || names->size() != 1 || !Open()) return StoreBytesResult::Failed;
    StoreBytesResult result = StoreInFolder(fd_, names->front().c_str(), bytes, unnamedFiles_);
    struct stat held {};
    // (A file without a name cannot be made in a removed folder: EPERM, not ENOENT.)
    if (result == StoreBytesResult::Failed &&
        (errno == ENOENT || (::fstat(fd_, &held) == 0 && held.st_nlink == 0))) {
        // The folder went away while it was held (removed by hand): make it again, once.
        ::close(fd_);
        fd_ = -1;
        if (Open()) result = StoreInFolder(fd_, names->front().c_str(), bytes, unnamedFiles_);
    }
    return result;
}

bool WriteFileBeneath(std::string_view base, std::string_view relativeName,
                      std::string_view bytes) {
    return WriteFileBeneath(base, relativeName, bytes, 0666);
}

bool WriteFileBeneath(std::string_view base, std::string_view relativeName, std::string_view bytes,
                      unsigned permissions) {
    const auto names = PathNames(relativeName);
    if (!names || base.empty()) return false;
    const Fd folder = OpenFolders(base, *names, names->size() - 1);
    if (!folder) return false;
    std::string temporary;
    if (!WriteTemporary(folder.get(), bytes, permissions & 0777u, false, temporary)) return false;
    // The rename replaces the entry itself: a link at the name is replaced, not written through.
    if (::renameat(folder.get(), temporary.c_str(), folder.get(), names->back().c_str()) == 0)
        return true;
    Discard(folder.get(), temporary);
    return false;
}

std::size_t RemoveLeftoverTemporaries(std::string_view base, std::string_view relativeFolder) {
    if (base.empty()) return 0;
    const Fd top = OpenFolders(base, {}, 0);
    if (!top) return 0;
    std::size_t removed = SweepFolder(top.get());
    if (relativeFolder.empty()) return removed;
    const auto names = PathNames(std::string(relativeFolder) + "/_");
    if (!names || names->size() < 2) return removed;
    const Fd folder = OpenFolders(base, *names, names->size() - 1, false);
    if (folder) removed += SweepFolder(folder.get());
    return removed;
}

bool WriteFileAtomically(std::string_view path, std::string_view bytes) {
    const std::size_t cut = path.rfind(text::kPathSeparator);
    const std::string name(cut == std::string_view::npos ? path : path.substr(cut + 1));
    if (name.empty()) return false;
    const std::string folderPath(cut == std::string_view::npos ? std::string_view(".")
                                 : cut == 0                    ? path.substr(0, 1)
                                                               : path.substr(0, cut));
    const Fd folder(Retrying([&] {
        return ::open(NativePath(folderPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }));
    if (!folder) return false;
    std::string temporary;
    if (!WriteTemporary(folder.get(), bytes, 0666, true, temporary)) return false;
    if (::renameat(folder.get(), temporary.c_str(), folder.get(), NativePath(name).c_str()) != 0) {
        Discard(folder.get(), temporary);
        return false;
    }
    // The new name itself reaches the disk only with the folder.
    ::fsync(folder.get());
    return true;
}

namespace {

// The path the kernel reached for an open file: links followed, no "." or ".." left. Empty when
// it cannot be told (no /proc).
std::string ReachedPath(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::string target(4096, '\0');
    for (;;) {
        const ssize_t n = ::readlink(link.c_str(), target.data(), target.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < target.size()) {
            target.resize(static_cast<std::size_t>(n));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

}  // namespace

bool ReadFileWithin(std::string_view folder, std::string_view path, text::Bytes& out,
                    unsigned* permissions) {
    out.clear();
    if (folder.empty() || path.empty()) return false;
    const Fd base(Retrying(
        [&] { return ::open(NativePath(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }));
    if (!base) return false;
    const std::string inside = ReachedPath(base.get());
    if (inside.empty()) return false;
    // The file is opened first, links and all, and then asked where it is: what is read is what
    // was checked, whatever is swapped on the way meanwhile.
    const std::string native = NativePath(path).string();
    const Fd file(Retrying(
        [&] { return ::openat(base.get(), native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); }));
    if (!file) return false;
    const std::string reached = ReachedPath(file.get());
    const std::string prefix = inside == "/" ? inside : inside + "/";
    if (reached.size() <= prefix.size() || !reached.starts_with(prefix)) return false;
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    text::Bytes bytes;
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    out = std::move(bytes);
    if (permissions) *permissions = static_cast<unsigned>(st.st_mode) & 07777u;
    return true;
}

int OpenFileBeneath(std::string_view base, std::string_view relativePath) {
    const std::optional<std::vector<std::string>> names = PathNames(relativePath);
    if (!names) {
        errno = EINVAL;
        return -1;
    }
    const Fd folder = OpenFolders(base, *names, names->size() - 1, false);
    Fd file;
    if (folder)
        file = Fd(Retrying([&] {
            return ::openat(folder.get(), names->back().c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        }));
    struct stat st {};
    if (file && ::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode)) return file.Release();
    // Why: the pieces looked at one by one, no link followed.
    std::string path = NativePath(WithoutFinalSeparators(base)).string();
    for (std::size_t i = 0; i <= names->size(); ++i) {
        if (i > 0) path += "/" + (*names)[i - 1];
        if (::lstat(path.c_str(), &st) != 0) {
            errno = ENOENT;
            return -1;
        }
        if (S_ISLNK(st.st_mode)) {
            errno = ELOOP;
            return -1;
        }
        if (i < names->size() && !S_ISDIR(st.st_mode)) {
            errno = ENOTDIR;
            return -1;
        }
    }
    errno = EINVAL;
    return -1;
}

}  // namespace zembrat::platform
