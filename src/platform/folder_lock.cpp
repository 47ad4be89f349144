#include "platform/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

namespace zembrat::platform {

FolderLock::~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the folder lets the lock go
}

FolderLock::Result FolderLock::Take(std::string_view path) {
    if (fd_ >= 0) return Result::Taken;
    const int fd =
        ::open(NativePath(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return Result::Failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool inUse = errno == EWOULDBLOCK;
        ::close(fd);
        return inUse ? Result::InUse : Result::Failed;
    }
    fd_ = fd;
    return Result::Taken;
}

}  // namespace zembrat::platform
