#include "automation/regex_escape.h"

#include <initializer_list>

#include "text/gbk.h"

namespace zembrat::automation {
namespace {

// The backslash comes first, so the backslashes that the later characters get are not
// doubled again. ReplaceAll steps over two-byte characters.
std::string EscapeEach(std::string_view text, std::initializer_list<std::string_view> set) {
    std::string out(text);
    for (std::string_view c : set) {
        std::string escaped = "\\";
        escaped += c;
        out = text::ReplaceAll(out, c, escaped);
    }
    return out;
}

}  // namespace

std::string WildcardToPattern(std::string_view wildcards) {
    std::string out =
        EscapeEach(wildcards, {"\\", "^", "$", "+", ".", "{", "}", "[", "]", "=", "(", ")", "\""});
    out = text::ReplaceAll(out, "*", ".*");
    return text::ReplaceAll(out, "?", ".?");
}

std::string EscapeAll(std::string_view text) {
    return EscapeEach(
        text, {"\\", "^", "$", "+", ".", "{", "}", "[", "]", "=", "(", ")", "?", "*", "|", "\""});
}

std::string EscapeKeepAlternation(std::string_view text) {
    return EscapeEach(
        text, {"\\", "^", "$", "+", ".", "{", "}", "[", "]", "=", "(", ")", "?", "*", "\""});
}

}  // namespace zembrat::automation
