// Writing below a base folder only, never through a link (interim forms over files.h).
#pragma once

#include <string>
#include <string_view>

namespace zembrat::platform {

enum class StoreOutcome { Stored, Same, Taken, Failed };

// A folder, not a link to one, exists at path.
bool IsRealFolder(std::string_view path);
StoreOutcome StoreBytesBeneath(const std::string& base, const std::string& relative,
                               std::string_view bytes);
bool WriteFileBeneath(const std::string& base, const std::string& relative, std::string_view bytes);

}  // namespace zembrat::platform
