// Replacing a file whole, so its name shows the old bytes or the new ones and never a part: an
// article beneath the result folder, a report or settings file anywhere; and the sweep of the
// temporary files that runs killed before their rename left behind.
#pragma once

#include <cstddef>
#include <string_view>

namespace zembrat::platform {

// Writes base/relativeName as a new file made beside it and renamed over whatever entry is at
// the name (a link there is replaced, never written through); missing folders are made, as
// for StoreBytesBeneath. False on failure, with nothing half-written left.
bool WriteFileBeneath(std::string_view base, std::string_view relativeName, std::string_view bytes);
// The same, the new file with the permission bits of permissions (only its 0777 bits count; the
// umask may take more away, nothing adds any), so a result is never more open than its source.
bool WriteFileBeneath(std::string_view base, std::string_view relativeName, std::string_view bytes,
                      unsigned permissions);

// Removes what runs of this program killed before their rename left behind: the temporary
// files, by their own name pattern, of processes no longer running, in the folder base and, when
// relativeFolder is given, in base/relativeFolder (reached as FolderBeneath reaches it, never
// made). Nothing else is touched. Returns how many were removed. A run calls it at its start.
std::size_t RemoveLeftoverTemporaries(std::string_view base, std::string_view relativeFolder = {});

// Replaces the file at path whole: the bytes go into a new file beside it, which is synced and
// renamed over the name. On failure the file that was there stays as it was, and no temporary
// file is left. A link at the name is replaced, not written through.
bool WriteFileAtomically(std::string_view path, std::string_view bytes);

}  // namespace zembrat::platform
