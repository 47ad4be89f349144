#include "job/article_chars.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/event_points.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::job::reading {
namespace {

std::string PercentEncoded(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += '%';
        out += kHex[b >> 4];
        out += kHex[b & 0x0F];
    }
    return out;
}

// A decoded character as the fetched address holds it (see FetchedForm).
std::string EncodeCodePoint(char32_t cp, ArticleEncoding encoding) {
    if (cp < 0x80) return std::string(1, static_cast<char>(cp));
    const std::string utf8 = Utf8Of(cp);
    if (encoding == ArticleEncoding::Utf8) return PercentEncoded(utf8);
    std::string gbk = text::GbkFromUtf8(utf8);
    if (gbk.empty() || gbk == "?" || text::Utf8FromGbk(gbk) != utf8) return PercentEncoded(utf8);
    return gbk;
}

struct NamedReference {
    std::string_view name;  // after "&", with its ";" when it has one
    char32_t first, second;
};

constexpr NamedReference kNamedReferences[] = {
#include "job/named_references.inc"
};
constexpr std::size_t kLongestName = 32;

// The longest name of the table that stands at s[i..]; nullptr when none does.
const NamedReference* LongestNamedReference(std::string_view s, std::size_t i) {
    std::size_t length = 0;
    while (length < kLongestName && i + length < s.size() && IsAsciiAlnum(s[i + length])) ++length;
    const std::size_t withSemicolon = length + (i + length < s.size() && s[i + length] == ';');
    const auto begin = std::begin(kNamedReferences), end = std::end(kNamedReferences);
    for (std::size_t n = withSemicolon; n > 0; --n) {
        const std::string_view name = s.substr(i, n);
        const auto at = std::lower_bound(
            begin, end, name,
            [](const NamedReference& r, std::string_view v) { return r.name < v; });
        if (at != end && at->name == name) return &*at;
    }
    return nullptr;
}

// The code point a numeric reference stands for, as HTML replaces it: none, a surrogate or
// beyond Unicode is U+FFFD, the C1 controls are the Windows-1252 characters they were typed
// as.
char32_t HtmlNumericReplacement(std::uint64_t cp) {
    static constexpr char16_t kC1[32] = {
        0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
    if (cp >= 0x80 && cp <= 0x9F) return kC1[cp - 0x80];
    return static_cast<char32_t>(cp);
}

int HexValue(char c) {
    if (IsAsciiDigit(c)) return c - '0';
    const char l = LowerAscii(c);
    return l >= 'a' && l <= 'f' ? l - 'a' + 10 : -1;
}

}  // namespace

std::string Utf8Of(char32_t cp) {
    std::string utf8;
    if (cp < 0x80) {
        utf8 += static_cast<char>(cp);
    } else if (cp < 0x800) {
        utf8 += static_cast<char>(0xC0 | (cp >> 6));
        utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        utf8 += static_cast<char>(0xE0 | (cp >> 12));
        utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        utf8 += static_cast<char>(0xF0 | (cp >> 18));
        utf8 += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return utf8;
}

std::optional<CharacterReference> ReadCharacterReference(std::string_view s, std::size_t i,
                                                         ReferenceSyntax syntax) {
    const bool markdown = syntax == ReferenceSyntax::Markdown;
    std::size_t k = i + 1;
    if (k < s.size() && s[k] == '#') {
        ++k;
        const bool hex = k < s.size() && (s[k] == 'x' || s[k] == 'X');
        if (hex) ++k;
        const std::size_t digits = k;
        std::uint64_t cp = 0;
        for (; k < s.size(); ++k) {
            const int d = hex ? HexValue(s[k]) : (IsAsciiDigit(s[k]) ? s[k] - '0' : -1);
            if (d < 0) break;
            cp = std::min<std::uint64_t>(cp * (hex ? 16 : 10) + static_cast<unsigned>(d), 0x110000);
        }
        if (k == digits) return std::nullopt;
        const bool semicolon = k < s.size() && s[k] == ';';
        if (markdown) {
            if (!semicolon || k - digits > (hex ? 6u : 7u)) return std::nullopt;
            const char32_t c = cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)
                                   ? 0xFFFD
                                   : static_cast<char32_t>(cp);
            return CharacterReference{c, 0, k + 1 - i};
        }
        return CharacterReference{HtmlNumericReplacement(cp), 0, k + semicolon - i};
    }
    const NamedReference* named = LongestNamedReference(s, k);
    if (!named) return std::nullopt;
    const bool semicolon = named->name.back() == ';';
    if (markdown && !semicolon) return std::nullopt;
    if (!semicolon) {
        // In an attribute value a legacy name followed by "=" or a letter or digit stays text.
        const std::size_t after = k + named->name.size();
        if (after < s.size() && (s[after] == '=' || IsAsciiAlnum(s[after]))) return std::nullopt;
    }
    return CharacterReference{named->first, named->second, 1 + named->name.size()};
}

bool HasNoCase(std::string_view s, std::size_t i, std::string_view word) {
    if (i + word.size() > s.size()) return false;
    for (std::size_t k = 0; k < word.size(); ++k) {
        if (LowerAscii(s[i + k]) != word[k]) return false;
    }
    return true;
}

// Such a byte ends whatever came before unless it is the trail byte of a pair; the run of high
// bytes before it is paired up from its start, which is a character boundary because the byte
// before the run is below 0x80.
bool StartsCharacter(std::string_view s, std::size_t i, ArticleEncoding encoding) {
    if (encoding == ArticleEncoding::Utf8 || i == 0 || At(s, i - 1) < 0x80) return true;
    const unsigned char c = At(s, i);
    if (c < 0x40 || c == 0x7F) return true;
    std::size_t run = i;
    while (run > 0 && At(s, run - 1) >= 0x80) --run;
    std::size_t k = run;
    while (k < i) k += Step(s, k, encoding);
    return k == i;
}

std::string FetchedForm(std::string_view value, ArticleEncoding encoding, ReferenceSyntax syntax) {
    const bool backslashEscapes = syntax == ReferenceSyntax::Markdown;
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const char c = value[i];
        if (c == '&') {
            if (const auto ref = ReadCharacterReference(value, i, syntax)) {
                out += EncodeCodePoint(ref->first, encoding);
                if (ref->second) out += EncodeCodePoint(ref->second, encoding);
                i += ref->length;
                continue;
            }
        } else if (c == '\\' && backslashEscapes && i + 1 < value.size() &&
                   std::ispunct(At(value, i + 1))) {
            out += value[i + 1];
            i += 2;
            continue;
        } else if (c == '\t' || c == '\n' || c == '\r') {
            ++i;
            continue;
        } else if (c == ' ') {
            out += "%20";
            ++i;
            continue;
        }
        const std::size_t n = Step(value, i, encoding);
        out.append(value.substr(i, n));
        i += n;
    }
    return out;
}

FoundSource Found(std::string_view article, std::size_t begin, std::size_t end) {
    return {begin, std::string(article.substr(begin, end - begin)), {}};
}

FoundSource FoundDecoded(std::string_view article, std::size_t begin, std::size_t end,
                         ArticleEncoding encoding, ReferenceSyntax syntax) {
    FoundSource found = Found(article, begin, end);
    std::string fetched = FetchedForm(found.text, encoding, syntax);
    if (fetched != found.text) found.address = std::move(fetched);
    return found;
}

bool NamesAPicture(std::string_view address) {
    static const std::array<std::string_view, 8> extensions{"jpg",  "jpeg", "png", "gif",
                                                            "webp", "bmp",  "svg", "avif"};
    address = address.substr(0, address.find_first_of("?#"));
    while (!address.empty() && IsHtmlSpace(address.front())) address.remove_prefix(1);
    while (!address.empty() && IsHtmlSpace(address.back())) address.remove_suffix(1);
    std::string lower(address);
    for (char& c : lower) c = LowerAscii(c);
    const std::size_t dot = lower.rfind('.');
    if (dot == std::string::npos || lower.find('/', dot) != std::string::npos) return false;
    return std::find(extensions.begin(), extensions.end(),
                     std::string_view(lower).substr(dot + 1)) != extensions.end();
}

std::size_t NextLt(std::string_view s, std::size_t from) {
    if (from >= s.size()) return s.size();
    const void* hit = std::memchr(s.data() + from, '<', s.size() - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - s.data()) : s.size();
}

bool ScanPace::Beat(std::size_t position) {
    if (stopped_) return false;
    next_ = position + kStride;
    events_->ProcessEvents();
    if (!events_->StopRequested()) return true;
    stopped_ = true;
    next_ = 0;
    return false;
}

}  // namespace zembrat::job::reading
