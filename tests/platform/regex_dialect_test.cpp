#include "platform/regex_dialect.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace zembrat::platform {
namespace {

struct Row {
    std::u16string pattern;
    bool multiline;
    std::optional<std::u16string> pcre2;  // nullopt: a syntax error of the dialect
};

TEST(RegexDialect, TranslatesPatternsToPcre2OrRefusesThem) {
    const Row rows[] = {
        // Letters and digits as they are, every other character as \x{...}.
        {u"ab1", false, u"ab1"},
        {u"a#[:", false, std::nullopt},
        {u"a#b", false, u"a\\x{23}b"},
        {u"\u6587", false, u"\\x{6587}"},
        {u"\U0001F600", false, u"\\x{1f600}"},  // a surrogate pair is one character
        // The ends: of the subject, or of lines ending at "\n" or "\r" with Multiline.
        {u"^a$", false, u"\\Aa\\z"},
        {u"^a$", true, u"(?<![^\\n\\r])a(?![^\\n\\r])"},
        {u".", false, u"."},
        // Escapes PCRE2 would read otherwise.
        {u"\\v", false, u"\\x{b}"},
        {u"\\Z\\A\\Q", false, u"ZAQ"},
        {u"\\x41\\u0042", false, u"AB"},
        {u"\\d\\b", false, u"\\d\\b"},
        // Quantifiers: lazy forms pass, a second quantifier is an error.
        {u"a*?b{2,}", false, u"a*?b{2,}"},
        {u"a*+", false, std::nullopt},
        {u"a**", false, std::nullopt},
        {u"*a", false, std::nullopt},
        {u"a{x}", false, u"a\\x{7b}x\\x{7d}"},  // not a quantifier: the characters
        {u"a{3,2}", false, std::nullopt},
        // Groups: the dialect's three kinds only, balanced.
        {u"(a)(?:b)(?=c)(?!d)", false, u"(a)(?:b)(?=c)(?!d)"},
        {u"(?<=a)b", false, std::nullopt},
        {u"(a", false, std::nullopt},
        {u"a)", false, std::nullopt},
        {u"a\\", false, std::nullopt},
    };
    for (const Row& row : rows) {
        const std::string shown(row.pattern.begin(), row.pattern.end());
        EXPECT_EQ(TranslatePattern(row.pattern, row.multiline), row.pcre2)
            << "pattern " << shown << (row.multiline ? " (multiline)" : "");
    }
}

}  // namespace
}  // namespace zembrat::platform
