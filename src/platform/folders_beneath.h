// Folders beneath a base folder, reached (and made) without following a link on the way.
// Private to platform/.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_descriptor.h"

namespace zembrat::platform::files_detail {

// The path without separators at its end (the root stays "/"): "a/" names the link a itself,
// not the folder it leads to.
std::string WithoutFinalSeparators(std::string_view path);

// The folder names and the final name of a relative GBK path, in the file system's form. Empty
// names and "." are passed over; ".." or an absolute path gives nothing (it would leave the base).
std::optional<std::vector<std::string>> PathNames(std::string_view relative);

// The folder base/names[0..count), made where it is missing unless make is false; no link is
// followed on the way, nor at base itself (its last name; the folders above it are the user's).
Fd OpenFolders(std::string_view base, const std::vector<std::string>& names, std::size_t count,
               bool make = true);

}  // namespace zembrat::platform::files_detail
