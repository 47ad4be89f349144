// The pattern-escaping helpers that both regular-expression wrappers offer. Each puts a
// backslash before every character of its set; a trail byte of a two-byte GBK character is
// never taken for one of them.
#pragma once

#include <string>
#include <string_view>

namespace zembrat::automation {

// A user's wildcard list as a pattern: "*" is any run of characters, "?" zero or one
// character, "|" separates alternatives; the rest is literal and the result is not anchored.
// "*.txt|*.htm" gives ".*\.txt|.*\.htm".
std::string WildcardToPattern(std::string_view wildcards);

// Every character with a meaning in a pattern escaped, "|" included.
std::string EscapeAll(std::string_view text);

// As EscapeAll, but "|" stays an alternation.
std::string EscapeKeepAlternation(std::string_view text);

}  // namespace zembrat::automation
