// The store's binary values: one file per value in the folder "inibin" beside the settings
// file, holding exactly the value's bytes.
#include "config/config_store.h"
#include "platform/files.h"

namespace zembrat::config {
namespace {

using text::kNotFound;

bool HoldsZero(std::string_view s) {
    return s.find('\0') != text::kNotFound;
}

}  // namespace

std::string ConfigStore::BinaryValueFile(std::string_view key) const {
    // Each value is one file directly in "inibin": names that hold a separator or a zero byte
    // would lead elsewhere.
    for (std::string_view name : {std::string_view(currentSection_), key}) {
        if (HoldsZero(name) || name.find(text::kPathSeparator) != kNotFound) return {};
    }
    const std::string& location = location_.empty() ? fileName_ : location_;
    // Byte by byte: the separator is never part of a two-byte character, even after a stray byte.
    const std::size_t cut = location.rfind(text::kPathSeparator);
    // A location without a folder is relative: its folder is the working one.
    std::string folder =
        cut == kNotFound ? std::string("inibin") : location.substr(0, cut + 1) + "inibin";
    return folder + text::kPathSeparator + currentSection_ + "-" + std::string(key) + ".ibn";
}

text::Bytes ConfigStore::ReadBinary(std::string_view key, std::string_view defaultBytes) {
    const std::string file = BinaryValueFile(key);
    text::Bytes bytes;
    if (file.empty() || !platform::ReadWholeFile(file, bytes) || bytes.empty()) {
        return text::Bytes(defaultBytes);
    }
    return bytes;
}

bool ConfigStore::WriteBinary(std::string_view key, std::string_view bytes) {
    const std::string file = BinaryValueFile(key);
    if (file.empty()) return false;
    const std::string folder = file.substr(0, file.rfind(text::kPathSeparator));
    if (!folder.empty() && !platform::IsFolder(folder) && !platform::CreateOneFolder(folder)) {
        return false;
    }
    return platform::WriteWholeFile(file, bytes);
}

}  // namespace zembrat::config
