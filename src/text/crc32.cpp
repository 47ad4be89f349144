#include "text/crc32.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace zembrat::text {

std::uint32_t Crc32(std::string_view bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    const auto* data = reinterpret_cast<const Bytef*>(bytes.data());
    std::size_t left = bytes.size();
    while (left > 0) {  // zlib takes a uInt length
        const auto n =
            static_cast<uInt>(std::min<std::size_t>(left, std::numeric_limits<uInt>::max()));
        crc = crc32(crc, data, n);
        data += n;
        left -= n;
    }
    return static_cast<std::uint32_t>(crc);
}

}  // namespace zembrat::text
