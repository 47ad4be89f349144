#include "text/crc32.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <limits>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZEMBRAT_CRC32_FOLDING 1
#endif

namespace zembrat::text {
namespace {

// zlib's own CRC, continued from crc (a finished CRC, as zlib's crc32 takes and gives it).
std::uint32_t ZlibCrc32(std::uint32_t crc, const unsigned char* data, std::size_t left) {
    uLong c = crc;
    while (left > 0) {  // zlib takes a uInt length
        const auto n =
            static_cast<uInt>(std::min<std::size_t>(left, std::numeric_limits<uInt>::max()));
        c = crc32(c, data, n);
        data += n;
        left -= n;
    }
    return static_cast<std::uint32_t>(c);
}

#ifdef ZEMBRAT_CRC32_FOLDING

#define ZEMBRAT_FOLDING_TARGET __attribute__((target("pclmul,sse4.1")))

ZEMBRAT_FOLDING_TARGET inline __m128i Load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// x times k, each half by its own constant (low by k's low half, high by k's high half), the
// products added to next.
ZEMBRAT_FOLDING_TARGET inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

// Every image is checksummed whole before it is stored; carry-less multiplication folds 64 bytes
// a step where zlib's tables take a few instructions per byte.
//
// The running state (the CRC before its final complement) of data[0, len), continued from
// state; len is a multiple of 16 and at least 64. The fold constants are powers of x modulo
// the CRC-32 polynomial, bit-reflected: x^(4*128+32), x^(4*128-32) for the four-way fold,
// x^(128+32), x^(128-32) for the single fold, x^64 for the last 64 bits, then the polynomial
// and its Barrett constant.
ZEMBRAT_FOLDING_TARGET std::uint32_t FoldCrc32(std::uint32_t state, const unsigned char* data,
                                               std::size_t len) {
    alignas(16) static const std::uint64_t kFour[2] = {0x0154442bd4, 0x01c6e41596};
    alignas(16) static const std::uint64_t kOne[2] = {0x01751997d0, 0x00ccaa009e};
    alignas(16) static const std::uint64_t kLast[2] = {0x0163cd6124, 0};
    alignas(16) static const std::uint64_t kBarrett[2] = {0x01db710641, 0x01f7011641};
    __m128i x1 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(state)));
    __m128i x2 = Load(data + 16);
    __m128i x3 = Load(data + 32);
    __m128i x4 = Load(data + 48);
    data += 64;
    len -= 64;
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFour));
    for (; len >= 64; data += 64, len -= 64) {
        x1 = Fold(x1, k, Load(data));
        x2 = Fold(x2, k, Load(data + 16));
        x3 = Fold(x3, k, Load(data + 32));
        x4 = Fold(x4, k, Load(data + 48));
    }
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(kOne));
    x1 = Fold(x1, k, x2);
    x1 = Fold(x1, k, x3);
    x1 = Fold(x1, k, x4);
    for (; len >= 16; data += 16, len -= 16) x1 = Fold(x1, k, Load(data));

    // 128 bits to 64, then Barrett reduction to the 32-bit state.
    const __m128i mask32 = _mm_setr_epi32(-1, 0, -1, 0);
    __m128i x = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k, 0x10));
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kLast));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask32), k, 0x00),
                      _mm_srli_si128(x, 4));
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(kBarrett));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), k, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), k, 0x00);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

bool CanFold() {
    static const bool can = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return can;
}

#endif

}  // namespace

std::uint32_t Crc32(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    std::uint32_t crc = 0;
#ifdef ZEMBRAT_CRC32_FOLDING
    if (left >= 64 && CanFold()) {
        const std::size_t folded = left & ~std::size_t{15};
        crc = ~FoldCrc32(~crc, data, folded);
        data += folded;
        left -= folded;
    }
#endif
    return ZlibCrc32(crc, data, left);
}

}  // namespace zembrat::text
