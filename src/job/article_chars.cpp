#include "job/article_chars.h"

#include <array>
#include <cctype>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/event_points.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::job::reading {
namespace {

std::string EncodeCodePoint(char32_t cp, ArticleEncoding encoding) {
    std::string utf8;
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
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
    return encoding == ArticleEncoding::Utf8 || cp < 0x80 ? utf8 : text::GbkFromUtf8(utf8);
}

// The character reference at s[i] ("&...;"), decoded the way HTML and Markdown read them in
// attribute values and link destinations, and its length; nothing when it is none.
std::optional<std::pair<std::string, std::size_t>> CharacterReference(std::string_view s,
                                                                      std::size_t i,
                                                                      ArticleEncoding encoding) {
    const std::size_t semi = s.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 10) return std::nullopt;
    const std::string_view name = s.substr(i + 1, semi - i - 1);
    if (name.size() >= 2 && name[0] == '#') {
        const bool hex = name[1] == 'x' || name[1] == 'X';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty()) return std::nullopt;
        char32_t cp = 0;
        for (const char c : digits) {
            int d;
            if (IsAsciiDigit(c))
                d = c - '0';
            else if (hex && LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f')
                d = LowerAscii(c) - 'a' + 10;
            else
                return std::nullopt;
            cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(d);
        }
        return std::pair{EncodeCodePoint(cp, encoding), semi - i + 1};
    }
    static const std::array<std::pair<std::string_view, char>, 5> named{
        {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}}};
    for (const auto& [n, c] : named) {
        if (name == n) return std::pair{std::string(1, c), semi - i + 1};
    }
    return std::nullopt;
}

}  // namespace

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

std::string FetchedForm(std::string_view value, ArticleEncoding encoding, bool backslashEscapes) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const char c = value[i];
        if (c == '&') {
            if (auto ref = CharacterReference(value, i, encoding)) {
                out += ref->first;
                i += ref->second;
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
                         ArticleEncoding encoding, bool backslashEscapes) {
    FoundSource found = Found(article, begin, end);
    std::string fetched = FetchedForm(found.text, encoding, backslashEscapes);
    if (fetched != found.text) found.address = std::move(fetched);
    return found;
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
