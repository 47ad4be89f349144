// The registry backend of the store: value RegistryPath + key, the last "\" separating the
// key's path from the value's name, in the registry stand-in (config/registry_standin.h).
#include "config/config_store.h"
#include "config/registry_standin.h"
#include "text/codec.h"

namespace zembrat::config {

bool ConfigStore::WriteRegistryStored(std::string_view key, std::string_view stored) {
    const std::string full = registryPath_ + std::string(key);
    const std::size_t cut = text::FindLast(full, "\\");
    return WriteRegistryValue(std::string_view(full).substr(0, cut),
                              std::string_view(full).substr(cut + 1), stored);
}

std::string ConfigStore::ReadRegistryStored(std::string_view key, std::string_view storedDefault) {
    const std::string full = registryPath_ + std::string(key);
    const std::size_t cut = text::FindLast(full, "\\");
    const auto value = ReadRegistryValue(std::string_view(full).substr(0, cut),
                                         std::string_view(full).substr(cut + 1));
    return value ? *value : std::string(storedDefault);
}

}  // namespace zembrat::config
