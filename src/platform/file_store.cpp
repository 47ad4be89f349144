#include "platform/file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_descriptor.h"
#include "platform/files.h"
#include "platform/folders_beneath.h"
#include "platform/temporary_files.h"

namespace zembrat::platform {
using namespace files_detail;
namespace {

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

}  // namespace zembrat::platform
