// Files that get their name only once they are whole: written without a name where the file
// system allows it, else under a temporary name of the program's own pattern (".zembrat-" +
// process id + "-" + a number + ".tmp"), by which the leftovers of killed runs are found.
// Private to platform/.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"

namespace zembrat::platform::files_detail {

// A new file without a name in the folder. None where the file system cannot make one (then
// errno is EOPNOTSUPP, or EISDIR or EINVAL on a kernel without such files), or on failure.
Fd CreateUnnamed(int folder, unsigned permissions);
// The error CreateUnnamed gives where the folder's file system makes no files without a name.
bool NoUnnamedFiles(int error);
// Gives the unnamed file its first name in the folder; fails with EEXIST, replacing nothing,
// when something is at the name.
bool LinkUnnamed(int file, int folder, const char* name);
// A new, empty file in the folder under a fresh temporary name, which is put in name.
Fd CreateTemporary(int folder, std::string& name, unsigned permissions);
// Renames from to to in the folder unless something is at to (EEXIST then).
bool RenameNoReplace(int folder, const char* from, const char* to);
// Removes a temporary name (none when empty), keeping errno for the caller.
void Discard(int folder, const std::string& name);
// The bytes as a whole, closed file under a fresh temporary name in the folder (its name in
// name); synced first when sync is set. The file is written without a name where the file system
// allows it, so the temporary name only ever shows a whole file. False, with nothing left, on
// failure.
bool WriteTemporary(int folder, std::string_view bytes, unsigned permissions, bool sync,
                    std::string& name);
// Removes the leftover temporary files of ended processes from one open folder; how many.
std::size_t SweepFolder(int folder);

}  // namespace zembrat::platform::files_detail
