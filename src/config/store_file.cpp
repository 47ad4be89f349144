#include "config/store_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <optional>
#include <utility>

#include "platform/files.h"
#include "text/gbk.h"

// The disk file uses POSIX descriptors and flock(), which every Unix-like system the program is
// built for provides.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zembrat::config {
namespace {

// ---- the kept copy of a change in progress
//
// Beside the settings file, as "." + its name + ".saving": a header line
//   ZEMBRAT-SAVE <offset> <sum of the bytes before offset, 16 hex digits> <tail length>
// and then the tail, the bytes the file is to hold from offset on. It is made whole (written
// beside it, synced, renamed) before the change touches the file, and goes once the file is
// synced. The file's bytes before offset are the same before, during and after the change, so
// the sum tells whether a copy belongs to the file it lies beside.

constexpr std::string_view kRecordMark = "ZEMBRAT-SAVE ";

std::uint64_t PrefixSum(std::string_view bytes) {
    std::uint64_t sum = 14695981039346656037ull;  // FNV-1a
    for (const char c : bytes) {
        sum ^= static_cast<unsigned char>(c);
        sum *= 1099511628211ull;
    }
    return sum;
}

std::string RecordPathOf(const std::string& nativePath) {
    const std::size_t cut = nativePath.rfind('/');
    if (cut == std::string::npos) return "." + nativePath + ".saving";
    return nativePath.substr(0, cut + 1) + "." + nativePath.substr(cut + 1) + ".saving";
}

std::string RecordOf(std::size_t offset, std::string_view prefix, std::string_view tail) {
    char sum[17];
    const auto end = std::to_chars(sum, sum + 16, PrefixSum(prefix), 16).ptr;
    const std::string digits(sum, end);
    return std::string(kRecordMark) + std::to_string(offset) + " " +
           std::string(16 - digits.size(), '0') + digits + " " + std::to_string(tail.size()) +
           "\n" + std::string(tail);
}

struct SaveRecord {
    std::size_t offset = 0;
    std::uint64_t prefixSum = 0;
    std::string_view tail;
};

std::optional<SaveRecord> ParseRecord(std::string_view bytes) {
    if (!bytes.starts_with(kRecordMark)) return std::nullopt;
    const std::size_t newline = bytes.find('\n');
    if (newline == std::string_view::npos) return std::nullopt;
    const char* at = bytes.data() + kRecordMark.size();
    const char* const end = bytes.data() + newline;
    SaveRecord record;
    std::size_t length = 0;
    auto field = [&](auto& value, int base) {
        const auto [next, error] = std::from_chars(at, end, value, base);
        if (error != std::errc() || (next != end && *next != ' ')) return false;
        at = next == end ? end : next + 1;
        return true;
    };
    if (!field(record.offset, 10) || !field(record.prefixSum, 16) || !field(length, 10) ||
        at != end || bytes.size() - newline - 1 != length)
        return std::nullopt;
    record.tail = bytes.substr(newline + 1);
    return record;
}

// The change of the record made on content (the file's bytes); false, content untouched, when
// the record was not made for this file.
bool ApplyRecord(const SaveRecord& record, std::string& content) {
    if (record.offset > content.size() ||
        PrefixSum(std::string_view(content).substr(0, record.offset)) != record.prefixSum)
        return false;
    content.resize(record.offset);
    content += record.tail;
    return true;
}

class DiskFile final : public StoreFile {
  public:
    DiskFile(int fd, std::string nativePath)
        : fd_(fd),
          path_(std::move(nativePath)),
          record_(platform::GbkFromNative(RecordPathOf(path_))) {}
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

    bool BeginChange(std::size_t offset, std::string_view tail) override {
        std::string prefix(offset, '\0');
        return ReadAt(0, prefix.data(), offset) &&
               platform::WriteFileAtomically(record_, RecordOf(offset, prefix, tail));
    }

    bool EndChange() override { return ::fdatasync(fd_) == 0 && ForgetRecord(); }

    // Puts back the kept copy of a change cut short, if there is one; false when it is there and
    // could not be put back.
    bool CompleteCutShortChange() {
        std::string bytes;
        if (!platform::ReadWholeFile(record_, bytes)) return !platform::PathExists(record_);
        const std::optional<SaveRecord> record = ParseRecord(bytes);
        std::string content;
        if (!ReadAll(content)) return false;
        // A copy that is not this file's (the file replaced by hand since) is only let go.
        if (!record || !ApplyRecord(*record, content)) return ForgetRecord();
        return WriteAt(record->offset, record->tail.data(), record->tail.size()) &&
               ::ftruncate(fd_, static_cast<off_t>(content.size())) == 0 && ::fdatasync(fd_) == 0 &&
               ForgetRecord();
    }

  private:
    bool ForgetRecord() {
        return ::unlink(platform::NativePath(record_).c_str()) == 0 || errno == ENOENT;
    }

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
    std::string record_;  // GBK path of the kept copy of a change in progress
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
    auto file = std::make_shared<DiskFile>(fd, std::move(path));
    if (!file->CompleteCutShortChange()) return {};
    // What a save killed while it made its kept copy may have left beside the file.
    const std::string folder = text::DirectoryPart(gbkPath);
    platform::RemoveLeftoverTemporaries(folder.empty() ? std::string(".") : folder);
    return {std::move(file), false};
}

bool ReadWholeSettings(std::string_view gbkPath, std::string& out) {
    if (!platform::ReadWholeFile(gbkPath, out)) return false;
    std::string bytes;
    const std::string native = platform::NativePath(gbkPath).string();
    if (platform::ReadWholeFile(platform::GbkFromNative(RecordPathOf(native)), bytes)) {
        if (const std::optional<SaveRecord> record = ParseRecord(bytes)) ApplyRecord(*record, out);
    }
    return true;
}

std::shared_ptr<StoreFile> MakeMemoryFile(std::string_view bytes) {
    return std::make_shared<MemoryFile>(bytes);
}

}  // namespace zembrat::config
