#include "platform/file_system_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <system_error>

#if __has_include(<mntent.h>)
#include <mntent.h>
#define ZEMBRAT_HAVE_MOUNT_TABLE 1
#endif

#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::platform::fs_detail {
using namespace text::literals;

// The stored form of a path: absolute, "." and ".." resolved as text, no final separator.
std::string Normalized(std::string_view gbk) {
    if (gbk.empty()) return {};
    std::error_code ec;
    fs::path native = fs::absolute(NativePath(gbk), ec);
    if (ec) return {};
    std::string out = GbkFromNative(native.lexically_normal());
    while (out.size() > 1 && text::EndsWithSeparator(out)) out.pop_back();
    return out;
}

std::string Child(std::string_view folder, std::string_view name) {
    return text::WithSeparator(folder) + std::string(name);
}

// The folder holding a stored path ("/" for the entries of the root).
std::string ParentOf(std::string_view stored) {
    std::string parent = text::DirectoryPart(stored);
    return parent.empty() ? std::string(kRoot) : parent;
}

bool StatFollow(std::string_view gbk, struct stat& st) {
    return ::stat(NativePath(gbk).c_str(), &st) == 0;
}
bool StatLink(std::string_view gbk, struct stat& st) {
    return ::lstat(NativePath(gbk).c_str(), &st) == 0;
}

// The entry's own status, or its link's when the link leads nowhere.
bool StatEntry(std::string_view gbk, struct stat& st) {
    return StatFollow(gbk, st) || StatLink(gbk, st);
}

// An entry that is not a folder (a dangling link included).
bool IsFileEntry(std::string_view gbk) {
    struct stat st;
    return StatLink(gbk, st) && !IsFolder(gbk);
}

bool IsLink(std::string_view gbk) {
    struct stat st;
    return StatLink(gbk, st) && S_ISLNK(st.st_mode);
}

// Read-only as the attribute reads it: the owner may not write. A link has no permissions of its
// own, so a link is never read-only when it is removed.
bool ReadOnlyTarget(std::string_view gbk) {
    struct stat st;
    return StatFollow(gbk, st) && (st.st_mode & S_IWUSR) == 0;
}

bool ReadOnlyEntry(std::string_view gbk) {
    return !IsLink(gbk) && ReadOnlyTarget(gbk);
}

// Two names of one entry differing only in letter case, as a case-insensitive file system has.
bool SameEntryNoCase(const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (!text::EqualsNoCase(a, b)) return false;
    struct stat sa, sb;
    return StatLink(a, sa) && StatLink(b, sb) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace {
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(NativePath(a), NativePath(b), ec) && !ec;
}
}  // namespace

DateTime ToDateTime(std::time_t seconds) {
    std::tm tm{};
    if (!localtime_r(&seconds, &tm)) return {};
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

namespace {
bool IsWanted(Want want, std::string_view path) {
    return want == Want::Folders ? IsFolder(path) : IsFileEntry(path);
}
}  // namespace

// The entries a pattern names: the entry of exactly that name when there is one, otherwise the
// entries of its folder whose names match its last part.
Expansion Expand(std::string_view pattern, Want want) {
    Expansion result;
    const std::string full = Normalized(pattern);
    if (full.empty()) return result;
    if (PathExists(full)) {
        if (IsWanted(want, full)) result.paths.push_back(full);
        return result;
    }
    const std::string lastPart = text::FileName(full);
    if (lastPart.find_first_of("*?") == std::string::npos) return result;
    result.wildcard = true;
    const std::string folder = ParentOf(full);
    for (const FolderEntry& entry : ListFolder(folder)) {
        if (!WildcardMatch(lastPart, entry.name)) continue;
        std::string path = Child(folder, entry.name);
        if (IsWanted(want, path)) result.paths.push_back(std::move(path));
    }
    return result;
}

// Where a source goes: into the destination folder, or to the destination itself. Empty when
// the destination folder is not there.
std::string TargetFor(const std::string& source, std::string_view destination, bool intoFolder) {
    if (!intoFolder) return Normalized(destination);
    const std::string folder = Normalized(destination);
    if (!IsFolder(folder)) return {};
    return Child(folder, text::FileName(source));
}

namespace {
bool Inside(const std::string& path, const std::string& folder) {
    return path == folder || text::StartsWith(path, text::WithSeparator(folder));
}
}  // namespace

bool CopyOneFile(const std::string& source, const std::string& target, bool overwrite) {
    if (target.empty() || IsFolder(target)) return false;
    if (PathExists(target)) {
        if (!overwrite || SameFile(source, target) || ReadOnlyTarget(target)) return false;
    }
    std::error_code ec;
    fs::copy_file(NativePath(source), NativePath(target), fs::copy_options::overwrite_existing, ec);
    return !ec;
}

namespace {
bool CopyTree(const fs::path& from, const fs::path& to, bool overwrite) {
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec))) {
        if (!fs::is_directory(fs::status(to, ec))) return false;
    } else if (!fs::create_directory(to, ec)) {
        return false;
    }
    fs::directory_iterator it(from, ec);
    if (ec) return false;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code e;
        const fs::path source = it->path();
        const fs::path target = to / source.filename();
        const fs::file_status sourceStatus = fs::symlink_status(source, e);
        const fs::file_status targetStatus = fs::symlink_status(target, e);
        if (fs::is_directory(sourceStatus)) {
            if (!CopyTree(source, target, overwrite)) return false;
            continue;
        }
        e.clear();
        if (fs::exists(targetStatus)) {
            const std::string targetGbk = GbkFromNative(target);
            if (!overwrite || IsFolder(targetGbk) || ReadOnlyEntry(targetGbk)) return false;
            if (fs::is_symlink(sourceStatus) || fs::is_symlink(targetStatus)) fs::remove(target, e);
        }
        if (fs::is_symlink(sourceStatus)) {
            fs::copy_symlink(source, target, e);
        } else {
            fs::copy_file(source, target, fs::copy_options::overwrite_existing, e);
        }
        if (e) return false;
    }
    return !ec;
}
}  // namespace

bool CopyOneFolder(const std::string& source, const std::string& target, bool overwrite) {
    if (target.empty() || Inside(target, source)) return false;
    return CopyTree(NativePath(source), NativePath(target), overwrite);
}

bool MoveOne(const std::string& source, const std::string& target, bool folder) {
    if (target.empty()) return false;
    if (PathExists(target) && !SameEntryNoCase(source, target)) return false;
    std::error_code ec;
    fs::rename(NativePath(source), NativePath(target), ec);
    if (!ec) return true;
    if (ec != std::errc::cross_device_link) return false;
    // Another file system: copy, then remove the original (or the partial copy).
    bool copied;
    if (folder && !IsLink(source)) {
        copied = CopyOneFolder(source, target, false);
    } else {
        ec.clear();
        fs::copy(NativePath(source), NativePath(target), fs::copy_options::copy_symlinks, ec);
        copied = !ec;
    }
    if (!copied) {
        fs::remove_all(NativePath(target), ec);
        return false;
    }
    fs::remove_all(NativePath(source), ec);
    return !ec;
}

bool HasReadOnlyInside(const std::string& folder) {
    if (ReadOnlyEntry(folder)) return true;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(NativePath(folder), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code e;
        const fs::file_status st = it->symlink_status(e);
        if (!fs::is_symlink(st) && (st.permissions() & fs::perms::owner_write) == fs::perms::none)
            return true;
    }
    return false;
}

bool DeleteOneFile(const std::string& path, bool force) {
    if (!force && ReadOnlyEntry(path)) return false;
    std::error_code ec;
    return fs::remove(NativePath(path), ec) && !ec;
}

bool DeleteOneFolder(const std::string& path, bool force) {
    std::error_code ec;
    const fs::path native = NativePath(path);
    if (IsLink(path)) return fs::remove(native, ec) && !ec;  // the link, never what it leads to
    if (!force && HasReadOnlyInside(path)) return false;
    if (force) {
        // Folders without write permission could not be emptied.
        fs::permissions(native, fs::perms::owner_all, fs::perm_options::add, ec);
        for (fs::recursive_directory_iterator it(native, ec), end; !ec && it != end;
             it.increment(ec)) {
            std::error_code e;
            if (fs::is_directory(it->symlink_status(e)))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, e);
        }
    }
    fs::remove_all(native, ec);
    return !ec;
}

int OpenFile(std::string_view gbk, int flags) {
    int fd;
    do {
        fd = ::open(NativePath(gbk).c_str(), flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

std::shared_ptr<ItemCollection> MakeCollection(std::vector<ComponentPtr> items) {
    return std::make_shared<ItemCollection>(std::move(items));
}

// The mount point of the file system holding a path: the highest folder above it on the same
// device. Empty when nothing along the path exists.
std::string MountPointOf(const std::string& stored) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(NativePath(stored), ec);
    if (ec) return {};
    struct stat st;
    while (::stat(p.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        const fs::path parent = p.parent_path();
        if (parent == p) return {};
        p = parent;
    }
    for (;;) {
        const fs::path parent = p.parent_path();
        struct stat up;
        if (parent == p || ::stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev) break;
        p = parent;
    }
    return GbkFromNative(p);
}

std::vector<MountEntry> MountTable() {
    std::vector<MountEntry> entries;
#ifdef ZEMBRAT_HAVE_MOUNT_TABLE
    std::FILE* table = setmntent("/proc/self/mounts", "r");
    if (!table) table = setmntent("/etc/mtab", "r");
    if (!table) return entries;
    struct mntent entry;
    char buffer[4096];
    while (getmntent_r(table, &entry, buffer, sizeof buffer)) {
        entries.push_back({entry.mnt_fsname, entry.mnt_type, entry.mnt_dir});
    }
    endmntent(table);
#endif
    return entries;
}

std::optional<struct statvfs> SpaceOf(const std::string& mountPoint) {
    struct statvfs st;
    if (mountPoint.empty() || ::statvfs(NativePath(mountPoint).c_str(), &st) != 0)
        return std::nullopt;
    return st;
}

}  // namespace zembrat::platform::fs_detail
