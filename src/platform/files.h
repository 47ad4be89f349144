// File and folder access with GBK path texts.
//
// Paths are the program's GBK text; they are converted to the file system's names here (UTF-8
// on Linux) and names read from the file system are converted back, so every name round-trips.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/gbk.h"

namespace zembrat::platform {

// The file system's form of a GBK path.
std::filesystem::path NativePath(std::string_view gbkPath);
// A file system name or path as GBK text.
std::string GbkFromNative(const std::filesystem::path& path);

// Reads the whole file; false (and empty bytes) when it cannot be read or is no regular file
// (a link to a regular file is read through).
bool ReadWholeFile(std::string_view path, text::Bytes& out);
// Reads the whole file at path (absolute, or relative to folder) when what it leads to is a
// regular file inside folder (in it or below it), as ReadWholeFile does; false (and empty
// bytes) otherwise. Links are followed, the folder's own too, but one on the way that leads out
// of the folder is refused: the file is opened and then asked where it lies. permissions, when
// given, takes the file's permission bits.
bool ReadFileWithin(std::string_view folder, std::string_view path, text::Bytes& out,
                    unsigned* permissions = nullptr);
// Opens base/relativePath to read, under the rule a run writes by: no piece below base is a link,
// nor is base's own last name, and the file is a regular one. The descriptor, or -1 with errno
// telling why: ELOOP (a link on the way or at the name), ENOENT (nothing there), ENOTDIR (a file
// where a folder should be), EINVAL (no regular file, or a relativePath that is absolute or holds
// ".."). relativePath is GBK, "/"-separated.
int OpenFileBeneath(std::string_view base, std::string_view relativePath);
// Creates the file or replaces its whole content; false when anything failed. Only a regular
// file is written: a link at the name is not followed, a FIFO or device is refused.
bool WriteWholeFile(std::string_view path, std::string_view bytes);

// What StoreBytesBeneath found and did.
enum class StoreBytesResult {
    Stored,  // a new file was made
    Same,    // a regular file with the same bytes was already there
    Taken,   // something else is there: other bytes, a folder, a link, a device
    Failed,  // could not be written (or the path leaves the base); nothing half-written is left
};
// Stores the bytes at base/relativePath unless equal bytes are already there, making missing
// folders on the way. Nothing beneath base is followed through a link and nothing is written
// through one; a write that fails leaves nothing behind. relativePath is GBK, "/"-separated,
// with no ".." part.
StoreBytesResult StoreBytesBeneath(std::string_view base, std::string_view relativePath,
                                   std::string_view bytes);

// A folder beneath a base folder, held open for storing many files into it: Store(name, bytes)
// does what StoreBytesBeneath(base, relativeFolder + "/" + name, bytes) does, with the folder
// opened (and made where missing) once instead of per file.
class FolderBeneath {
  public:
    // Nothing is opened or made until the first Store.
    FolderBeneath(std::string_view base, std::string_view relativeFolder);
    ~FolderBeneath();
    FolderBeneath(const FolderBeneath&) = delete;
    FolderBeneath& operator=(const FolderBeneath&) = delete;

    // name is one GBK file name (no "/"); the result as StoreBytesBeneath gives it.
    StoreBytesResult Store(std::string_view name, std::string_view bytes);

  private:
    bool Open();
    std::string base_;
    std::string relative_;
    int fd_ = -1;
    bool unnamedFiles_ = true;  // the folder's file system makes files without a name
};
// Writes base/relativeName as a new file made beside it and renamed over whatever entry is at
// the name (a link there is replaced, never written through); missing folders are made, as
// for StoreBytesBeneath. False on failure, with nothing half-written left.
bool WriteFileBeneath(std::string_view base, std::string_view relativeName, std::string_view bytes);
// The same, the new file with the permission bits of permissions (only its 0777 bits count; the
// umask may take more away, nothing adds any), so a result is never more open than its source.
bool WriteFileBeneath(std::string_view base, std::string_view relativeName, std::string_view bytes,
                      unsigned permissions);

// The permission bits (the 07777 part of the mode) of the file at path, a link followed.
std::optional<unsigned> PermissionBits(std::string_view path);

// Makes the folder at path where it is missing (its parent must be there). True when a folder
// stands at path now that is no link: the result folder is used only then, since FolderBeneath,
// StoreBytesBeneath and WriteFileBeneath refuse a base that is itself a link.
bool MakeResultFolder(std::string_view path);

// Removes what runs of this program killed before their rename left behind: the temporary
// files, by their own name pattern, of processes no longer running, in the folder base and, when
// relativeFolder is given, in base/relativeFolder (reached as FolderBeneath reaches it, never
// made). Nothing else is touched. Returns how many were removed. A run calls it at its start.
std::size_t RemoveLeftoverTemporaries(std::string_view base, std::string_view relativeFolder = {});

// Replaces the file at path whole: the bytes go into a new file beside it, which is synced and
// renamed over the name. On failure the file that was there stays as it was, and no temporary
// file is left. A link at the name is replaced, not written through.
bool WriteFileAtomically(std::string_view path, std::string_view bytes);

// Writes all of bytes to an open file, again after an interruption; false when a write failed.
bool WriteAll(int fd, std::string_view bytes);

// Something (file, folder, or anything else) exists at path. A dangling link counts.
bool PathExists(std::string_view path);
// A folder, or a link to one, exists at path.
bool IsFolder(std::string_view path);
// A folder, not a link to one, exists at path (a final separator does not follow a link).
bool IsRealFolder(std::string_view path);
// Creates one folder level; false when it could not be created.
bool CreateOneFolder(std::string_view path);

struct FolderEntry {
    std::string name;       // GBK
    bool isFolder = false;  // a folder or a link to one
};

// The entries of one folder, "." and ".." left out, in name order (see NameLess). An unreadable
// or missing folder gives no entries.
std::vector<FolderEntry> ListFolder(std::string_view folder);

// The listing order: ASCII letters compared without regard to case, then byte order.
bool NameLess(std::string_view a, std::string_view b);

// Directory-search matching: "*" is any run of characters, "?" exactly one character (a two-byte
// character counts as one), ASCII letters compare without regard to case.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// The names of the entries of a folder that are not folders and match the pattern, in name
// order: what a directory search for folder + pattern yields.
std::vector<std::string> SearchFiles(std::string_view folder, std::string_view pattern);

}  // namespace zembrat::platform
