// What the file-system objects share: path forms, entry tests, and the copy, move and delete
// steps the folder, file and component objects all run. Private to platform/.
#pragma once

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system_objects.h"

namespace zembrat::platform::fs_detail {
namespace fs = std::filesystem;

inline constexpr std::string_view kRoot = "/";

// The stored form of a path: absolute, "." and ".." resolved as text, no final separator.
std::string Normalized(std::string_view gbk);

std::string Child(std::string_view folder, std::string_view name);

// The folder holding a stored path ("/" for the entries of the root).
std::string ParentOf(std::string_view stored);

bool StatFollow(std::string_view gbk, struct stat& st);

bool StatLink(std::string_view gbk, struct stat& st);

// The entry's own status, or its link's when the link leads nowhere.
bool StatEntry(std::string_view gbk, struct stat& st);

// An entry that is not a folder (a dangling link included).
bool IsFileEntry(std::string_view gbk);

bool IsLink(std::string_view gbk);

// Read-only as the attribute reads it: the owner may not write. A link has no permissions of its
// own, so a link is never read-only when it is removed.
bool ReadOnlyTarget(std::string_view gbk);

bool ReadOnlyEntry(std::string_view gbk);

// Two names of one entry differing only in letter case, as a case-insensitive file system has.
bool SameEntryNoCase(const std::string& a, const std::string& b);

DateTime ToDateTime(std::time_t seconds);

enum class Want { Files, Folders };

struct Expansion {
    std::vector<std::string> paths;
    bool wildcard = false;  // wildcards were given: the destination is a folder
};

// The entries a pattern names: the entry of exactly that name when there is one, otherwise the
// entries of its folder whose names match its last part.
Expansion Expand(std::string_view pattern, Want want);

// Where a source goes: into the destination folder, or to the destination itself. Empty when
// the destination folder is not there.
std::string TargetFor(const std::string& source, std::string_view destination, bool intoFolder);

bool CopyOneFile(const std::string& source, const std::string& target, bool overwrite);

bool CopyOneFolder(const std::string& source, const std::string& target, bool overwrite);

bool MoveOne(const std::string& source, const std::string& target, bool folder);

bool HasReadOnlyInside(const std::string& folder);

bool DeleteOneFile(const std::string& path, bool force);

bool DeleteOneFolder(const std::string& path, bool force);

int OpenFile(std::string_view gbk, int flags);

std::shared_ptr<ItemCollection> MakeCollection(std::vector<ComponentPtr> items);

// The mount point of the file system holding a path: the highest folder above it on the same
// device. Empty when nothing along the path exists.
std::string MountPointOf(const std::string& stored);

struct MountEntry {
    std::string source;  // native
    std::string type;
    std::string mountPoint;  // native
};

std::vector<MountEntry> MountTable();

std::optional<struct statvfs> SpaceOf(const std::string& mountPoint);

}  // namespace zembrat::platform::fs_detail
