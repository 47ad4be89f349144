#include "config/registry_standin.h"

#include <cstdlib>

#include "platform/files.h"
#include "platform/user_account.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::config {
namespace {

std::string EncodePiece(std::string_view piece) {
    if (piece == ".") return "%2E";
    if (piece == "..") return "%2E%2E";
    // Byte by byte: after a stray lead byte a "/" would still reach the file system as one.
    std::string out;
    for (char c : piece) {
        if (c == '%')
            out += "%25";
        else if (c == '/')
            out += "%2F";
        else
            out += c;
    }
    return out;
}

std::string GbkFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return {};
    return text::GbkFromUtf8(value);
}

}  // namespace

std::string RegistryRootFolder() {
    std::string root = GbkFromEnvironment("XDG_CONFIG_HOME");
    if (!root.empty()) return root;
    const std::string home = text::GbkFromUtf8(platform::HomeFolder());
    if (home.empty()) return {};
    return text::WithSeparator(home) + ".config";
}

std::string RegistryValueFile(std::string_view keyPath, std::string_view valueName) {
    const std::string root = RegistryRootFolder();
    if (root.empty()) return {};
    std::string path = root;
    for (const std::string& piece : text::Split(text::TextOf(keyPath), "\\")) {
        if (piece.empty()) continue;  // "A\\B" and "A\B\" name the same key as "A\B"
        path = text::WithSeparator(path) + EncodePiece(piece);
    }
    const std::string name = text::TextOf(valueName);
    return text::WithSeparator(path) + (name.empty() ? std::string("%") : EncodePiece(name));
}

bool WriteRegistryValue(std::string_view keyPath, std::string_view valueName,
                        std::string_view value) {
    const std::string file = RegistryValueFile(keyPath, valueName);
    if (file.empty()) return false;
    // Create every folder level from the root down, as creating a key creates its path.
    const std::string folder = file.substr(0, file.rfind(text::kPathSeparator));
    std::string made;
    for (std::size_t i = 0; i <= folder.size(); ++i) {
        if (i < folder.size() && folder[i] != text::kPathSeparator) continue;
        made = folder.substr(0, i);
        if (!made.empty() && !platform::IsFolder(made) && !platform::CreateOneFolder(made)) {
            return false;
        }
    }
    return platform::WriteWholeFile(file, value);
}

std::optional<std::string> ReadRegistryValue(std::string_view keyPath, std::string_view valueName) {
    const std::string file = RegistryValueFile(keyPath, valueName);
    if (file.empty() || !platform::PathExists(file)) return std::nullopt;
    text::Bytes bytes;
    if (!platform::ReadWholeFile(file, bytes)) return std::nullopt;
    return text::TextOf(bytes);
}

}  // namespace zembrat::config
