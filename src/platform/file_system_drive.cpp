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

namespace {

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

}  // namespace

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

}  // namespace zembrat::platform
