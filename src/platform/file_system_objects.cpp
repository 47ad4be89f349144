#include "platform/file_system_objects.h"

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

namespace zembrat::platform {
namespace fs = std::filesystem;
using namespace text::literals;

namespace {

constexpr std::string_view kRoot = "/";

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

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(NativePath(a), NativePath(b), ec) && !ec;
}

DateTime ToDateTime(std::time_t seconds) {
    std::tm tm{};
    if (!localtime_r(&seconds, &tm)) return {};
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

enum class Want { Files, Folders };

bool IsWanted(Want want, std::string_view path) {
    return want == Want::Folders ? IsFolder(path) : IsFileEntry(path);
}

struct Expansion {
    std::vector<std::string> paths;
    bool wildcard = false;  // wildcards were given: the destination is a folder
};

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

bool Inside(const std::string& path, const std::string& folder) {
    return path == folder || text::StartsWith(path, text::WithSeparator(folder));
}

bool CopyOneFile(const std::string& source, const std::string& target, bool overwrite) {
    if (target.empty() || IsFolder(target)) return false;
    if (PathExists(target)) {
        if (!overwrite || SameFile(source, target) || ReadOnlyTarget(target)) return false;
    }
    std::error_code ec;
    fs::copy_file(NativePath(source), NativePath(target), fs::copy_options::overwrite_existing, ec);
    return !ec;
}

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

bool WriteAllBytes(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string Utf16LeBytes(std::u16string_view units) {
    std::string out;
    out.reserve(units.size() * 2);
    for (char16_t u : units) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
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

struct MountEntry {
    std::string source;  // native
    std::string type;
    std::string mountPoint;  // native
};

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

// The mount in effect at a folder: the last one listed at the longest mount point that is the
// folder or lies above it (a bind mount's folder may not be listed itself).
std::optional<MountEntry> MountAt(const std::string& mountPointGbk) {
    const std::string native = NativePath(mountPointGbk).string();
    std::optional<MountEntry> found;
    for (MountEntry& entry : MountTable()) {
        const std::string& point = entry.mountPoint;
        const bool above = native == point || point == "/" ||
                           (native.compare(0, point.size(), point) == 0 &&
                            native.size() > point.size() && native[point.size()] == '/');
        if (above && (!found || point.size() >= found->mountPoint.size())) found = std::move(entry);
    }
    return found;
}

bool IsNetworkType(std::string_view type) {
    static constexpr std::string_view kNetwork[] = {
        "nfs", "nfs4", "cifs", "smb3", "smbfs", "9p", "ceph", "glusterfs", "fuse.sshfs", "afs"};
    return std::find(std::begin(kNetwork), std::end(kNetwork), type) != std::end(kNetwork);
}

// udev writes unusual label characters as \xHH.
std::string DecodeLabel(std::string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            const std::string hex(name.substr(i + 2, 2));
            char* end = nullptr;
            const long value = std::strtol(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 2) {
                out += static_cast<char>(value);
                i += 3;
                continue;
            }
        }
        out += name[i];
    }
    return out;
}

std::optional<struct statvfs> SpaceOf(const std::string& mountPoint) {
    struct statvfs st;
    if (mountPoint.empty() || ::statvfs(NativePath(mountPoint).c_str(), &st) != 0)
        return std::nullopt;
    return st;
}

}  // namespace

// ---- enumerator and collection

ItemEnumerator::ItemEnumerator(std::shared_ptr<const std::vector<ComponentPtr>> items)
    : items_(items ? std::move(items) : std::make_shared<const std::vector<ComponentPtr>>()) {}

ResultCode ItemEnumerator::Next(std::span<ComponentPtr> out, std::size_t& fetched) {
    fetched = 0;
    while (fetched < out.size() && position_ < items_->size())
        out[fetched++] = (*items_)[position_++];
    return fetched == out.size() ? kResultOk : kResultFalse;
}

ResultCode ItemEnumerator::Skip(std::size_t count) {
    const std::size_t left = items_->size() - position_;
    if (count <= left) {
        position_ += count;
        return kResultOk;
    }
    position_ = items_->size();
    return kResultFalse;
}

ResultCode ItemEnumerator::Reset() {
    position_ = 0;
    return kResultOk;
}

std::shared_ptr<ItemEnumerator> ItemEnumerator::Clone() const {
    auto copy = std::make_shared<ItemEnumerator>(items_);
    copy->position_ = position_;
    return copy;
}

ItemCollection::ItemCollection(std::vector<ComponentPtr> items)
    : items_(std::make_shared<const std::vector<ComponentPtr>>(std::move(items))) {}

std::size_t ItemCollection::Count() const {
    return items_->size();
}

ComponentPtr ItemCollection::Item(std::size_t index) const {
    return index < items_->size() ? (*items_)[index] : nullptr;
}

ComponentPtr ItemCollection::NewEnum() const {
    return std::make_shared<ItemEnumerator>(items_);
}

// ---- drive

DriveObject::DriveObject(std::string mountPoint) : mountPoint_(std::move(mountPoint)) {}

std::string DriveObject::Path() const {
    return mountPoint_;
}

std::string DriveObject::DriveLetter() const {
    return {};
}

std::string DriveObject::ShareName() const {
    const auto mount = MountAt(mountPoint_);
    if (!mount || !IsNetworkType(mount->type)) return {};
    return GbkFromNative(fs::path(mount->source));
}

int DriveObject::DriveType() const {
    if (!IsReady()) return kDriveUnknown;
    const std::string type = FileSystem();
    if (type == "tmpfs" || type == "ramfs") return kDriveRamDisk;
    if (IsNetworkType(type)) return kDriveNetwork;
    if (type == "iso9660" || type == "udf") return kDriveCdRom;
    return kDriveFixed;
}

std::shared_ptr<FolderObject> DriveObject::RootFolder() const {
    if (!IsFolder(mountPoint_)) return nullptr;
    return std::make_shared<FolderObject>(mountPoint_);
}

std::optional<double> DriveObject::AvailableSpace() const {
    const auto st = SpaceOf(mountPoint_);
    if (!st) return std::nullopt;
    return static_cast<double>(st->f_bavail) * static_cast<double>(st->f_frsize);
}

std::optional<double> DriveObject::FreeSpace() const {
    const auto st = SpaceOf(mountPoint_);
    if (!st) return std::nullopt;
    return static_cast<double>(st->f_bfree) * static_cast<double>(st->f_frsize);
}

std::optional<double> DriveObject::TotalSize() const {
    const auto st = SpaceOf(mountPoint_);
    if (!st) return std::nullopt;
    return static_cast<double>(st->f_blocks) * static_cast<double>(st->f_frsize);
}

std::string DriveObject::VolumeName() const {
    const auto mount = MountAt(mountPoint_);
    if (!mount || mount->source.empty() || mount->source[0] != '/') return {};
    std::error_code ec;
    const fs::path device = fs::canonical(mount->source, ec);
    if (ec) return {};
    for (fs::directory_iterator it("/dev/disk/by-label", ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code linkError;
        if (fs::canonical(it->path(), linkError) == device && !linkError)
            return text::GbkFromUtf8(DecodeLabel(it->path().filename().string()));
    }
    return {};
}

bool DriveObject::SetVolumeName(std::string_view) {
    return false;
}

std::string DriveObject::FileSystem() const {
    const auto mount = MountAt(mountPoint_);
    return mount ? mount->type : std::string();
}

std::optional<std::int32_t> DriveObject::SerialNumber() const {
    struct stat st;
    if (mountPoint_.empty() || !StatFollow(mountPoint_, st)) return std::nullopt;
    const auto device = static_cast<std::uint64_t>(st.st_dev);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(device ^ (device >> 32)));
}

bool DriveObject::IsReady() const {
    return IsFolder(mountPoint_);
}

// ---- folders and files

std::string FileSystemEntry::Name() const {
    return path_ == kRoot ? std::string() : text::FileName(path_);
}

bool FileSystemEntry::SetName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos)
        return false;
    if (path_ == kRoot || !PathExists(path_)) return false;
    const std::string target = Child(ParentOf(path_), name);
    if (target == path_) return true;
    if (PathExists(target) && !SameEntryNoCase(path_, target)) return false;
    std::error_code ec;
    fs::rename(NativePath(path_), NativePath(target), ec);
    if (ec) return false;
    path_ = target;
    return true;
}

std::shared_ptr<DriveObject> FileSystemEntry::Drive() const {
    if (!PathExists(path_)) return nullptr;
    std::string mount = MountPointOf(path_);
    if (mount.empty()) return nullptr;
    return std::make_shared<DriveObject>(std::move(mount));
}

std::shared_ptr<FolderObject> FileSystemEntry::ParentFolder() const {
    if (path_ == kRoot || path_.empty()) return nullptr;
    std::string parent = ParentOf(path_);
    if (!IsFolder(parent)) return nullptr;
    return std::make_shared<FolderObject>(std::move(parent));
}

std::optional<int> FileSystemEntry::Attributes() const {
    struct stat own;
    if (!StatLink(path_, own)) return std::nullopt;
    struct stat st;
    if (!StatFollow(path_, st)) st = own;
    int attributes = 0;
    if ((st.st_mode & S_IWUSR) == 0) attributes |= kAttributeReadOnly;
    if (text::StartsWith(Name(), ".")) attributes |= kAttributeHidden;
    attributes |= S_ISDIR(st.st_mode) ? kAttributeDirectory : kAttributeArchive;
    if (S_ISLNK(own.st_mode)) attributes |= kAttributeAlias;
    return attributes;
}

bool FileSystemEntry::SetAttributes(int attributes) {
    struct stat st;
    if (!StatFollow(path_, st)) return false;
    std::error_code ec;
    if (attributes & kAttributeReadOnly) {
        fs::permissions(NativePath(path_),
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove, ec);
    } else {
        fs::permissions(NativePath(path_), fs::perms::owner_write, fs::perm_options::add, ec);
    }
    return !ec;
}

std::optional<DateTime> FileSystemEntry::DateCreated() const {
#if defined(__linux__) && defined(STATX_BTIME)
    struct statx sx;
    if (::statx(AT_FDCWD, NativePath(path_).c_str(), 0, STATX_BTIME, &sx) == 0 &&
        (sx.stx_mask & STATX_BTIME)) {
        return ToDateTime(static_cast<std::time_t>(sx.stx_btime.tv_sec));
    }
#endif
    return DateLastModified();
}

std::optional<DateTime> FileSystemEntry::DateLastModified() const {
    struct stat st;
    if (!StatEntry(path_, st)) return std::nullopt;
    return ToDateTime(st.st_mtime);
}

std::optional<DateTime> FileSystemEntry::DateLastAccessed() const {
    struct stat st;
    if (!StatEntry(path_, st)) return std::nullopt;
    return ToDateTime(st.st_atime);
}

std::string FileSystemEntry::Type() const {
    if (!PathExists(path_)) return {};
    if (IsFolderKind()) return "文件夹"_gbk;
    const std::string name = Name();
    const std::size_t dot = text::FindLast(name, ".");
    if (dot == text::kNotFound || dot + 1 == name.size()) return "文件"_gbk;
    return text::AsciiUpper(name.substr(dot + 1)) + " 文件"_gbk;
}

std::optional<std::uint64_t> FileSystemEntry::Size() const {
    std::error_code ec;
    const fs::path native = NativePath(path_);
    if (!IsFolderKind()) {
        const auto size = fs::file_size(native, ec);
        if (ec) return std::nullopt;
        return size;
    }
    if (!IsFolder(path_)) return std::nullopt;
    std::uint64_t total = 0;
    fs::recursive_directory_iterator it(native, ec), end;
    if (ec) return std::nullopt;
    for (; it != end; it.increment(ec)) {
        if (ec) return std::nullopt;
        if (fs::is_regular_file(it->symlink_status(ec))) total += it->file_size(ec);
        if (ec) return std::nullopt;
    }
    if (ec) return std::nullopt;
    return total;
}

bool FileSystemEntry::Delete(bool force) {
    if (IsFolderKind()) return IsFolder(path_) && DeleteOneFolder(path_, force);
    return IsFileEntry(path_) && DeleteOneFile(path_, force);
}

bool FileSystemEntry::Copy(std::string_view destination, bool overwrite) {
    const std::string target = TargetFor(path_, destination, text::EndsWithSeparator(destination));
    if (IsFolderKind()) return IsFolder(path_) && CopyOneFolder(path_, target, overwrite);
    return IsFileEntry(path_) && CopyOneFile(path_, target, overwrite);
}

bool FileSystemEntry::Move(std::string_view destination) {
    const bool exists = IsFolderKind() ? IsFolder(path_) : IsFileEntry(path_);
    if (!exists) return false;
    std::string target = TargetFor(path_, destination, text::EndsWithSeparator(destination));
    if (!MoveOne(path_, target, IsFolderKind())) return false;
    path_ = std::move(target);
    return true;
}

bool FolderObject::IsRootFolder() const {
    return path_ == kRoot;
}

std::shared_ptr<ItemCollection> FolderObject::SubFolders() const {
    if (!IsFolder(path_)) return nullptr;
    std::vector<ComponentPtr> items;
    for (const FolderEntry& entry : ListFolder(path_)) {
        if (entry.isFolder)
            items.push_back(std::make_shared<FolderObject>(Child(path_, entry.name)));
    }
    return MakeCollection(std::move(items));
}

std::shared_ptr<ItemCollection> FolderObject::Files() const {
    if (!IsFolder(path_)) return nullptr;
    std::vector<ComponentPtr> items;
    for (const FolderEntry& entry : ListFolder(path_)) {
        if (!entry.isFolder)
            items.push_back(std::make_shared<FileObject>(Child(path_, entry.name)));
    }
    return MakeCollection(std::move(items));
}

std::shared_ptr<TextStreamObject> FolderObject::CreateTextFile(std::string_view path,
                                                               bool overwrite, bool unicode) const {
    if (!IsFolder(path_) || path.empty()) return nullptr;
    const std::string full = text::StartsWith(path, kRoot) ? std::string(path) : Child(path_, path);
    return FileSystemObject().CreateTextFile(full, overwrite, unicode);
}

std::shared_ptr<TextStreamObject> FileObject::OpenAsTextStream(int ioMode, int format) const {
    if (!IsFileEntry(path_)) return nullptr;
    return FileSystemObject().OpenTextFile(path_, ioMode, false, format);
}

// ---- text stream

TextStreamObject::TextStreamObject(int fd, Mode mode, bool unicode, bool bomAtStart)
    : fd_(fd), mode_(mode), unicode_(unicode), atStart_(unicode && bomAtStart) {
    if (atStart_ && mode_ == Mode::Write) {
        atStart_ = false;
        if (!WriteAllBytes(fd_, "\xFF\xFE")) Close();
    }
}

TextStreamObject::~TextStreamObject() {
    Close();
}

int TextStreamObject::Line() const {
    return fd_ >= 0 ? line_ : 0;
}
int TextStreamObject::Column() const {
    return fd_ >= 0 ? column_ : 0;
}

bool TextStreamObject::Fill() {
    if (eof_) return false;
    if (fd_ < 0) {
        eof_ = true;
        return false;
    }
    char chunk[65536];
    ssize_t n;
    do {
        n = ::read(fd_, chunk, sizeof chunk);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        eof_ = true;
        if (!pending_.empty()) {  // half a character at the end
            buffer_ += text::GbkFromUtf16(u"\uFFFD");
            pending_.clear();
        }
        return false;
    }
    if (!unicode_) {
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    pending_.append(chunk, static_cast<std::size_t>(n));
    if (atStart_) {
        if (pending_.size() < 2) return true;
        if (pending_.compare(0, 2, "\xFF\xFE") == 0) pending_.erase(0, 2);
        atStart_ = false;
    }
    std::u16string units(pending_.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(pending_[2 * i]) |
                                         (static_cast<unsigned char>(pending_[2 * i + 1]) << 8));
    }
    // A pair split between two reads is decoded once its second half has come.
    if (!units.empty() && units.back() >= 0xD800 && units.back() <= 0xDBFF) units.pop_back();
    buffer_ += text::GbkFromUtf16(units);
    pending_.erase(0, units.size() * 2);
    return true;
}

bool TextStreamObject::Available(std::size_t bytes) {
    while (buffer_.size() - position_ < bytes && !eof_) Fill();
    return buffer_.size() - position_ >= bytes;
}

std::size_t TextStreamObject::CharLengthAt(std::size_t offset) {
    if (!Available(offset + 1)) return 0;
    const auto c = static_cast<unsigned char>(buffer_[position_ + offset]);
    return (text::IsLeadByte(c) && Available(offset + 2)) ? 2 : 1;
}

void TextStreamObject::Track(std::string_view passed) {
    for (std::size_t i = 0; i < passed.size(); i += text::CharLength(passed, i)) {
        if (passed[i] == '\n') {
            ++line_;
            column_ = 1;
        } else {
            ++column_;
        }
    }
}

void TextStreamObject::Consume(std::size_t bytes) {
    Track(std::string_view(buffer_).substr(position_, bytes));
    position_ += bytes;
    if (position_ > 65536 && position_ * 2 > buffer_.size()) {
        buffer_.erase(0, position_);
        position_ = 0;
    }
}

bool TextStreamObject::AtEndOfStream() {
    // A stream that cannot be read has nothing more to give, so read loops end.
    return !Reading() || !Available(1);
}

bool TextStreamObject::AtEndOfLine() {
    if (!Reading() || !Available(1)) return true;
    const char c = buffer_[position_];
    if (c == '\n') return true;
    return c == '\r' && Available(2) && buffer_[position_ + 1] == '\n';
}

std::string TextStreamObject::Read(int count) {
    if (!Reading() || count <= 0) return {};
    std::size_t bytes = 0;
    for (int i = 0; i < count; ++i) {
        const std::size_t length = CharLengthAt(bytes);
        if (length == 0) break;
        bytes += length;
    }
    std::string out = buffer_.substr(position_, bytes);
    Consume(bytes);
    return out;
}

std::string TextStreamObject::ReadLine() {
    if (!Reading() || !Available(1)) return {};
    std::size_t searched = position_;
    std::size_t at;
    while ((at = buffer_.find('\n', searched)) == std::string::npos && !eof_) {
        searched = buffer_.size();
        Fill();
    }
    const std::size_t end = at == std::string::npos ? buffer_.size() : at;
    std::string line = buffer_.substr(position_, end - position_);
    Consume((at == std::string::npos ? end : at + 1) - position_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::string TextStreamObject::ReadAll() {
    if (!Reading()) return {};
    while (!eof_) Fill();
    std::string out = buffer_.substr(position_);
    Consume(out.size());
    return out;
}

bool TextStreamObject::Skip(int count) {
    if (!Reading() || count < 0) return false;
    Read(count);
    return true;
}

bool TextStreamObject::SkipLine() {
    if (!Reading()) return false;
    ReadLine();
    return true;
}

bool TextStreamObject::Write(std::string_view gbk) {
    if (!Writing()) return false;
    const bool ok = unicode_ ? WriteAllBytes(fd_, Utf16LeBytes(text::Utf16FromGbk(gbk)))
                             : WriteAllBytes(fd_, gbk);
    Track(gbk);
    return ok;
}

bool TextStreamObject::WriteLine(std::string_view gbk) {
    std::string line(gbk);
    line += "\r\n";
    return Write(line);
}

bool TextStreamObject::WriteBlankLines(int count) {
    if (count < 0) return false;
    std::string lines;
    for (int i = 0; i < count; ++i) lines += "\r\n";
    return Write(lines);
}

bool TextStreamObject::Close() {
    if (fd_ < 0) return false;
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
}

// ---- the component

std::shared_ptr<ItemCollection> FileSystemObject::Drives() const {
    std::vector<std::string> points;
    for (const MountEntry& entry : MountTable()) {
        const std::string point = GbkFromNative(fs::path(entry.mountPoint));
        const auto space = SpaceOf(point);
        if (!IsFolder(point) || !space || space->f_blocks == 0) continue;
        if (std::find(points.begin(), points.end(), point) == points.end()) points.push_back(point);
    }
    if (points.empty()) points.emplace_back(kRoot);
    std::sort(points.begin(), points.end(),
              [](const std::string& a, const std::string& b) { return NameLess(a, b); });
    std::vector<ComponentPtr> items;
    for (std::string& point : points)
        items.push_back(std::make_shared<DriveObject>(std::move(point)));
    return MakeCollection(std::move(items));
}

std::string FileSystemObject::BuildPath(std::string_view path, std::string_view name) const {
    if (path.empty()) return std::string(name);
    if (name.empty()) return std::string(path);
    const bool pathEnds = text::EndsWithSeparator(path);
    const bool nameStarts = text::StartsWith(name, kRoot);
    if (pathEnds && nameStarts) return std::string(path) + std::string(name.substr(1));
    if (pathEnds || nameStarts) return std::string(path) + std::string(name);
    return Child(path, name);
}

std::string FileSystemObject::GetDriveName(std::string_view path) const {
    if (!text::StartsWith(path, kRoot)) return {};
    return MountPointOf(Normalized(path));
}

std::string FileSystemObject::GetParentFolderName(std::string_view path) const {
    std::size_t end = path.size();
    while (end > 0 && path[end - 1] == text::kPathSeparator) --end;  // never a trail byte
    if (end == 0) return {};
    const std::size_t separator = text::FindLast(path.substr(0, end), kRoot);
    if (separator == text::kNotFound) return {};
    if (separator == 0) return std::string(kRoot);
    return std::string(path.substr(0, separator));
}

std::string FileSystemObject::GetFileName(std::string_view path) const {
    std::size_t end = path.size();
    while (end > 0 && path[end - 1] == text::kPathSeparator) --end;
    return text::FileName(path.substr(0, end));
}

std::string FileSystemObject::GetBaseName(std::string_view path) const {
    std::string name = GetFileName(path);
    const std::size_t dot = text::FindLast(name, ".");
    if (dot != text::kNotFound) name.resize(dot);
    return name;
}

std::string FileSystemObject::GetExtensionName(std::string_view path) const {
    const std::string name = GetFileName(path);
    const std::size_t dot = text::FindLast(name, ".");
    return dot == text::kNotFound ? std::string() : name.substr(dot + 1);
}

std::string FileSystemObject::GetAbsolutePathName(std::string_view path) const {
    if (path.empty()) {
        std::error_code ec;
        const fs::path current = fs::current_path(ec);
        return ec ? std::string() : GbkFromNative(current);
    }
    return Normalized(path);
}

std::string FileSystemObject::GetTempName() const {
    static std::mt19937 generator(std::random_device{}());
    std::uniform_int_distribution<int> digit(0, 15);
    std::string name = "rad";
    for (int i = 0; i < 5; ++i) name += "0123456789ABCDEF"[digit(generator)];
    return name + ".tmp";
}

bool FileSystemObject::DriveExists(std::string_view drivePath) const {
    struct stat st;
    const std::string full = Normalized(drivePath);
    return !full.empty() && StatFollow(full, st);
}

bool FileSystemObject::FileExists(std::string_view path) const {
    struct stat st;
    const std::string full = Normalized(path);
    return !full.empty() && StatFollow(full, st) && !S_ISDIR(st.st_mode);
}

bool FileSystemObject::FolderExists(std::string_view path) const {
    const std::string full = Normalized(path);
    return !full.empty() && IsFolder(full);
}

std::shared_ptr<DriveObject> FileSystemObject::GetDrive(std::string_view drivePath) const {
    if (!DriveExists(drivePath)) return nullptr;
    std::string mount = MountPointOf(Normalized(drivePath));
    if (mount.empty()) return nullptr;
    return std::make_shared<DriveObject>(std::move(mount));
}

std::shared_ptr<FileObject> FileSystemObject::GetFile(std::string_view path) const {
    if (!FileExists(path)) return nullptr;
    return std::make_shared<FileObject>(Normalized(path));
}

std::shared_ptr<FolderObject> FileSystemObject::GetFolder(std::string_view path) const {
    if (!FolderExists(path)) return nullptr;
    return std::make_shared<FolderObject>(Normalized(path));
}

std::shared_ptr<FolderObject> FileSystemObject::GetSpecialFolder(int kind) const {
    std::string path;
    switch (kind) {
        case 0:
            path = "/usr";
            break;
        case 1:
            path = "/usr/lib";
            break;
        case 2: {
            std::error_code ec;
            const fs::path temp = fs::temp_directory_path(ec);
            if (ec) return nullptr;
            path = GbkFromNative(temp);
            break;
        }
        default:
            return nullptr;
    }
    return GetFolder(path);
}

bool FileSystemObject::DeleteFile(std::string_view pattern, bool force) const {
    const Expansion found = Expand(pattern, Want::Files);
    if (found.paths.empty()) return false;
    if (!force) {
        for (const std::string& path : found.paths) {
            if (ReadOnlyEntry(path)) return false;
        }
    }
    bool ok = true;
    for (const std::string& path : found.paths) ok = DeleteOneFile(path, force) && ok;
    return ok;
}

bool FileSystemObject::DeleteFolder(std::string_view pattern, bool force) const {
    const Expansion found = Expand(pattern, Want::Folders);
    if (found.paths.empty()) return false;
    if (!force) {
        for (const std::string& path : found.paths) {
            if (!IsLink(path) && HasReadOnlyInside(path)) return false;
        }
    }
    bool ok = true;
    for (const std::string& path : found.paths) ok = DeleteOneFolder(path, force) && ok;
    return ok;
}

namespace {

template <class Action>
bool ForEachSource(std::string_view source, Want want, std::string_view destination,
                   Action action) {
    const Expansion found = Expand(source, want);
    if (found.paths.empty()) return false;
    const bool intoFolder = found.wildcard || text::EndsWithSeparator(destination);
    for (const std::string& path : found.paths) {
        if (!action(path, TargetFor(path, destination, intoFolder))) return false;
    }
    return true;
}

}  // namespace

bool FileSystemObject::MoveFile(std::string_view source, std::string_view destination) const {
    return ForEachSource(
        source, Want::Files, destination,
        [](const std::string& from, const std::string& to) { return MoveOne(from, to, false); });
}

bool FileSystemObject::MoveFolder(std::string_view source, std::string_view destination) const {
    return ForEachSource(
        source, Want::Folders, destination,
        [](const std::string& from, const std::string& to) { return MoveOne(from, to, true); });
}

bool FileSystemObject::CopyFile(std::string_view source, std::string_view destination,
                                bool overwrite) const {
    return ForEachSource(source, Want::Files, destination,
                         [&](const std::string& from, const std::string& to) {
                             return CopyOneFile(from, to, overwrite);
                         });
}

bool FileSystemObject::CopyFolder(std::string_view source, std::string_view destination,
                                  bool overwrite) const {
    return ForEachSource(source, Want::Folders, destination,
                         [&](const std::string& from, const std::string& to) {
                             return CopyOneFolder(from, to, overwrite);
                         });
}

std::shared_ptr<FolderObject> FileSystemObject::CreateFolder(std::string_view path) const {
    const std::string full = Normalized(path);
    if (full.empty() || !CreateOneFolder(full)) return nullptr;
    return std::make_shared<FolderObject>(full);
}

std::shared_ptr<TextStreamObject> FileSystemObject::CreateTextFile(std::string_view path,
                                                                   bool overwrite,
                                                                   bool unicode) const {
    const std::string full = Normalized(path);
    if (full.empty() || IsFolder(full)) return nullptr;
    if (PathExists(full) && (!overwrite || ReadOnlyTarget(full))) return nullptr;
    const int fd = OpenFile(full, O_WRONLY | O_CREAT | O_TRUNC | (overwrite ? 0 : O_EXCL));
    if (fd < 0) return nullptr;
    return std::make_shared<TextStreamObject>(fd, TextStreamObject::Mode::Write, unicode, true);
}

std::shared_ptr<TextStreamObject> FileSystemObject::OpenTextFile(std::string_view path, int ioMode,
                                                                 bool create, int format) const {
    if (ioMode != kForReading && ioMode != kForWriting && ioMode != kForAppending) return nullptr;
    if (format != kFormatSystemDefault && format != kFormatUnicode && format != kFormatAscii)
        return nullptr;
    const std::string full = Normalized(path);
    if (full.empty() || IsFolder(full)) return nullptr;
    const bool exists = FileExists(full);
    if (!exists && !create) return nullptr;
    if (ioMode != kForReading && exists && ReadOnlyTarget(full)) return nullptr;
    int flags = ioMode == kForReading ? O_RDONLY
                                      : (O_WRONLY | (ioMode == kForWriting ? O_TRUNC : O_APPEND));
    if (create) flags |= O_CREAT;
    const int fd = OpenFile(full, flags);
    if (fd < 0) return nullptr;
    const bool unicode = format == kFormatUnicode;
    bool bomAtStart = unicode;
    if (ioMode != kForReading) {
        struct stat st;
        bomAtStart = unicode && ::fstat(fd, &st) == 0 && st.st_size == 0;
    }
    const auto mode =
        ioMode == kForReading ? TextStreamObject::Mode::Read : TextStreamObject::Mode::Write;
    return std::make_shared<TextStreamObject>(fd, mode, unicode, bomAtStart);
}

std::shared_ptr<TextStreamObject> FileSystemObject::GetStandardStream(int type,
                                                                      bool unicode) const {
    if (type < 0 || type > 2) return nullptr;
    const int fd =
        ::fcntl(type, F_DUPFD_CLOEXEC, 3);  // the stream's own descriptor, closed with it
    if (fd < 0) return nullptr;
    const auto mode = type == 0 ? TextStreamObject::Mode::Read : TextStreamObject::Mode::Write;
    return std::make_shared<TextStreamObject>(fd, mode, unicode, false);
}

bool FileSystemObject::NameTheSameEntry(std::string_view a, std::string_view b) const {
    struct stat sa, sb;
    const std::string fullA = Normalized(a), fullB = Normalized(b);
    return !fullA.empty() && !fullB.empty() && StatLink(fullA, sa) && StatLink(fullB, sb) &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::string FileSystemObject::GetFileVersion(std::string_view) const {
    return {};
}

}  // namespace zembrat::platform
