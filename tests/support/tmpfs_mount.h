// A small tmpfs mounted for one test: a real full or read-only disk. Needs the right to mount;
// a test checks mounted() and skips otherwise.
#pragma once

#include <sys/mount.h>

#include <filesystem>
#include <string>

#include "platform/files.h"

namespace zembrat::testing {

class TmpfsMount {
  public:
    TmpfsMount(const std::string& gbkPath, const char* options)
        : path_(platform::NativePath(gbkPath)) {
        std::filesystem::create_directories(path_);
        mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options) == 0;
    }
    ~TmpfsMount() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    bool mounted() const { return mounted_; }
    // True when the file system is read-only now.
    bool RemountReadOnly() {
        return mounted_ &&
               ::mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

  private:
    std::filesystem::path path_;
    bool mounted_ = false;
};

}  // namespace zembrat::testing
