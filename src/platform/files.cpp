#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "platform/file_descriptor.h"
#include "platform/folders_beneath.h"
#include "text/codec.h"

namespace zembrat::platform {
namespace fs = std::filesystem;
using namespace files_detail;

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

}  // namespace zembrat::platform
