#include "platform/regex_component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/regex_component_test_probe.h"

namespace zembrat::platform {
namespace {

using Texts = std::vector<std::u16string>;
constexpr auto PatternWrites = RegexComponentTestProbe::PatternWrites;

struct Flags {
    bool ignoreCase = false;
    bool multiline = false;
    bool global = true;
};

std::unique_ptr<RegexComponent> Make(std::u16string pattern, Flags flags = {}) {
    auto re = std::make_unique<RegexComponent>();
    re->SetIgnoreCase(flags.ignoreCase);
    re->SetMultiline(flags.multiline);
    re->SetGlobal(flags.global);
    re->SetPattern(std::move(pattern));
    return re;
}

// The match values of one Execute; {"<failed>"} when Execute failed.
Texts Values(std::u16string pattern, std::u16string subject, Flags flags = {}) {
    RegexComponent re;
    re.SetIgnoreCase(flags.ignoreCase);
    re.SetMultiline(flags.multiline);
    re.SetGlobal(flags.global);
    re.SetPattern(std::move(pattern));
    const auto matches = re.Execute(std::move(subject));
    if (!matches) return {u"<failed>"};
    Texts out;
    for (std::size_t i = 0; i < matches->Count(); ++i) out.push_back(matches->Item(i)->Value());
    return out;
}

std::vector<std::size_t> Indexes(std::u16string pattern, std::u16string subject, Flags flags = {}) {
    RegexComponent re;
    re.SetMultiline(flags.multiline);
    re.SetGlobal(flags.global);
    re.SetPattern(std::move(pattern));
    const auto matches = re.Execute(std::move(subject));
    std::vector<std::size_t> out;
    if (!matches) return out;
    for (std::size_t i = 0; i < matches->Count(); ++i)
        out.push_back(matches->Item(i)->FirstIndex());
    return out;
}

std::u16string Replaced(std::u16string pattern, std::u16string subject, std::u16string replacement,
                        Flags flags = {}) {
    RegexComponent re;
    re.SetIgnoreCase(flags.ignoreCase);
    re.SetMultiline(flags.multiline);
    re.SetGlobal(flags.global);
    re.SetPattern(std::move(pattern));
    return re.Replace(subject, replacement).value_or(u"<failed>");
}

TEST(RegexComponent, MatchesCarryTheirPositionsAndGroups) {
    const auto reOwner = Make(u"(\\d+)-(x)?(y*)");
    RegexComponent& re = *reOwner;
    const auto matches = re.Execute(u"ab12-y 7-x");
    ASSERT_TRUE(matches);
    ASSERT_EQ(matches->Count(), 2u);
    EXPECT_FALSE(matches->Item(2));

    const RegexMatch first = *matches->Item(0);
    EXPECT_EQ(first.Value(), u"12-y");
    EXPECT_EQ(first.FirstIndex(), 2u);
    EXPECT_EQ(first.Length(), 4u);
    const RegexSubMatches groups = first.SubMatches();
    ASSERT_EQ(groups.Count(), 3u);
    EXPECT_EQ(groups.Item(0), u"12");
    EXPECT_EQ(groups.Item(1), std::nullopt);  // took no part: the empty value
    EXPECT_EQ(groups.Item(2), u"y");
    EXPECT_EQ(groups.Item(3), std::nullopt);  // no such group
    EXPECT_FALSE(groups.Span(1).matched());
    EXPECT_EQ(groups.Span(2).begin, 5u);
    EXPECT_EQ(groups.Span(2).end, 6u);

    const RegexMatch second = *matches->Item(1);
    EXPECT_EQ(second.Value(), u"7-x");
    EXPECT_EQ(second.FirstIndex(), 7u);
    EXPECT_EQ(second.SubMatches().Item(1), u"x");
    EXPECT_EQ(second.SubMatches().Item(2), u"");  // took part, matched nothing

    // Without Global only the first match is collected.
    re.SetGlobal(false);
    EXPECT_EQ(re.Execute(u"ab12-y 7-x")->Count(), 1u);

    // The collection owns its subject: it stays readable when the component moves on.
    re.SetPattern(u"q");
    EXPECT_EQ(second.Value(), u"7-x");
    EXPECT_EQ(matches->Subject(), u"ab12-y 7-x");
}

TEST(RegexComponent, DialectOfTheScriptingComponent) {
    // "." is anything but a line feed; a carriage return is a character like any other.
    EXPECT_EQ(Values(u"a.b", u"a\nb a\rb a\tb"), (Texts{u"a\rb", u"a\tb"}));
    // "[^]" is any character at all, "[]" none.
    EXPECT_EQ(Values(u"a[^]b", u"a\nb"), (Texts{u"a\nb"}));
    EXPECT_EQ(Values(u"a[]b", u"ab a]b"), Texts{});
    // Lazy quantifiers take as little as they can.
    EXPECT_EQ(Values(u"<.*?>", u"<a><bc>"), (Texts{u"<a>", u"<bc>"}));
    EXPECT_EQ(Values(u"<.*>", u"<a><bc>"), (Texts{u"<a><bc>"}));
    EXPECT_EQ(Values(u"x{2,3}?", u"xxxxx"), (Texts{u"xx", u"xx"}));
    EXPECT_EQ(Values(u"x+?", u"xx"), (Texts{u"x", u"x"}));
    // Empty alternatives inside groups.
    EXPECT_EQ(Values(u"=(\"|'|)v", u"=\"v ='v =v"), (Texts{u"=\"v", u"='v", u"=v"}));
    EXPECT_EQ(Values(u"a(|b)c", u"ac abc"), (Texts{u"ac", u"abc"}));
    // A "{" that is no quantifier is a character; so are lone "}" and "]".
    EXPECT_EQ(Values(u"a{,2}", u"a{,2}"), (Texts{u"a{,2}"}));
    EXPECT_EQ(Values(u"{x}]", u"{x}]"), (Texts{u"{x}]"}));
    EXPECT_EQ(Values(u"a{2}", u"aaa"), (Texts{u"aa"}));
    EXPECT_EQ(Values(u"a{2,}", u"aaaaa"), (Texts{u"aaaaa"}));
    // A quantified lookahead is accepted.
    EXPECT_EQ(Values(u"(?=a)*a", u"a"), (Texts{u"a"}));
    EXPECT_EQ(Values(u"a(?!b)", u"ab ac"), (Texts{u"a"}));
    // \d \w \s \b are ASCII; \s has the vertical tab and form feed.
    EXPECT_EQ(Values(u"\\w+", u"ab_1 \u00e9t\u00e9"), (Texts{u"ab_1", u"t"}));
    EXPECT_EQ(Values(u"\\d", u"1\uff12"), (Texts{u"1"}));
    EXPECT_EQ(Values(u"a\\sb", u"a\vb a\fb a\u3000b"), (Texts{u"a\vb", u"a\fb"}));
    EXPECT_EQ(Values(u"\\bx\\B", u"xy x"), (Texts{u"x"}));
}

TEST(RegexComponent, EscapesMeanWhatTheyMeanInTheDialect) {
    // Identity escapes: a character that has no escape meaning stands for itself.
    EXPECT_EQ(Values(u"\\=\\\"\\/\\'\\<", u"=\"/'<"), (Texts{u"=\"/'<"}));
    // Letters PCRE2 would read as assertions or classes are letters here.
    EXPECT_EQ(Values(u"\\A\\Z\\z\\G\\h\\K\\e\\a\\p\\N\\R\\X", u"AZzGhKeapNRX"),
              (Texts{u"AZzGhKeapNRX"}));
    EXPECT_EQ(Values(u"a\\Q.\\E", u"aQ.E aQxE"), (Texts{u"aQ.E", u"aQxE"}));
    // \v is the vertical tab, not a class of vertical space.
    EXPECT_EQ(Values(u"\\v", u"\n\v\r"), (Texts{u"\v"}));
    // \x takes exactly two hex digits and \u exactly four; otherwise the letter itself.
    EXPECT_EQ(Values(u"\\x41\\u0042\\x4", u"ABx4"), (Texts{u"ABx4"}));
    EXPECT_EQ(Values(u"\\u00", u"u00"), (Texts{u"u00"}));
    EXPECT_EQ(Values(u"\\u4E2D", u"\u4e2d"), (Texts{u"\u4e2d"}));
    EXPECT_EQ(Values(u"\\uD83D\\uDE00", u"\U0001F600"), (Texts{u"\U0001F600"}));
    // Control letters; "\c" without a letter is a backslash.
    EXPECT_EQ(Values(u"\\cJ\\cm", u"\n\r"), (Texts{u"\n\r"}));
    EXPECT_EQ(Values(u"\\c1", u"\\c1"), (Texts{u"\\c1"}));
    // "[[:alpha:]]" is a class of "[", ":", "a" ... followed by "]".
    EXPECT_EQ(Values(u"[[:alpha:]]", u"x p]"), (Texts{u"p]"}));
    EXPECT_EQ(Values(u"[\\]\\-a]+", u"x]-a"), (Texts{u"]-a"}));
    EXPECT_EQ(Values(u"[\\b]", u"b\b"), (Texts{u"\b"}));
    EXPECT_EQ(Values(u"[\\d-z]+", u"1-z"), (Texts{u"1-z"}));  // a set at a range end
    EXPECT_EQ(Values(u"[^a-c\\s]+", u"abxy cz"), (Texts{u"xy", u"z"}));
    // Back-references; one to a group that has not matched is empty.
    EXPECT_EQ(Values(u"(a)\\1", u"aa a"), (Texts{u"aa"}));
    EXPECT_EQ(Values(u"\\1(b)", u"b"), (Texts{u"b"}));
    EXPECT_EQ(Values(u"(x)|y\\1", u"y"), (Texts{u"y"}));
    // A number beyond the groups is octal, "\8" and "\9" are digits.
    EXPECT_EQ(Values(u"\\101\\0", std::u16string(u"A\0", 2)), (Texts{std::u16string(u"A\0", 2)}));
    EXPECT_EQ(Values(u"(a)\\2", u"a\u0002"), (Texts{u"a\u0002"}));
    EXPECT_EQ(Values(u"\\8\\9", u"89"), (Texts{u"89"}));
    EXPECT_EQ(Values(u"[\\1]", u"1\u0001"), (Texts{u"\u0001"}));
    // Characters PCRE2 treats specially in some modes are plain.
    EXPECT_EQ(Values(u"a#b c", u"a#b c"), (Texts{u"a#b c"}));
}

TEST(RegexComponent, AnchorsFollowTheMultilineFlag) {
    const Flags single{false, false, true};
    const Flags multi{false, true, true};
    // Without Multiline "^" is the start of the subject only, also for the later searches of
    // a global Execute, and "$" the very end (not before a final line feed).
    EXPECT_EQ(Indexes(u"^a", u"aaa", single), (std::vector<std::size_t>{0}));
    EXPECT_EQ(Values(u"a$", u"a\n", single), Texts{});
    EXPECT_EQ(Values(u"a$", u"ba", single), (Texts{u"a"}));
    EXPECT_EQ(Indexes(u"^\\w", u"ab\ncd\re\r\nf", single), (std::vector<std::size_t>{0}));
    // With Multiline they also match at line ends, "\n" and "\r" alike.
    EXPECT_EQ(Indexes(u"^\\w", u"ab\ncd\re\r\nf", multi), (std::vector<std::size_t>{0, 3, 6, 9}));
    EXPECT_EQ(Indexes(u"\\w$", u"ab\ncd\re\r\nf", multi), (std::vector<std::size_t>{1, 4, 6, 9}));
    EXPECT_EQ(Indexes(u"^$", u"a\n\nb", multi), (std::vector<std::size_t>{2}));
    // A flag change takes effect at the next search.
    const auto reOwner = Make(u"^b", single);
    RegexComponent& re = *reOwner;
    EXPECT_EQ(re.Execute(u"a\nb")->Count(), 0u);
    re.SetMultiline(true);
    EXPECT_EQ(re.Execute(u"a\nb")->Count(), 1u);
}

TEST(RegexComponent, IgnoreCaseFoldsLettersOfEveryScript) {
    const Flags nocase{true, false, true};
    EXPECT_EQ(Values(u"<IMG src", u"<img SRC <Img Src", nocase).size(), 2u);
    EXPECT_EQ(Values(u"<IMG src", u"<img SRC", Flags{}), Texts{});
    EXPECT_EQ(Values(u"\u00c9t\u00c9", u"\u00e9T\u00e9", nocase), (Texts{u"\u00e9T\u00e9"}));
    EXPECT_EQ(Values(u"\uff21", u"\uff41", nocase), (Texts{u"\uff41"}));  // full-width A / a
    EXPECT_EQ(Values(u"[a-c]+", u"ABCD", nocase), (Texts{u"ABC"}));
    EXPECT_EQ(Values(u"(a)\\1", u"aA", nocase), (Texts{u"aA"}));
    // Chinese text is untouched by case.
    EXPECT_EQ(Values(u"\u4e2d\u6587", u"\u4e2d\u6587", nocase), (Texts{u"\u4e2d\u6587"}));
}

TEST(RegexComponent, EmptyMatchesAdvanceOneCharacter) {
    EXPECT_EQ(Indexes(u"x*", u"abc"), (std::vector<std::size_t>{0, 1, 2, 3}));
    // After an empty match the next search starts one character on, where it may find a
    // longer match.
    EXPECT_EQ(Values(u"b*", u"abb"), (Texts{u"", u"bb", u""}));
    // A surrogate pair is one character: no search starts inside it.
    EXPECT_EQ(Indexes(u"", u"a\U0001F600b"), (std::vector<std::size_t>{0, 1, 3, 4}));
    EXPECT_EQ(Replaced(u"x*", u"abc", u"-"), u"-a-b-c-");
    EXPECT_EQ(Replaced(u"", u"\U0001F600", u"-"), u"-\U0001F600-");
    // A pattern never set is the empty pattern.
    RegexComponent fresh;
    EXPECT_EQ(fresh.Execute(u"ab")->Count(), 1u);  // Global is off at first
    EXPECT_TRUE(fresh.Test(u""));
}

TEST(RegexComponent, ReplacementSyntax) {
    EXPECT_EQ(Replaced(u"(a)(b)?", u"xaby a", u"[$2$1]"), u"x[ba]y [a]");
    EXPECT_EQ(Replaced(u"b", u"abc", u"<$`|$&|$'>"), u"a<a|b|c>c");
    EXPECT_EQ(Replaced(u"b", u"abc", u"$$&"), u"a$&c");
    // $0, a group beyond the count, a "$" at the end or before another character: as written.
    EXPECT_EQ(Replaced(u"(b)", u"abc", u"$0$2$x$"), u"a$0$2$x$c");
    // Two digits when that group exists, else one digit and a literal digit.
    EXPECT_EQ(Replaced(u"(b)", u"abc", u"$10$01"), u"ab0bc");
    EXPECT_EQ(Replaced(u"(1)(2)(3)(4)(5)(6)(7)(8)(9)(10)", u"12345678910", u"$10-$11"), u"10-11");
    // Without Global only the first match is replaced.
    EXPECT_EQ(Replaced(u"o", u"foo", u"0", Flags{false, false, false}), u"f0o");
    EXPECT_EQ(Replaced(u"O", u"foo", u"0", Flags{true, false, true}), u"f00");
    EXPECT_EQ(Replaced(u"z", u"foo", u"0"), u"foo");
    // Texts beyond ASCII and NUL characters pass through.
    EXPECT_EQ(Replaced(u"\u6587", std::u16string(u"\u4e2d\u6587\0", 3), u"[$&]"),
              std::u16string(u"\u4e2d[\u6587]\0", 5));
}

TEST(RegexComponent, InvalidPatternsGiveNoMatches) {
    const Texts invalid = {u"(",      u")",       u"a)",       u"a**",     u"*a", u"+",
                           u"a{2,1}", u"{2}",     u"[b-a]",    u"[a",      u"\\", u"a*+",
                           u"a??+",   u"(?<=a)b", u"(?i)a",    u"(?<n>a)", u"(?", u"^*",
                           u"\\b+",   u"a|*",     u"x{70000}", u"\\uD800"};
    for (const std::u16string& pattern : invalid) {
        const auto reOwner = Make(pattern);
        RegexComponent& re = *reOwner;
        EXPECT_EQ(re.Execute(u"a ab (a) [a] *"), nullptr)
            << std::string(pattern.begin(), pattern.end());
        EXPECT_EQ(re.Replace(u"a", u"b"), std::nullopt);
        EXPECT_FALSE(re.Test(u"a"));
        EXPECT_EQ(re.Pattern(), pattern);
        // The component recovers with the next good pattern.
        re.SetPattern(u"a");
        ASSERT_TRUE(re.Execute(u"a"));
        EXPECT_EQ(re.Execute(u"a")->Count(), 1u);
    }
    // The limits of the dialect that PCRE2 cannot hold are kept apart from errors.
    EXPECT_EQ(Values(u"x{1,70000}", u"xxx"), (Texts{u"xxx"}));
}

TEST(RegexComponent, RunawayBacktrackingFailsInsteadOfHanging) {
    // Exponential backtracking: forty x's, then a character that spoils every way.
    const auto reOwner = Make(u"(x+x+)+y");
    RegexComponent& re = *reOwner;
    const std::u16string subject = std::u16string(40, u'x') + u"z y";
    EXPECT_EQ(re.Execute(subject), nullptr);
    EXPECT_TRUE(re.LastSearchHitLimit());
    EXPECT_FALSE(re.Test(subject));
    EXPECT_TRUE(re.LastSearchHitLimit());
    EXPECT_EQ(re.Replace(subject, u"-"), std::nullopt);
    EXPECT_TRUE(re.LastSearchHitLimit());
    // The same component goes on working.
    ASSERT_TRUE(re.Execute(u"xxy"));
    EXPECT_FALSE(re.LastSearchHitLimit());
    EXPECT_EQ(re.Execute(u"xxy")->Count(), 1u);
    EXPECT_FALSE(re.Test(u"xxz"));
    EXPECT_FALSE(re.LastSearchHitLimit());
    // An invalid pattern fails for what it is, not for a limit.
    re.SetPattern(u"(");
    EXPECT_EQ(re.Execute(u"x"), nullptr);
    EXPECT_FALSE(re.LastSearchHitLimit());

    // A long but honest subject is matched, not cut off by the limits.
    const auto deepOwner = Make(u"(?:a|b)*c");
    RegexComponent& deep = *deepOwner;
    std::u16string ab;
    for (int i = 0; i < 200000; ++i) ab += u"ab";
    const auto matches = deep.Execute(ab + u"c");
    ASSERT_TRUE(matches);
    ASSERT_EQ(matches->Count(), 1u);
    EXPECT_EQ(matches->Item(0)->Length(), ab.size() + 1);
}

// The image-tag pattern on one line of units: an "<img" without a source at its start, the
// tags that follow at its end and on the next line are all found.
void ExpectTagsFoundOnOneLongLine(std::size_t units) {
    const auto reOwner = Make(uR"(<img .*?src=("|'|)([^"'<> ]+)("|'|).*?>)", {true, true, true});
    RegexComponent& re = *reOwner;
    std::u16string subject = u"<img alt=x>";
    subject.append(units, u'\x6587');
    subject += u"<img src=\"http://a.com/1.jpg\"><img alt=y>";
    subject.append(units, u'a');
    subject += u"\n<IMG SRC='http://a.com/2.jpg'>";
    const auto matches = re.Execute(std::move(subject));
    ASSERT_TRUE(matches);
    EXPECT_FALSE(re.LastSearchHitLimit());
    ASSERT_EQ(matches->Count(), 2u);
    EXPECT_EQ(matches->Item(0)->SubMatches().Item(1), u"http://a.com/1.jpg");
    EXPECT_EQ(matches->Item(1)->SubMatches().Item(1), u"http://a.com/2.jpg");
}

TEST(RegexComponent, LongLinesAreSearchedWhole) {
    ExpectTagsFoundOnOneLongLine(std::size_t{6} << 20);
}

TEST(RegexComponent, LinesOfFiftyMegabytesAreSearchedWhole) {
    ExpectTagsFoundOnOneLongLine(std::size_t{25} << 20);
}

TEST(RegexComponent, InvalidSurrogatesInTheSubjectAreNoObstacle) {
    std::u16string subject = u"a";
    subject += static_cast<char16_t>(0xD800);
    subject += u"b.";
    EXPECT_EQ(Values(u"[a-z]", subject), (Texts{u"a", u"b"}));
    // A lone surrogate matches nothing, not even ".".
    EXPECT_EQ(Values(u"a.b", subject), Texts{});
}

TEST(RegexComponent, MembersReadBackAndPatternWritesAreCounted) {
    RegexComponent re;
    EXPECT_EQ(re.Pattern(), u"");
    EXPECT_FALSE(re.IgnoreCase());
    EXPECT_FALSE(re.Multiline());
    EXPECT_FALSE(re.Global());
    EXPECT_EQ(PatternWrites(re), 0u);
    re.SetPattern(u"a");
    re.SetPattern(u"a");
    re.SetIgnoreCase(true);
    re.SetMultiline(true);
    re.SetGlobal(true);
    EXPECT_EQ(PatternWrites(re), 2u);  // every write counts, flags do not
    EXPECT_EQ(re.Pattern(), u"a");
    EXPECT_TRUE(re.IgnoreCase());
    EXPECT_TRUE(re.Multiline());
    EXPECT_TRUE(re.Global());
    EXPECT_EQ(re.Execute(u"aA")->Count(), 2u);
}

}  // namespace
}  // namespace zembrat::platform
