// The registry of the store's registry backend, kept in files.
//
// Value `name` under the key path "A\B\C" is the file $XDG_CONFIG_HOME/A/B/C/name (default
// ~/.config), holding the value's text. Every piece of the path is one folder or file name:
// "%" and "/" inside a piece are written as "%25" and "%2F", a piece "." or ".." as "%2E" /
// "%2E%2E", and an empty value name (the key's default value) as "%", so no key or value name
// can reach outside the folder of its key.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zembrat::config {

// The folder that stands for the registry root: $XDG_CONFIG_HOME, else the home folder's .config
// (platform::HomeFolder). Empty when neither can be found.
std::string RegistryRootFolder();

// The file that holds value `valueName` of key `keyPath` ("\" separates the key's levels).
std::string RegistryValueFile(std::string_view keyPath, std::string_view valueName);

// Writes the value, creating the key's folders; false when anything failed.
bool WriteRegistryValue(std::string_view keyPath, std::string_view valueName,
                        std::string_view value);
// The value's text; nothing when the value does not exist or cannot be read.
std::optional<std::string> ReadRegistryValue(std::string_view keyPath, std::string_view valueName);

}  // namespace zembrat::config
