// The file a ConfigStore patches: the settings file on disk, or a copy held in memory.
//
// Both keep a position and patch bytes in place: Insert shifts the tail forward and Delete shifts
// it back, in blocks of kShiftBlock bytes, so the file is never rewritten whole. Every operation
// reports whether it fully succeeded.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace zembrat::config {

class StoreFile {
  public:
    static constexpr std::size_t kShiftBlock = 4096;

    virtual ~StoreFile() = default;

    virtual bool Seek(std::size_t offset) = 0;
    virtual bool SeekToEnd() = 0;
    // Inserts bytes at the position; the bytes after it move forward.
    virtual bool Insert(std::string_view bytes) = 0;
    // Removes count bytes at the position; the bytes after them move back.
    virtual bool Delete(std::size_t count) = 0;
    // The whole content, read from the start; false when it could not be read.
    virtual bool ReadAll(std::string& out) = 0;
    virtual bool Size(std::size_t& out) = 0;
    // The content becomes exactly bytes (written from the start, then cut to their length).
    virtual bool ReplaceAll(std::string_view bytes) = 0;
    // Whether the file still has the name it was opened by (not removed, not renamed away).
    virtual bool StillNamed() { return true; }

    // A change that a kill or a power loss may cut short is made between these two. BeginChange
    // keeps, where the next opening finds it, what the file holds from offset on either before
    // or after the change (the caller takes the shorter); the change must not write before
    // offset. False when it could not be kept: the change must not begin. EndChange takes the
    // file's bytes to the disk and lets the kept copy go; false when the bytes may not be there.
    // An opening that finds a kept copy puts it back at its offset first, so the file it reads is
    // the one before the change or the one after it, never a mix.
    virtual bool BeginChange(std::size_t /*offset*/, std::string_view /*tail*/) { return true; }
    virtual bool EndChange() { return true; }
};

struct DiskFileOpening {
    std::shared_ptr<StoreFile> file;  // null when none was obtained
    bool lockedByAnother = false;     // the file was opened, but another holder has the lock
};

// Opens path for reading and writing (created when missing, never truncated) and takes an
// exclusive advisory lock on it without waiting. No file when it cannot be opened or another
// holder has the lock: writing by others is shut out while the store keeps the file. Holding the
// lock, it first completes a change that was cut short (see BeginChange); no file when that
// fails.
DiskFileOpening OpenLockedDiskFile(std::string_view gbkPath);

// The settings file's bytes as the store left them whole: a change cut short (its kept copy
// still beside the file) is completed in what is read, the file itself is left alone. False when
// the file cannot be read.
bool ReadWholeSettings(std::string_view gbkPath, std::string& out);

// A file held in memory, starting with bytes and positioned at its start.
std::shared_ptr<StoreFile> MakeMemoryFile(std::string_view bytes);

}  // namespace zembrat::config
