#include "text/codec.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>

namespace zembrat::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr const char* kGbk = "GB18030";
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

// Decodes GB18030 into code points, each with the offset of its first byte. Invalid bytes give
// U+FFFD one byte at a time.
void DecodeGbk(std::string_view gbk, std::u32string& points, std::vector<std::uint32_t>* starts) {
    Converter& conv = Cached(kUtf32, kGbk);
    points.clear();
    if (starts) starts->clear();
    if (!conv.ok()) {  // no converter: keep ASCII, replace the rest
        for (std::size_t i = 0; i < gbk.size(); ++i) {
            const auto c = static_cast<unsigned char>(gbk[i]);
            points.push_back(c < 0x80 ? c : kReplacement);
            if (starts) starts->push_back(static_cast<std::uint32_t>(i));
        }
        return;
    }
    points.reserve(gbk.size());
    std::u32string chunk;
    std::size_t pos = 0;
    while (pos < gbk.size()) {
        const char* in = gbk.data() + pos;
        std::size_t inLeft = gbk.size() - pos;
        chunk.resize(inLeft);  // at most one code point per input byte
        char* out = reinterpret_cast<char*>(chunk.data());
        std::size_t outLeft = chunk.size() * sizeof(char32_t);
        const bool complete = conv.run(in, inLeft, out, outLeft);
        const int error = complete ? 0 : errno;
        const std::size_t produced = chunk.size() - outLeft / sizeof(char32_t);
        const std::size_t consumed = static_cast<std::size_t>(in - (gbk.data() + pos));
        // Each code point came from one character of 1, 2 or 4 bytes: a four-byte one has a
        // digit as its second byte, which a two-byte character never has.
        std::size_t at = pos;
        for (std::size_t k = 0; k < produced; ++k) {
            if (starts) starts->push_back(static_cast<std::uint32_t>(at));
            const auto c = static_cast<unsigned char>(gbk[at]);
            if (c < 0x80) {
                at += 1;
            } else if (at + 1 < gbk.size() && gbk[at + 1] >= '0' && gbk[at + 1] <= '9') {
                at += 4;
            } else {
                at += 2;
            }
        }
        points.append(chunk, 0, produced);
        pos += consumed;
        if (starts && at != pos) {
            // The converter parsed differently from the rule above; redo this run one
            // character at a time so the offsets stay exact.
            starts->resize(starts->size() - produced);
            points.resize(points.size() - produced);
            pos -= consumed;
            for (std::size_t end = pos + consumed; pos < end;) {
                std::size_t len = 1;
                char32_t cp = kReplacement;
                for (;; ++len) {
                    if (len > 4 || pos + len > end) {
                        len = 1;
                        cp = kReplacement;
                        break;
                    }
                    conv.reset();
                    const char* one = gbk.data() + pos;
                    std::size_t oneLeft = len;
                    char* o = reinterpret_cast<char*>(&cp);
                    std::size_t oLeft = sizeof cp;
                    if (conv.run(one, oneLeft, o, oLeft) && oneLeft == 0 && oLeft == 0) break;
                }
                starts->push_back(static_cast<std::uint32_t>(pos));
                points.push_back(cp);
                pos += len;
            }
        }
        if (!complete) {
            if (error == E2BIG) continue;
            // EILSEQ or EINVAL: one bad byte.
            if (starts) starts->push_back(static_cast<std::uint32_t>(pos));
            points.push_back(kReplacement);
            pos += 1;
            conv.reset();
        }
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

// Encodes bytes of encoding `from` into encoding `to`; an input sequence the converter refuses is
// replaced by `replacement` (already in `to`) and skipped by `badUnit` bytes.
std::string ConvertLenient(std::string_view input, const char* from, const char* to,
                           std::string_view replacement, std::size_t badUnit) {
    std::string out;
    Converter& conv = Cached(to, from);
    if (!conv.ok()) return out;
    out.resize(input.size() * 2 + 16);
    const char* in = input.data();
    std::size_t inLeft = input.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (conv.run(in, inLeft, dst, outLeft)) break;
        if (errno == E2BIG || outLeft < replacement.size()) {
            const std::size_t used = static_cast<std::size_t>(dst - out.data());
            out.resize(out.size() * 2 + 16);
            dst = out.data() + used;
            outLeft = out.size() - used;
            continue;
        }
        std::memcpy(dst, replacement.data(), replacement.size());
        dst += replacement.size();
        outLeft -= replacement.size();
        const std::size_t skip = std::min(badUnit, inLeft);
        in += skip;
        inLeft -= skip;
        conv.reset();
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
    return out;
}

// U+FFFD in GB18030.
constexpr std::string_view kGbkReplacement = "\x84\x31\xA4\x37";

}  // namespace

MappedUtf16 Utf16FromGbkMapped(std::string_view gbk) {
    std::u32string points;
    std::vector<std::uint32_t> starts;
    DecodeGbk(gbk, points, &starts);
    MappedUtf16 result;
    result.text.reserve(points.size());
    result.byteOffset.reserve(points.size() + 1);
    for (std::size_t k = 0; k < points.size(); ++k) {
        const std::size_t before = result.text.size();
        AppendUtf16(result.text, points[k]);
        for (std::size_t u = before; u < result.text.size(); ++u) result.byteOffset.push_back(starts[k]);
    }
    result.byteOffset.push_back(static_cast<std::uint32_t>(gbk.size()));
    return result;
}

std::u16string Utf16FromGbk(std::string_view gbk) {
    std::u32string points;
    DecodeGbk(gbk, points, nullptr);
    std::u16string out;
    out.reserve(points.size());
    for (char32_t cp : points) AppendUtf16(out, cp);
    return out;
}

std::string GbkFromUtf16(std::u16string_view utf16) {
    return ConvertLenient(
        std::string_view(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2), kUtf16,
        kGbk, kGbkReplacement, 2);
}

std::string Utf8FromGbk(std::string_view gbk) {
    return ConvertLenient(gbk, kGbk, "UTF-8", "\xEF\xBF\xBD", 1);
}

std::string GbkFromUtf8(std::string_view utf8) {
    return ConvertLenient(utf8, "UTF-8", kGbk, kGbkReplacement, 1);
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
