#include "platform/file_system_internal.h"
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

#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::platform {
using namespace text::literals;
using namespace fs_detail;

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

}  // namespace zembrat::platform
