#include "config/store_file.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/files.h"

// The disk file uses POSIX descriptors and flock(), which every Unix-like system the program is
// built for provides.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zembrat::config {
namespace {

class DiskFile final : public StoreFile {
  public:
    DiskFile(int fd, std::string nativePath) : fd_(fd), path_(std::move(nativePath)) {}
    ~DiskFile() override { ::close(fd_); }  // also drops the lock
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;

    bool Seek(std::size_t offset) override {
        pos_ = offset;
        return true;
    }

    bool SeekToEnd() override {
        std::size_t size = 0;
        if (!Size(size)) return false;
        pos_ = size;
        return true;
    }

    bool Insert(std::string_view bytes) override {
        std::size_t size = 0;
        if (!Size(size) || pos_ > size) return false;
        const std::size_t n = bytes.size();
        if (n == 0) return true;
        // Move the tail forward block by block, last block first, so nothing is overwritten
        // before it has been copied.
        std::string block(kShiftBlock, '\0');
        std::size_t end = size;
        while (end > pos_) {
            const std::size_t chunk = std::min(kShiftBlock, end - pos_);
            const std::size_t start = end - chunk;
            if (!ReadAt(start, block.data(), chunk)) return false;
            if (!WriteAt(start + n, block.data(), chunk)) return false;
            end = start;
        }
        if (!WriteAt(pos_, bytes.data(), n)) return false;
        pos_ += n;
        return true;
    }

    bool Delete(std::size_t count) override {
        std::size_t size = 0;
        if (!Size(size) || pos_ > size || count > size - pos_) return false;
        if (count == 0) return true;
        std::string block(kShiftBlock, '\0');
        for (std::size_t from = pos_ + count; from < size;) {
            const std::size_t chunk = std::min(kShiftBlock, size - from);
            if (!ReadAt(from, block.data(), chunk)) return false;
            if (!WriteAt(from - count, block.data(), chunk)) return false;
            from += chunk;
        }
        return ::ftruncate(fd_, static_cast<off_t>(size - count)) == 0;
    }

    bool ReadAll(std::string& out) override {
        out.clear();
        std::size_t size = 0;
        if (!Size(size)) return false;
        out.resize(size);
        if (!ReadAt(0, out.data(), size)) {
            out.clear();
            return false;
        }
        pos_ = size;
        return true;
    }

    bool Size(std::size_t& out) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || st.st_size < 0) return false;
        out = static_cast<std::size_t>(st.st_size);
        return true;
    }

    bool ReplaceAll(std::string_view bytes) override {
        return WriteAt(0, bytes.data(), bytes.size()) &&
               ::ftruncate(fd_, static_cast<off_t>(bytes.size())) == 0;
    }

    bool StillNamed() override {
        struct stat named {};
        struct stat held {};
        return ::stat(path_.c_str(), &named) == 0 && ::fstat(fd_, &held) == 0 &&
               named.st_dev == held.st_dev && named.st_ino == held.st_ino;
    }

  private:
    bool ReadAt(std::size_t offset, char* data, std::size_t count) {
        while (count > 0) {
            const ssize_t n = ::pread(fd_, data, count, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            offset += static_cast<std::size_t>(n);
            count -= static_cast<std::size_t>(n);
        }
        return true;
    }

    bool WriteAt(std::size_t offset, const char* data, std::size_t count) {
        while (count > 0) {
            const ssize_t n = ::pwrite(fd_, data, count, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            offset += static_cast<std::size_t>(n);
            count -= static_cast<std::size_t>(n);
        }
        return true;
    }

    int fd_;
    std::string path_;
    std::size_t pos_ = 0;
};

class MemoryFile final : public StoreFile {
  public:
    explicit MemoryFile(std::string_view bytes) : bytes_(bytes) {}

    bool Seek(std::size_t offset) override {
        pos_ = offset;
        return true;
    }
    bool SeekToEnd() override {
        pos_ = bytes_.size();
        return true;
    }
    bool Insert(std::string_view bytes) override {
        if (pos_ > bytes_.size()) return false;
        bytes_.insert(pos_, bytes);
        pos_ += bytes.size();
        return true;
    }
    bool Delete(std::size_t count) override {
        if (pos_ > bytes_.size() || count > bytes_.size() - pos_) return false;
        bytes_.erase(pos_, count);
        return true;
    }
    bool ReadAll(std::string& out) override {
        out = bytes_;
        pos_ = bytes_.size();
        return true;
    }
    bool Size(std::size_t& out) override {
        out = bytes_.size();
        return true;
    }
    bool ReplaceAll(std::string_view bytes) override {
        bytes_ = bytes;
        return true;
    }

  private:
    std::string bytes_;
    std::size_t pos_ = 0;
};

}  // namespace

DiskFileOpening OpenLockedDiskFile(std::string_view gbkPath) {
    if (gbkPath.empty()) return {};
    std::string path = platform::NativePath(gbkPath).string();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return {};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {};
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return {nullptr, held};
    }
    return {std::make_shared<DiskFile>(fd, std::move(path)), false};
}

std::shared_ptr<StoreFile> MakeMemoryFile(std::string_view bytes) {
    return std::make_shared<MemoryFile>(bytes);
}

}  // namespace zembrat::config
