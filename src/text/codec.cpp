#include "text/codec.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>

namespace zembrat::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr const char* kGbk = kGbkCharset;
constexpr const char* kUtf32 = std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE";
constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// One open converter per direction and thread; iconv_open is costly next to short texts.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    void reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

    // Converts as much as it can; returns false with errno set when it stopped early.
    bool run(const char*& in, std::size_t& inLeft, char*& out, std::size_t& outLeft) {
        char* src = const_cast<char*>(in);
        const std::size_t r = iconv(cd_, &src, &inLeft, &out, &outLeft);
        in = src;
        return r != static_cast<std::size_t>(-1);
    }

  private:
    iconv_t cd_;
};

Converter& Cached(const char* to, const char* from) {
    struct Slot {
        std::string to, from;
        std::unique_ptr<Converter> converter;
    };
    thread_local std::vector<Slot> slots;
    for (auto& slot : slots) {
        if (slot.to == to && slot.from == from) {
            slot.converter->reset();
            return *slot.converter;
        }
    }
    slots.push_back({to, from, std::make_unique<Converter>(to, from)});
    return *slots.back().converter;
}

// A two-byte character that a byte-wise search for ASCII may take as none of ASCII: no ASCII
// character (0: no character), no surrogate, and neither the long s nor the Kelvin sign, which
// match "s" and "k" ignoring case.
bool IsPlainPair(char32_t cp) {
    return cp >= 0x80 && cp != 0x17F && cp != 0x212A && (cp < 0xD800 || cp > 0xDFFF);
}

// Code points of the one- and two-byte GB18030 characters, asked of iconv once. 0 marks a
// byte sequence that is no character; four-byte characters (rare in GBK text) go to iconv.
class GbkTable {
  public:
    static const GbkTable& Get() {
        static const GbkTable table;
        return table;
    }

    bool ok() const { return ok_; }
    // Whether every pair of bytes 81..FE makes a plain two-byte character.
    bool HighPairsPlain() const { return highPairsPlain_; }
    // Whether the lead and trail byte make a two-byte character that is plain (IsPlainPair).
    bool PlainPair(unsigned char lead, unsigned char trail) const {
        const unsigned bit = (unsigned{lead} << 8) | trail;
        return (plainPairs_[bit / 64] >> (bit % 64)) & 1;
    }
    char32_t Single(unsigned char c) const { return single_[c]; }
    char32_t Pair(unsigned char lead, unsigned char trail) const {
        if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE) return 0;
        return pair_[(lead - 0x81) * 191 + (trail - 0x40)];
    }

  private:
    GbkTable() : single_(256, 0), pair_(126 * 191, 0) {
        Converter conv(kUtf32, kGbk);
        ok_ = conv.ok();
        if (!ok_) {
            for (int c = 0; c < 0x80; ++c) single_[c] = static_cast<char32_t>(c);
            return;
        }
        for (int c = 0; c < 256; ++c) {
            const char byte = static_cast<char>(c);
            single_[c] = Convert(conv, &byte, 1);
        }
        single_[0] = 0;  // the zero byte is a character of its own; see Decode
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                pair_[(lead - 0x81) * 191 + (trail - 0x40)] = Convert(conv, bytes, 2);
            }
        }
        for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
            // A digit after the lead byte starts a four-byte sequence; 7F is no trail byte.
            for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
                const unsigned bit = (lead << 8) | trail;
                if (trail != 0x7F && IsPlainPair(Pair(static_cast<unsigned char>(lead),
                                                      static_cast<unsigned char>(trail))))
                    plainPairs_[bit / 64] |= std::uint64_t{1} << (bit % 64);
            }
        }
        highPairsPlain_ = true;
        for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
            for (unsigned trail = 0x81; trail <= 0xFE; ++trail)
                highPairsPlain_ = highPairsPlain_ && PlainPair(static_cast<unsigned char>(lead),
                                                               static_cast<unsigned char>(trail));
        }
    }

    static char32_t Convert(Converter& conv, const char* bytes, std::size_t n) {
        conv.reset();
        char32_t cp = 0;
        const char* in = bytes;
        std::size_t inLeft = n;
        char* out = reinterpret_cast<char*>(&cp);
        std::size_t outLeft = sizeof cp;
        if (!conv.run(in, inLeft, out, outLeft) || inLeft != 0 || outLeft != 0) return 0;
        return cp;
    }

    bool ok_ = false;
    std::uint64_t plainPairs_[65536 / 64] = {};  // one bit for each lead and trail byte
    bool highPairsPlain_ = false;
    std::vector<char32_t> single_;
    std::vector<char32_t> pair_;
};

struct DecodedChar {
    char32_t cp;
    std::size_t length;  // bytes
};

// The character that starts at byte i of GB18030 text; an invalid byte is U+FFFD of length 1.
DecodedChar DecodeAt(const GbkTable& table, std::string_view gbk, std::size_t i) {
    const auto* s = reinterpret_cast<const unsigned char*>(gbk.data());
    const std::size_t n = gbk.size();
    const unsigned char c = s[i];
    if (c < 0x80) return {c, 1};
    if (i + 1 < n && s[i + 1] >= '0' && s[i + 1] <= '9') {
        if (i + 3 < n && table.ok()) {
            Converter& conv = Cached(kUtf32, kGbk);
            char32_t four = 0;
            const char* in = gbk.data() + i;
            std::size_t inLeft = 4;
            char* out = reinterpret_cast<char*>(&four);
            std::size_t outLeft = sizeof four;
            if (conv.run(in, inLeft, out, outLeft) && inLeft == 0 && outLeft == 0) return {four, 4};
        }
    } else if (i + 1 < n) {
        if (const char32_t pair = table.Pair(c, s[i + 1])) return {pair, 2};
    }
    return {table.Single(c) ? table.Single(c) : kReplacement, 1};
}

std::size_t Utf16Units(char32_t cp) {
    return (cp >= 0x10000 && cp <= 0x10FFFF) ? 2 : 1;
}

// Decodes GB18030, handing each code point with the offset of its first byte to emit.
template <class Emit>
void DecodeGbk(std::string_view gbk, Emit&& emit) {
    const GbkTable& table = GbkTable::Get();
    const auto* s = reinterpret_cast<const unsigned char*>(gbk.data());
    const std::size_t size = gbk.size();
    for (std::size_t i = 0; i < size;) {
        // ASCII and the two-byte characters are read here; four-byte and invalid sequences go
        // the long way.
        const unsigned char c = s[i];
        if (c < 0x80) {
            emit(char32_t{c}, i);
            ++i;
            continue;
        }
        if (i + 1 < size && (s[i + 1] < '0' || s[i + 1] > '9')) {
            if (const char32_t pair = table.Pair(c, s[i + 1])) {
                emit(pair, i);
                i += 2;
                continue;
            }
        }
        const DecodedChar ch = DecodeAt(table, gbk, i);
        emit(ch.cp, i);
        i += ch.length;
    }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp > 0x10FFFF ? kReplacement : cp));
    }
}

// U+FFFD in GB18030.
constexpr std::string_view kGbkReplacement = "\x84\x31\xA4\x37";

std::size_t OneByte(std::string_view) {
    return 1;
}
std::size_t TwoBytes(std::string_view) {
    return 2;
}

}  // namespace

MappedUtf16 Utf16FromGbkMapped(std::string_view gbk) {
    // Every byte gives at most one UTF-16 unit, so room for that many is reserved once. The
    // units are written through a small buffer rather than into a zero-filled text: reserved
    // room that is never written is never touched, so a text of two-byte characters takes
    // memory for its units only, not for twice its bytes.
    MappedUtf16 result;
    result.text.reserve(gbk.size());
    result.checkpoints_.reserve(gbk.size() / MappedUtf16::kCheckpointUnits + 1);
    constexpr std::size_t kChunk = 4096;
    char16_t chunk[kChunk];
    std::size_t filled = 0;
    std::size_t units = 0;
    // A checkpoint is kept for the character whose units reach past the next multiple of
    // kCheckpointUnits.
    std::size_t nextMark = 0;
    DecodeGbk(gbk, [&](char32_t cp, std::size_t at) {
        const std::size_t n = Utf16Units(cp);
        if (units + n > nextMark) {
            result.checkpoints_.push_back(
                {static_cast<std::uint32_t>(units), static_cast<std::uint32_t>(at)});
            nextMark += MappedUtf16::kCheckpointUnits;
        }
        if (filled + 2 > kChunk) {
            result.text.append(chunk, filled);
            filled = 0;
        }
        if (n == 2) {
            cp -= 0x10000;
            chunk[filled++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            chunk[filled++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            chunk[filled++] = static_cast<char16_t>(cp > 0x10FFFF ? kReplacement : cp);
        }
        units += n;
    });
    result.text.append(chunk, filled);
    result.units_ = units;
    return result;
}

std::size_t MappedUtf16::ByteOffset(std::string_view gbk, std::size_t unit) const {
    if (unit >= units_ || checkpoints_.empty()) return gbk.size();
    const Checkpoint& from =
        checkpoints_[std::min(unit / kCheckpointUnits, checkpoints_.size() - 1)];
    const GbkTable& table = GbkTable::Get();
    std::size_t at = from.unit, byte = from.byte;
    for (;;) {
        const DecodedChar ch = DecodeAt(table, gbk, byte);
        const std::size_t n = Utf16Units(ch.cp);
        if (at + n > unit) return byte;
        at += n;
        byte += ch.length;
    }
}

namespace {

// Whether every byte of the eight is from 81 to FE: its top bit set, and it is neither 80 nor FF.
bool AllIn81ToFE(std::uint64_t eight) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u, kTops = 0x8080808080808080u;
    const auto hasZeroByte = [](std::uint64_t x) { return ((x - kOnes) & ~x & kTops) != 0; };
    return (eight & kTops) == kTops && !hasZeroByte(eight ^ kTops) && !hasZeroByte(~eight);
}

}  // namespace

bool HasOnlyAsciiAndTwoByteCharacters(std::string_view gbk) {
    const GbkTable& table = GbkTable::Get();
    if (!table.ok()) return false;
    const auto* s = reinterpret_cast<const unsigned char*>(gbk.data());
    const std::size_t size = gbk.size();
    const bool highPairs = table.HighPairsPlain();
    std::size_t i = 0;
    while (i < size) {
        // A run of two-byte characters, then one of ASCII bytes, eight at a time where it can.
        while (i + 1 < size && s[i] >= 0x80) {
            // Eight bytes of 81..FE at a time: four plain pairs when all such pairs are.
            if (highPairs && i + 8 <= size) {
                std::uint64_t eight;
                std::memcpy(&eight, s + i, 8);
                if (AllIn81ToFE(eight)) {
                    i += 8;
                    continue;
                }
            }
            if (!table.PlainPair(s[i], s[i + 1])) return false;
            i += 2;
        }
        if (i < size && s[i] >= 0x80) return false;  // a lead byte at the very end
        while (i + 8 <= size) {
            std::uint64_t eight;
            std::memcpy(&eight, s + i, 8);
            if ((eight & 0x8080808080808080u) != 0) break;
            i += 8;
        }
        while (i < size && s[i] < 0x80) ++i;
    }
    return true;
}

std::u16string Utf16FromGbk(std::string_view gbk) {
    std::u16string out;
    out.reserve(gbk.size());
    DecodeGbk(gbk, [&](char32_t cp, std::size_t) { AppendUtf16(out, cp); });
    return out;
}

std::string GbkFromUtf16(std::u16string_view utf16) {
    return ConvertReplacing(
        std::string_view(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2), kUtf16,
        kGbk, {kGbkReplacement, TwoBytes});
}

std::string Utf8FromGbk(std::string_view gbk) {
    return ConvertReplacing(gbk, kGbk, "UTF-8", {"\xEF\xBF\xBD", OneByte});
}

std::string GbkFromUtf8(std::string_view utf8) {
    return ConvertReplacing(utf8, "UTF-8", kGbk, {kGbkReplacement, OneByte});
}

std::string ConvertReplacing(std::string_view input, const char* from, const char* to,
                             const Replacement& replacement) {
    std::string out;
    Converter& conv = Cached(to, from);
    if (!conv.ok()) return out;
    const std::string_view text = replacement.text;
    out.resize(input.size() * 2 + 16);
    const char* in = input.data();
    std::size_t inLeft = input.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (conv.run(in, inLeft, dst, outLeft)) break;
        const int error = errno;
        if (error == E2BIG || outLeft < text.size()) {
            const std::size_t used = static_cast<std::size_t>(dst - out.data());
            out.resize(out.size() * 2 + 16);
            dst = out.data() + used;
            outLeft = out.size() - used;
            continue;
        }
        std::memcpy(dst, text.data(), text.size());
        dst += text.size();
        outLeft -= text.size();
        if (error == EINVAL && replacement.unfinishedEndIsOne) break;
        const std::size_t skip =
            std::min(replacement.badLength(std::string_view(in, inLeft)), inLeft);
        in += skip;
        inLeft -= skip;
        conv.reset();
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return out;
}

std::optional<std::string> ConvertStrict(std::string_view input, const char* from, const char* to) {
    Converter& conv = Cached(to, from);
    if (!conv.ok()) return std::nullopt;
    std::string out(input.size() * 2 + 16, '\0');
    const char* in = input.data();
    std::size_t inLeft = input.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    while (!conv.run(in, inLeft, dst, outLeft)) {
        if (errno != E2BIG) return std::nullopt;
        const std::size_t used = static_cast<std::size_t>(dst - out.data());
        out.resize(out.size() * 2);
        dst = out.data() + used;
        outLeft = out.size() - used;
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return out;
}

}  // namespace zembrat::text
