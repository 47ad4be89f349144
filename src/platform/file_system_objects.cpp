#include "platform/file_system_objects.h"
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

#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::platform {
using namespace text::literals;
using namespace fs_detail;

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
