// Moving files from one place beneath a base folder to another, listing and removing what lies
// beneath it, under the rule a run writes by: no link beneath the base is followed, nor the
// base's own last name. What a prune of the image folder does with its trash.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zembrat::platform {

enum class MoveBeneathResult {
    Moved,    // renamed: the file is at its new place, nothing is left at the old one
    Missing,  // nothing at the old place
    Taken,    // something is already at the new place: nothing was moved
    Refused,  // the old place is no regular file, or a link stands on the way
    Failed,   // the rename failed (another file system, say): nothing was moved
};

// Renames base/from to base/to, making the folders of `to` where they are missing; never
// replaces anything at `to`. from and to are GBK, "/"-separated, relative, with no ".." part.
MoveBeneathResult MoveFileBeneath(std::string_view base, std::string_view from,
                                  std::string_view to);

// The regular files beneath base/relativeFolder (relative to base/relativeFolder, "/" between
// pieces, GBK), in name order folder by folder; links are left out and never followed, and so
// are entries whose names start with "." unless hidden is set. Nothing when the folder is not
// there.
std::vector<std::string> FilesBeneath(std::string_view base, std::string_view relativeFolder,
                                      bool hidden = false);

// The names of the folders (no link) right in base/relativeFolder, in name order.
std::vector<std::string> FoldersBeneath(std::string_view base, std::string_view relativeFolder);

// Removes base/relativeFolder and everything in it, no link followed (a link is removed as the
// link it is). The names of the files removed (relative to the folder) go to removed; false
// when something could not be removed.
bool RemoveFolderBeneath(std::string_view base, std::string_view relativeFolder,
                         std::vector<std::string>* removed = nullptr);

// Removes the regular file base/relative (never a link or a folder); false when it did not.
bool RemoveFileBeneath(std::string_view base, std::string_view relative);

// Removes the folders that hold base/relative (a file's path) from the deepest up while they are
// empty; base itself and the first keep folders of relative stay.
void RemoveEmptyFoldersBeneath(std::string_view base, std::string_view relative,
                               std::size_t keep = 0);

}  // namespace zembrat::platform
