// An advisory lock on a folder itself (never a file in it), taken without waiting: what keeps a
// second run off a result folder another run is writing.
#pragma once

#include <string_view>

namespace zembrat::platform {

class FolderLock {
  public:
    enum class Result {
        Taken,   // held until the lock is destroyed
        InUse,   // another holder has it
        Failed,  // the folder could not be opened or locked for another reason
    };

    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock on the folder at path (GBK); a link there is not followed.
    Result Take(std::string_view path);

  private:
    int fd_ = -1;
};

}  // namespace zembrat::platform
