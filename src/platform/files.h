// File and folder access with GBK path texts: reading, writing, looking, listing and matching.
// Storing beneath a base folder (file_store.h) and replacing a file whole (file_replace.h) come
// with it, as their callers use both.
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

#include "platform/file_replace.h"
#include "platform/file_store.h"
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
// Creates the file or replaces its whole content; false when anything failed. Only a regular
// file is written: a link at the name is not followed, a FIFO or device is refused.
bool WriteWholeFile(std::string_view path, std::string_view bytes);

// The permission bits (the 07777 part of the mode) of the file at path, a link followed.
std::optional<unsigned> PermissionBits(std::string_view path);

// Makes the folder at path where it is missing (its parent must be there). True when a folder
// stands at path now that is no link: the result folder is used only then, since FolderBeneath,
// StoreBytesBeneath and WriteFileBeneath refuse a base that is itself a link.
bool MakeResultFolder(std::string_view path);

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
