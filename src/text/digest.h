// Message digests (OpenSSL's libcrypto) as lower-case hexadecimal text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zembrat::text {

std::string Sha256Hex(std::string_view bytes);
std::string Md5Hex(std::string_view bytes);

// The digest of a whole file, read in pieces; empty when it cannot be opened or read. The path is
// the file system's own (not GBK text): callers convert with platform::NativePath.
std::optional<std::string> FileSha256Hex(const std::string& nativePath);
std::optional<std::string> FileMd5Hex(const std::string& nativePath);

}  // namespace zembrat::text
