// GBK text helpers.
//
// All program text is GBK bytes held in std::string. A byte of 0x80 or more starts a two-byte
// character; its second byte is never looked at on its own, so searches, replaces, splits and
// case changes here step over such pairs as units. These functions are the one place those
// rules live: other modules call them instead of writing their own byte loops.
//
// Positions are 0-based byte offsets; kNotFound (std::string::npos) means nothing was found.
// A position handed in as a start must lie on a character boundary (0, or a position one of
// these functions returned, plus a found length).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zembrat::text {

// Counted byte sequence (file contents, image bodies). Kept in a std::string so that bytes and
// text convert for free; "taking bytes as text" is TextOf().
using Bytes = std::string;

inline constexpr std::size_t kNotFound = std::string::npos;

inline constexpr char kPathSeparator = '/';

// The full-width space, GBK A1 A1.
inline constexpr std::string_view kFullWidthSpace = "\xA1\xA1";

inline bool IsLeadByte(unsigned char c) {
    return c >= 0x80;
}

// Length of the character that starts at i: 2 for a lead byte with a byte after it, else 1.
inline std::size_t CharLength(std::string_view s, std::size_t i) {
    return (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
}

// Bytes up to (not including) the first zero byte.
std::string TextOf(std::string_view bytes);

// First occurrence of needle at or after from that starts on a character boundary.
// An empty needle is found at from (when from <= size).
std::size_t Find(std::string_view s, std::string_view needle, std::size_t from = 0);
// The same, ASCII letters compared without regard to case.
std::size_t FindNoCase(std::string_view s, std::string_view needle, std::size_t from = 0);

// Last occurrence of needle lying wholly before end (end = kNotFound: anywhere) and starting on
// a character boundary.
std::size_t FindLast(std::string_view s, std::string_view needle, std::size_t end = kNotFound);
std::size_t FindLastNoCase(std::string_view s, std::string_view needle,
                           std::size_t end = kNotFound);

bool StartsWith(std::string_view s, std::string_view prefix);
// True when s ends with suffix and the suffix starts on a character boundary.
bool EndsWith(std::string_view s, std::string_view suffix);
bool EndsWithNoCase(std::string_view s, std::string_view suffix);

// Every occurrence of from replaced by to, left to right; the inserted text is never searched
// again. An empty from changes nothing.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);

// The same into out, which keeps its capacity between calls (no fresh allocation for a long
// text); false, with out untouched, when there is nothing to replace.
bool ReplaceAllInto(std::string_view s, std::string_view from, std::string_view to,
                    std::string& out);

// One text to replace and what replaces it.
struct TextReplacement {
    std::string_view from;
    std::string_view to;
};

// What ReplaceAllInto gives for each replacement in turn, each one working on the result of the
// ones before it (so a later one also finds its text in what an earlier one put in); the texts
// are found in one walk over s when that gives the same. Into out, which keeps its capacity
// between calls; false, with out untouched, when nothing was replaced.
bool ReplaceEachInto(std::string_view s, const std::vector<TextReplacement>& replacements,
                     std::string& out);

// Pieces between the separators, in order. An empty text gives no pieces; an empty separator
// gives the whole text as one piece.
std::vector<std::string> Split(std::string_view s, std::string_view separator);

// Leading and trailing spaces removed: the ASCII space and the full-width space A1 A1.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

// ASCII letters only; two-byte characters are left alone.
std::string AsciiLower(std::string_view s);
std::string AsciiUpper(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);

// Path pieces, with the platform's separator.
// The part after the last separator (all of it when there is none).
std::string FileName(std::string_view path);
// FileName cut before its last "." (kept whole when it has none).
std::string BaseName(std::string_view path);
// The part before the last separator (empty when there is none).
std::string DirectoryPart(std::string_view path);
// True when the last character of path is the separator.
bool EndsWithSeparator(std::string_view path);
// path, plus the separator when it does not already end with one.
std::string WithSeparator(std::string_view path);

}  // namespace zembrat::text
