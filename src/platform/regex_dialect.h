// The pattern dialect of the regular-expression component, translated into PCRE2 syntax.
//
// A pure text-to-text function: the component compiles what it returns. The translation gives
// the dialect's meaning to what PCRE2 would read otherwise: "\v" is the vertical tab and not a
// class, "\Z" "\A" "\z" "\G" "\h" "\K" "\Q" "\E" "\e" "\a" "\p" are plain letters, "[[:a:]]" is
// a class of characters, "a*+" is an error and not possessive, and "^" / "$" with Multiline stop
// at "\r" as well as "\n". Every character that is not an ASCII letter or digit goes out as
// \x{...}, so no character of the pattern takes a PCRE2-only meaning.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zembrat::platform {

// Character tests shared by the translator and the component.
inline bool IsHighSurrogate(char32_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
inline bool IsLowSurrogate(char32_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}
inline bool IsDigit(char32_t c) {
    return c >= '0' && c <= '9';
}

// The PCRE2 pattern that means what the dialect's pattern means (Multiline on or off), or none
// where the dialect has a syntax error. Surrogate pairs are read as one character; a lone
// surrogate is passed on for the compile to refuse.
std::optional<std::u16string> TranslatePattern(std::u16string_view pattern, bool multiline);

}  // namespace zembrat::platform
