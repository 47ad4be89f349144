#include "platform/files.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "text/codec.h"

namespace zembrat::platform {
namespace fs = std::filesystem;

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
    struct stat st {};
    return ::lstat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

// The folder base/names[0..count), made where it is missing; no link is followed on the way.
Fd OpenFolders(std::string_view base, const std::vector<std::string>& names, std::size_t count) {
    Fd folder(Retrying(
        [&] { return ::open(NativePath(base).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }));
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
        if (next < 0 && errno == ENOENT) {
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

// A new, empty, uniquely named file in the folder; its name in name.
Fd CreateTemporary(int folder, std::string& name) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = ".zembrat-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        Fd fd(Retrying([&] {
            return ::openat(folder, name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        }));
        if (fd || errno != EEXIST) return fd;
    }
    return Fd();
}

// The bytes as a new file at name, made with one create that neither replaces nor follows what
// is there (EEXIST then). A write that fails takes the file away again.
bool PlaceNewFile(int folder, const char* name, std::string_view bytes) {
    Fd fd(Retrying([&] {
        return ::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    }));
    if (!fd) return false;
    const bool written = WriteAll(fd.get(), bytes);
    const int error = errno;
    if (::close(fd.Release()) == 0 && written) return true;
    ::unlinkat(folder, name, 0);
    errno = written ? EIO : error;
    return false;
}

// Stores the bytes at name in an open folder.
StoreBytesResult StoreInFolder(int folder, const char* name, std::string_view bytes) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (PlaceNewFile(folder, name, bytes)) return StoreBytesResult::Stored;
        if (errno != EEXIST) return StoreBytesResult::Failed;
        switch (OccupantOf(folder, name, bytes)) {
            case Occupant::Same:
                return StoreBytesResult::Same;
            case Occupant::Other:
                return StoreBytesResult::Taken;
            case Occupant::Unknown:
                return StoreBytesResult::Failed;
            case Occupant::None:
                break;  // gone meanwhile: try again
        }
    }
    return StoreBytesResult::Failed;
}

}  // namespace

StoreBytesResult StoreBytesBeneath(std::string_view base, std::string_view relativePath,
                                   std::string_view bytes) {
    const auto names = PathNames(relativePath);
    if (!names || base.empty()) return StoreBytesResult::Failed;
    const Fd folder = OpenFolders(base, *names, names->size() - 1);
    if (!folder) return StoreBytesResult::Failed;
    return StoreInFolder(folder.get(), names->back().c_str(), bytes);
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
    StoreBytesResult result = StoreInFolder(fd_, names->front().c_str(), bytes);
    if (result == StoreBytesResult::Failed && errno == ENOENT) {
        // The folder went away while it was held (removed by hand): make it again, once.
        ::close(fd_);
        fd_ = -1;
        if (Open()) result = StoreInFolder(fd_, names->front().c_str(), bytes);
    }
    return result;
}

bool WriteFileBeneath(std::string_view base, std::string_view relativeName,
                      std::string_view bytes) {
    const auto names = PathNames(relativeName);
    if (!names || base.empty()) return false;
    const Fd folder = OpenFolders(base, *names, names->size() - 1);
    if (!folder) return false;
    std::string temporary;
    Fd fd = CreateTemporary(folder.get(), temporary);
    if (!fd) return false;
    bool ok = WriteAll(fd.get(), bytes);
    fd.Reset();
    // The rename replaces the entry itself: a link at the name is replaced, not written through.
    ok =
        ok && ::renameat(folder.get(), temporary.c_str(), folder.get(), names->back().c_str()) == 0;
    if (!ok) ::unlinkat(folder.get(), temporary.c_str(), 0);
    return ok;
}

}  // namespace zembrat::platform
