// The character-level helpers the reference readers share: stepping over an article's
// characters in its encoding, ASCII tests, the decoding of what a value fetches, and the pace
// at which a long reading lets the window live.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/found_source.h"

namespace zembrat::platform {
class EventPoints;
}

namespace zembrat::job::reading {

inline unsigned char At(std::string_view s, std::size_t i) {
    return static_cast<unsigned char>(s[i]);
}

inline char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

inline bool IsHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

inline bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

inline bool IsAsciiAlnum(char c) {
    const char l = LowerAscii(c);
    return IsAsciiDigit(c) || (l >= 'a' && l <= 'z');
}

// word (lower case), ASCII case ignored, at s[i..].
bool HasNoCase(std::string_view s, std::size_t i, std::string_view word);

// The length of the character at i, as the article's decoding sees it. In GBK: a lead byte
// (81..FE) and a trail byte (40..7E, 80..FE) form one character; any other byte stands alone
// (a lead byte followed by a digit starts a four-byte sequence whose bytes are never
// delimiters here, so they may as well step one by one). In UTF-8 every byte steps alone:
// only ASCII bytes are looked at, and they never occur inside a multi-byte sequence.
inline std::size_t Step(std::string_view s, std::size_t i, ArticleEncoding encoding) {
    if (encoding == ArticleEncoding::Utf8) return 1;
    const unsigned char c = At(s, i);
    if (c < 0x81 || c == 0xFF || i + 1 >= s.size()) return 1;
    const unsigned char t = At(s, i + 1);
    return ((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFE)) ? 2 : 1;
}

// True when a character starts at i, for a byte s[i] below 0x80.
bool StartsCharacter(std::string_view s, std::size_t i, ArticleEncoding encoding);

// A code point as UTF-8.
std::string Utf8Of(char32_t cp);

// How character references are read: as a browser reads them in an attribute value (named
// references from the whole HTML table, the legacy ones without ";" too unless "=" or a letter
// or digit follows; numeric ones with or without ";", their code points replaced as HTML says),
// or as CommonMark reads them (a name of the table or a number of at most 7 decimal or 6 hex
// digits, always closed by ";"; backslash escapes of ASCII punctuation as well).
enum class ReferenceSyntax { Html, Markdown };

// The character reference at s[i] ("&"): the one or two code points it stands for and its
// length; nothing when none begins there.
struct CharacterReference {
    char32_t first = 0, second = 0;
    std::size_t length = 0;
};
std::optional<CharacterReference> ReadCharacterReference(std::string_view s, std::size_t i,
                                                         ReferenceSyntax syntax);

// What a browser fetches for a value: character references decoded (and backslash escapes,
// for Markdown), tabs and line breaks dropped, spaces written as %20; characters written in
// the article's encoding, except that a character a reference decodes to is written
// percent-encoded as UTF-8 in a UTF-8 article (as its own non-ASCII bytes are asked for) and in
// a GBK article when GBK has no such character.
std::string FetchedForm(std::string_view value, ArticleEncoding encoding, ReferenceSyntax syntax);

// The piece article[begin, end) as a source fetched as written.
FoundSource Found(std::string_view article, std::size_t begin, std::size_t end);
// The same, fetched as FetchedForm reads it.
FoundSource FoundDecoded(std::string_view article, std::size_t begin, std::size_t end,
                         ArticleEncoding encoding, ReferenceSyntax syntax);

// A byte the image-tag pattern's value takes: none of the quotes, "<", ">" and space.
inline bool IsPlainValueByte(char c) {
    return c != '"' && c != '\'' && c != '<' && c != '>' && c != ' ';
}

// True when the address names a picture file by its extension (jpg, jpeg, png, gif, webp, bmp,
// svg, avif; letter case ignored; query and fragment left out).
bool NamesAPicture(std::string_view address);

// Puts v[from..] in order (stably), in linear time when it is made of one or two runs already in
// order, as readers' lists joined one after the other are.
template <typename T, typename Less>
void SortRuns(std::vector<T>& v, std::size_t from, Less less) {
    const auto begin = v.begin() + static_cast<std::ptrdiff_t>(from);
    const auto cut = std::is_sorted_until(begin, v.end(), less);
    if (cut == v.end()) return;
    if (std::is_sorted(cut, v.end(), less))
        std::inplace_merge(begin, cut, v.end(), less);
    else
        std::stable_sort(begin, v.end(), less);
}

inline bool ByOffset(const FoundSource& a, const FoundSource& b) {
    return a.offset < b.offset;
}

// The first "<" at or after from; the size of s when there is none.
std::size_t NextLt(std::string_view s, std::size_t from);

// Lets the window live while a reading walks a long article: Passed(position) processes the
// window's events each time the reading has gone another kStride bytes, and is false once a
// stop has been requested, after which every reading gives up (what they found is partial).
// Readings that walk the article one after the other call Restart() between them.
class ScanPace {
  public:
    static constexpr std::size_t kStride = 64 * 1024;

    explicit ScanPace(platform::EventPoints* events) : events_(events) { Restart(); }
    bool Passed(std::size_t position) {
        if (position < next_) return true;
        return Beat(position);
    }
    void Restart() { next_ = events_ && !stopped_ ? kStride : stopped_ ? 0 : kNever; }

  private:
    static constexpr std::size_t kNever = static_cast<std::size_t>(-1);
    bool Beat(std::size_t position);

    platform::EventPoints* events_;
    std::size_t next_ = 0;
    bool stopped_ = false;
};

}  // namespace zembrat::job::reading
