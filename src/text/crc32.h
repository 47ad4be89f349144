#pragma once

#include <cstdint>
#include <string_view>

namespace zembrat::text {

// CRC-32 as zlib, PNG and ZIP compute it (reflected polynomial 0xEDB88320, initial value all
// ones, final complement).
std::uint32_t Crc32(std::string_view bytes);

}  // namespace zembrat::text
