#include "automation/regex_object.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/regex_component_test_probe.h"
#include "text/codec.h"

namespace zembrat::automation {
namespace {
using namespace text::literals;
constexpr auto PatternWrites = platform::RegexComponentTestProbe::PatternWrites;

// The job's image-tag pattern.
constexpr const char* kImageTag = R"(<img .*?src=("|'|)([^"'<> ]+)("|'|).*?>)";

// A factory that hands out real components and keeps them for the test to look at.
struct KeptComponents {
    std::vector<std::shared_ptr<platform::RegexComponent>> made;
    RegexComponentFactory Factory() {
        return [this] {
            made.push_back(std::make_shared<platform::RegexComponent>());
            return ObjectHolder(made.back());
        };
    }
};

// A component kind that is no regular-expression component.
class OtherComponent : public platform::Component {};

TEST(PatternEscaping, EachHelperEscapesItsOwnSet) {
    EXPECT_EQ(WildcardToPattern("a\\b"), "a\\\\b");
    EXPECT_EQ(WildcardToPattern("a.b*c?d"), "a\\.b.*c.?d");
    EXPECT_EQ(WildcardToPattern("x|y"), "x|y");
    EXPECT_EQ(WildcardToPattern("*.txt|*.htm"), ".*\\.txt|.*\\.htm");
    EXPECT_EQ(WildcardToPattern("\\^$+.{}[]=()\"|*?"),
              "\\\\\\^\\$\\+\\.\\{\\}\\[\\]\\=\\(\\)\\\"|.*.?");
    EXPECT_EQ(EscapeAll("a|b"), "a\\|b");
    EXPECT_EQ(EscapeAll("a*?"), "a\\*\\?");
    EXPECT_EQ(EscapeAll("\\^$+.{}[]=()?*|\""),
              "\\\\\\^\\$\\+\\.\\{\\}\\[\\]\\=\\(\\)\\?\\*\\|\\\"");
    EXPECT_EQ(EscapeKeepAlternation("a|b"), "a|b");
    EXPECT_EQ(EscapeKeepAlternation("a*?|\"\\"), "a\\*\\?|\\\"\\\\");
    EXPECT_EQ(EscapeAll(""), "");
    // The wrappers offer the same helpers.
    EXPECT_EQ(PatternMatcher::EscapeAll("a|b"), "a\\|b");
    EXPECT_EQ(RegexObjectCp936::EscapeKeepAlternation("a*"), "a\\*");
    EXPECT_EQ(RegexObjectCp936::WildcardToPattern("*.txt"),
              PatternMatcher::WildcardToPattern("*.txt"));
}

TEST(PatternEscaping, TrailBytesOfTwoByteCharactersAreLeftAlone) {
    // 誠 乕 誡 調 諀 諁: their second bytes are \ [ ] { | }.
    const std::string trails = "\xD5\x5C\x81\x5B\xD5\x5D\xD5\x7B\xD5\x7C\xD5\x7D";
    EXPECT_EQ(WildcardToPattern(trails), trails);
    EXPECT_EQ(EscapeAll(trails), trails);
    EXPECT_EQ(EscapeKeepAlternation(trails), trails);
    // The same bytes as characters of their own are escaped.
    EXPECT_EQ(EscapeAll(trails + "\\|"), trails + "\\\\\\|");
    // And the escaped text matches itself literally, trail bytes and all.
    PatternMatcher matcher;
    const std::string name = "x" + trails + "(1).txt";
    matcher.SetPattern(EscapeAll(name));
    EXPECT_EQ(matcher.Execute("a" + name + "b"), 1);
    EXPECT_EQ(matcher.MatchText(1), name);
    EXPECT_EQ(matcher.Execute("x" + trails + "1.txt"), 0);
}

TEST(PatternEscaping, EscapedTextsMatchLiterally) {
    PatternMatcher matcher;
    matcher.SetPattern(EscapeAll("a+b(c)|d?"));
    EXPECT_EQ(matcher.Execute("a+b(c)|d? ab(c) d"), 1);
    EXPECT_EQ(matcher.MatchText(1), "a+b(c)|d?");
    matcher.SetPattern(EscapeKeepAlternation("a.b|c*"));
    EXPECT_EQ(matcher.Execute("axb a.b c c*"), 2);
    // Wildcards: "\=" and "\"" are accepted as those characters.
    matcher.SetPattern(WildcardToPattern("*a=\"b\"*"));
    EXPECT_EQ(matcher.Execute("<x a=\"b\">"), 1);
    EXPECT_EQ(matcher.MatchText(1), "<x a=\"b\">");
    // "?" is zero or one character, and nothing is anchored.
    matcher.SetPattern(WildcardToPattern("ab?d"));
    EXPECT_EQ(matcher.Execute("abd"), 1);
    EXPECT_EQ(matcher.Execute("xxabcdxx"), 1);
    EXPECT_EQ(matcher.Execute("abccd"), 0);
}

struct TagCase {
    const char* tag;
    std::optional<std::string> source;
};

TEST(ImageTagPattern, FindsTheSourceOfEachKindOfTag) {
    const std::vector<TagCase> cases = {
        {R"(<img src="http://a.com/1.jpg">)", "http://a.com/1.jpg"},
        {R"(<IMG SRC='http://a.com/2.GIF'>)", "http://a.com/2.GIF"},
        {R"(<img src=http://a.com/3.png>)", "http://a.com/3.png"},
        {R"(<img alt="x" width=3 src="/p/4.png" />)", "/p/4.png"},
        {R"(<img src="my pic.jpg">)", "my"},
        {R"(<img border=0 src=5.jpg alt='a b'>)", "5.jpg"},
        {R"(<img src = "6.jpg">)", std::nullopt},
        {R"(<img src= "7.jpg">)", std::nullopt},
        {"<img\nsrc=\"8.jpg\">", std::nullopt},
        {"<img\tsrc=\"9.jpg\">", std::nullopt},
        {"<img alt=\"\"\nsrc=\"10.jpg\">", std::nullopt},
        {R"(<img alt="no source">)", std::nullopt},
        {R"(<img src="">)", std::nullopt},
        {R"(<imgsrc="11.jpg">)", std::nullopt},
    };
    PatternMatcher matcher;
    ASSERT_TRUE(matcher.SetPattern(kImageTag));
    for (const TagCase& c : cases) {
        SCOPED_TRACE(c.tag);
        const std::string subject = std::string("text ") + c.tag + " more";
        if (c.source) {
            ASSERT_EQ(matcher.Execute(subject), 1);
            EXPECT_EQ(matcher.SubMatchText(1, 2), *c.source);
            EXPECT_EQ(matcher.MatchText(1), c.tag);
            EXPECT_EQ(matcher.FirstMatchGroupCount(), 3);
        } else {
            EXPECT_EQ(matcher.Execute(subject), 0);
            EXPECT_EQ(matcher.SubMatchText(1, 2), "");
        }
    }
}

TEST(ImageTagPattern, GroupsOfAChineseArticleAreTheExactBytes) {
    // Chinese text around and inside the tags, a four-byte GB18030 character and a byte that
    // is no GBK at all: the group texts are the article's own bytes.
    const std::string article = "前言：图片如下<img alt=\"说明\" src=\"图片/一.jpg\">"_gbk +
                                "\x81\x30\x81\x30\xFF" +
                                "中间\n<IMG SRC='http://例子.com/二.png' title='"_gbk + "\xFF" +
                                "'>结尾"_gbk + "<img src=http://a.com/三.gif>"_gbk;
    PatternMatcher matcher;
    matcher.SetPattern(kImageTag);
    ASSERT_EQ(matcher.Execute(article), 3);
    EXPECT_EQ(matcher.SubMatchText(1, 2), "图片/一.jpg"_gbk);
    EXPECT_EQ(matcher.SubMatchText(2, 2), "http://例子.com/二.png"_gbk);
    EXPECT_EQ(matcher.SubMatchText(3, 2), "http://a.com/三.gif"_gbk);
    EXPECT_EQ(matcher.SubMatchText(1, 1), "\"");
    EXPECT_EQ(matcher.SubMatchText(3, 1), "");
    EXPECT_EQ(matcher.MatchText(2), "<IMG SRC='http://例子.com/二.png' title='"_gbk + "\xFF'>");
    // Every source value is found in the article exactly as returned.
    for (int i = 1; i <= 3; ++i) {
        EXPECT_NE(article.find(matcher.SubMatchText(i, 2)), std::string::npos) << i;
    }

    // The article filter's object reports where the matches are, in bytes.
    RegexObjectCp936 located;
    ASSERT_TRUE(located.Create(kImageTag));
    ASSERT_EQ(located.Execute(article), 3);
    for (int i = 1; i <= 3; ++i) {
        std::int64_t at = 0;
        const std::string value = located.SubMatchTextAt(i, 2, at, true);
        EXPECT_EQ(article.compare(static_cast<std::size_t>(at), value.size(), value), 0) << i;
        std::int64_t tagAt = 0;
        const std::string tag = located.MatchTextAt(i, tagAt, true);
        EXPECT_EQ(article.compare(static_cast<std::size_t>(tagAt), tag.size(), tag), 0) << i;
    }
    std::int64_t at = 0;
    located.SubMatchTextAt(1, 2, at, true);
    EXPECT_EQ(at, static_cast<std::int64_t>(article.find("图片/一"_gbk)));
}

TEST(ImageTagPattern, LargeArticlesKeepEveryCharacterWhole) {
    // Long enough to be decoded in many pieces; four-byte GB18030 characters (81 30 81 30 is
    // U+0080), digits and bytes that are no GBK sit everywhere a piece could end.
    std::string article;
    std::vector<std::string> sources;
    for (int i = 0; article.size() < 400 * 1024; ++i) {
        sources.push_back("图"_gbk + std::to_string(i) + ".jpg");
        for (int k = 0; k < 16; ++k) article += "\x81\x30\x81\x30";
        article += "中文"_gbk + std::to_string(i % 7) + "\x81\x30\x81\x30";
        article += "<img src=\"" + sources.back() + "\">\xFF" + std::string(i % 5, 'a');
    }
    RegexObjectCp936 re;
    ASSERT_TRUE(re.Create(kImageTag));
    ASSERT_EQ(re.Execute(article), static_cast<int>(sources.size()));
    std::size_t searchFrom = 0;
    for (int i = 1; i <= re.MatchCount(); ++i) {
        std::int64_t at = 0;
        ASSERT_EQ(re.SubMatchTextAt(i, 2, at, true), sources[i - 1]);
        const std::size_t expected = article.find(sources[i - 1], searchFrom);
        ASSERT_EQ(at, static_cast<std::int64_t>(expected)) << i;
        searchFrom = expected;
    }
    RegexObject fourByte;
    fourByte.SetPattern("\\u0080");
    EXPECT_EQ(fourByte.Execute(article), 17 * static_cast<int>(sources.size()));
    EXPECT_EQ(fourByte.MatchText(7), "\x81\x30\x81\x30");
}

TEST(ImageTagPattern, GroupTextsAreTheSubMatchTextsWithNothingKept) {
    const std::string article = "前<img alt=\"说\" src=\"图/一.jpg\">"_gbk +
                                "\x81\x30\x81\x30\xFF" + "<IMG SRC=http://例.com/二.png>后"_gbk +
                                "<img src='a'>";
    PatternMatcher matcher;
    matcher.SetPattern(kImageTag);
    ASSERT_EQ(matcher.Execute(article), 3);
    std::vector<std::string> expected, quotes;
    for (int i = 1; i <= 3; ++i) expected.push_back(matcher.SubMatchText(i, 2));
    for (int i = 1; i <= 3; ++i) quotes.push_back(matcher.SubMatchText(i, 1));
    EXPECT_EQ(matcher.GroupTexts(article, 2), expected);
    EXPECT_EQ(matcher.MatchCount(), 0);  // the search is not kept
    EXPECT_EQ(matcher.SubMatchText(1, 2), "");
    EXPECT_EQ(matcher.GroupTexts(article, 1), quotes);
    EXPECT_EQ(matcher.GroupTexts(article, 0).at(2), "<img src='a'>");
    EXPECT_TRUE(matcher.GroupTexts("no tags here", 2).empty());
    // A group that takes no part gives an empty text.
    PatternMatcher optional;
    optional.SetPattern("a(x)?b");
    EXPECT_EQ(optional.GroupTexts("ab axb", 1), (std::vector<std::string>{"", "x"}));
}

TEST(RegexObjectCp936, ArticleFilterMatchesWithoutCaseAndWithoutAnchor) {
    RegexObjectCp936 filter;
    ASSERT_TRUE(filter.Create(WildcardToPattern("*.txt")));
    EXPECT_EQ(filter.GetPattern(), ".*\\.txt");
    EXPECT_EQ(filter.Execute("note.TXT"), 1);
    EXPECT_EQ(filter.Execute("note.txt.bak"), 1);
    EXPECT_EQ(filter.Execute("文章.txt"_gbk), 1);
    EXPECT_EQ(filter.MatchText(1), "文章.txt"_gbk);
    EXPECT_EQ(filter.Execute("note.htm"), 0);
    EXPECT_EQ(filter.Execute("notetxt"), 0);
    ASSERT_TRUE(filter.Create(WildcardToPattern("*.txt|*.htm")));
    EXPECT_EQ(filter.Execute("a.HTM"), 1);
    // A name whose characters have trail bytes that look like pattern characters.
    ASSERT_TRUE(filter.Create(WildcardToPattern("誠*.htm"_gbk)));
    EXPECT_EQ(filter.Execute("誠實.htm"_gbk), 1);
    EXPECT_EQ(filter.Execute("實.htm"_gbk), 0);
    // Flags given explicitly.
    ASSERT_TRUE(filter.Create(WildcardToPattern("*.txt"), false));
    EXPECT_EQ(filter.Execute("note.TXT"), 0);
}

TEST(RegexObjectCp936, BytePositionsAreThoseOfTheMatchItself) {
    RegexObjectCp936 re;
    // The same text occurs earlier, after two-byte characters: the position is the match's.
    ASSERT_TRUE(re.Create("ab"));
    const std::string subject = "中中中中abxab"_gbk;
    ASSERT_EQ(re.Execute(subject), 2);
    std::int64_t at = 99;
    EXPECT_EQ(re.MatchTextAt(2, at, true), "ab");
    EXPECT_EQ(at, 11);
    EXPECT_EQ(re.MatchTextAt(1, at, true), "ab");
    EXPECT_EQ(at, 8);

    ASSERT_TRUE(re.Create("x(ab)(q)?()"));
    ASSERT_EQ(re.Execute(subject), 1);
    EXPECT_EQ(re.SubMatchTextAt(1, 1, at, true), "ab");
    EXPECT_EQ(at, 11);
    EXPECT_EQ(re.SubMatchTextAt(1, 0, at, true), "xab");  // 0: the whole match
    EXPECT_EQ(at, 10);
    EXPECT_EQ(re.SubMatchTextAt(1, 3, at, true), "");  // matched nothing, at its place
    EXPECT_EQ(at, 13);
    EXPECT_EQ(re.SubMatchTextAt(1, 2, at, true), "");  // took no part
    EXPECT_EQ(at, -2);
    EXPECT_EQ(re.SubMatchTextAt(1, 4, at, true), "");
    EXPECT_EQ(at, -2);
    EXPECT_EQ(re.MatchTextAt(2, at, true), "");
    EXPECT_EQ(at, -2);
    // Without the flag the position is left as it was.
    at = 77;
    EXPECT_EQ(re.SubMatchTextAt(1, 1, at), "ab");
    EXPECT_EQ(at, 77);
    EXPECT_EQ(re.SubMatchText(1, 1), "ab");
    EXPECT_EQ(re.FirstMatchGroupCount(), 3);
}

TEST(RegexObjectCp936, ReplaceAndReplaceStripped) {
    RegexObjectCp936 re;
    ASSERT_TRUE(re.Create("(文)"_gbk));
    EXPECT_EQ(re.Replace("中文a文"_gbk, "[$1]"), "中[文]a[文]"_gbk);
    ASSERT_TRUE(re.Create("x"));
    // NUL characters are dropped; the characters around them are whole, also those whose
    // UTF-16 code has a zero byte (一 is U+4E00).
    const std::string nul(1, '\0');
    EXPECT_EQ(re.ReplaceStripped("a" + nul + "x" + "一"_gbk + "x", nul), "a一"_gbk);
    EXPECT_EQ(re.ReplaceStripped("a一"_gbk, "b"), "a一"_gbk);
    EXPECT_EQ(re.Replace("axb", nul), "a" + nul + "b");
    ASSERT_TRUE(re.Create("("));
    EXPECT_EQ(re.Replace("a(b", "x"), "");
    EXPECT_EQ(re.ReplaceStripped("a(b", "x"), "");
}

TEST(RegexObjectCp936, CreateMakesANewComponentEachTimeAndReleaseDropsIt) {
    KeptComponents kept;
    RegexObjectCp936 re(kept.Factory());
    EXPECT_EQ(re.Execute("a"), 0);  // nothing before Create
    EXPECT_EQ(re.GetPattern(), "");
    ASSERT_TRUE(re.Create("a"));
    ASSERT_TRUE(re.Create("b", false, false, false));
    ASSERT_EQ(kept.made.size(), 2u);
    EXPECT_FALSE(kept.made[1]->IgnoreCase());
    EXPECT_FALSE(kept.made[1]->Global());
    EXPECT_TRUE(kept.made[0]->IgnoreCase());
    EXPECT_TRUE(kept.made[0]->Multiline());
    EXPECT_EQ(PatternWrites(*kept.made[1]), 1u);
    EXPECT_EQ(re.Execute("bbB"), 1);
    re.Release();
    EXPECT_EQ(kept.made[1].use_count(), 1);  // the wrapper let go of it
    EXPECT_EQ(re.MatchCount(), 0);
    EXPECT_EQ(re.MatchText(1), "");
    EXPECT_EQ(re.Execute("b"), 0);
    EXPECT_EQ(re.GetPattern(), "");
}

TEST(RegexObject, SetPatternReachesTheComponentOnlyWhenSomethingChanged) {
    KeptComponents kept;
    PatternMatcher matcher(kept.Factory());
    ASSERT_EQ(kept.made.size(), 1u);
    const platform::RegexComponent& component = *kept.made[0];

    EXPECT_TRUE(matcher.SetPattern("a+"));
    EXPECT_TRUE(matcher.SetPattern("a+"));
    EXPECT_EQ(PatternWrites(component), 1u);
    EXPECT_TRUE(component.IgnoreCase());
    EXPECT_TRUE(component.Multiline());
    EXPECT_TRUE(component.Global());
    EXPECT_EQ(matcher.Execute("aA b a"), 2);

    // Other flags with the same pattern: sent again.
    EXPECT_TRUE(matcher.SetPattern("a+", false, true, false));
    EXPECT_EQ(PatternWrites(component), 2u);
    EXPECT_FALSE(component.IgnoreCase());
    EXPECT_FALSE(component.Global());
    EXPECT_EQ(matcher.Execute("Aa a"), 1);
    EXPECT_EQ(matcher.MatchText(1), "a");

    // An empty pattern keeps the old one and changes only the flags.
    EXPECT_TRUE(matcher.SetPattern(""));
    EXPECT_EQ(PatternWrites(component), 2u);
    EXPECT_EQ(matcher.GetPattern(), "a+");
    EXPECT_EQ(matcher.Execute("Aa a"), 2);
    EXPECT_EQ(matcher.MatchText(1), "Aa");
    EXPECT_TRUE(matcher.SetPattern(""));  // again: the flags, still no pattern
    EXPECT_EQ(PatternWrites(component), 2u);
    EXPECT_EQ(matcher.Execute("Aa a"), 2);

    // A fresh object: an empty pattern with all flags on sends the flags but no pattern.
    KeptComponents other;
    PatternMatcher fresh(other.Factory());
    EXPECT_TRUE(fresh.SetPattern(""));
    EXPECT_EQ(PatternWrites(*other.made[0]), 0u);
    EXPECT_TRUE(other.made[0]->Global());
    EXPECT_EQ(fresh.GetPattern(), "");
}

TEST(RegexObject, FlagsReadTheOtherWayRound) {
    RegexObject re;
    EXPECT_EQ(re.SetPatternAndExecute("ab", "AB ab ab"), 3);        // flags omitted: all on
    EXPECT_EQ(re.SetPatternAndExecute("ab", "AB ab ab", true), 2);  // case-sensitive
    EXPECT_EQ(re.SetPatternAndExecute("ab", "AB ab ab", true, false, true), 1);  // first only
    EXPECT_EQ(re.MatchText(1), "ab");
    EXPECT_EQ(re.SetPatternAndExecute("^b", "a\nb", false, true), 0);  // single-line
    EXPECT_EQ(re.SetPatternAndExecute("^b", "a\nb", false, false), 1);
    EXPECT_TRUE(re.Test("a\nb"));
    EXPECT_FALSE(re.Test("a b"));
    EXPECT_EQ(re.GetPattern(), "^b");
    // Replace with a new pattern sets it first.
    EXPECT_EQ(re.Replace("中文中文"_gbk, "<$&>", "文"_gbk), "中<文>中<文>"_gbk);
    EXPECT_EQ(re.GetPattern(), "文"_gbk);
    EXPECT_EQ(re.Replace("中文中文"_gbk, "-", "文"_gbk, false, false, true), "中-中文"_gbk);
    EXPECT_EQ(re.Replace("中文中文"_gbk, "+"), "中+中文"_gbk);
}

TEST(RegexObject, MatchNumbersOutOfRangeGiveEmptyResults) {
    RegexObject re;
    EXPECT_EQ(re.MatchCount(), 0);  // before any Execute
    EXPECT_EQ(re.MatchText(1), "");
    EXPECT_EQ(re.FirstMatchGroupCount(), 0);
    re.SetPattern("(a)(b)?(c*)");
    ASSERT_EQ(re.Execute("xa ab"), 2);
    EXPECT_EQ(re.MatchText(1), "a");
    EXPECT_EQ(re.MatchText(2, 0), "ab");
    EXPECT_EQ(re.MatchText(2, -5), "ab");  // below 1: the whole match
    EXPECT_EQ(re.SubMatchText(2, 2), "b");
    EXPECT_EQ(re.MatchText(0), "");
    EXPECT_EQ(re.MatchText(-1), "");
    EXPECT_EQ(re.MatchText(3), "");
    EXPECT_EQ(re.SubMatchText(1, 4), "");
    EXPECT_EQ(re.SubMatchText(3, 1), "");
    EXPECT_EQ(re.FirstMatchGroupCount(), 3);
    // The raw values: a group that took no part is empty, one that matched nothing a text.
    EXPECT_EQ(re.MatchValue(1, 2).kind(), VariantKind::Empty);
    EXPECT_EQ(re.MatchValue(1, 3), VariantValue::Text(""));
    EXPECT_EQ(re.MatchValue(1, 1), VariantValue::Text("a"));
    EXPECT_EQ(re.MatchValue(9, 1).kind(), VariantKind::Empty);
    EXPECT_EQ(re.MatchLength(3, 0), 0);
    EXPECT_EQ(re.MatchByteLength(1, 9), 0);
    // Nothing found: the group count of the first match is 0.
    EXPECT_EQ(re.Execute("zzz"), 0);
    EXPECT_EQ(re.FirstMatchGroupCount(), 0);
    EXPECT_EQ(re.MatchText(1), "");
}

TEST(RegexObject, LengthsInUnitsAndInBytes) {
    RegexObject re;
    re.SetPattern("x(图片)(y*)"_gbk);
    ASSERT_EQ(re.Execute("中x图片yy"_gbk), 1);
    EXPECT_EQ(re.MatchLength(1, 1), 2);
    EXPECT_EQ(re.MatchByteLength(1, 1), 4);
    EXPECT_EQ(re.MatchLength(1, 2), 2);
    EXPECT_EQ(re.MatchByteLength(1, 2), 2);
    EXPECT_EQ(re.MatchLength(1, 0), 5);
    EXPECT_EQ(re.MatchByteLength(1, 0), 7);  // the whole match in bytes too
}

TEST(RegexObject, InvalidAndRunawayPatternsFindNothing) {
    PatternMatcher matcher;
    matcher.SetPattern("(a)");
    ASSERT_EQ(matcher.Execute("a"), 1);
    EXPECT_TRUE(matcher.SetPattern("(a"));
    EXPECT_EQ(matcher.GetPattern(), "(a");
    EXPECT_EQ(matcher.Execute("a (a"), 0);
    EXPECT_EQ(matcher.MatchCount(), 0);  // the earlier matches are gone
    EXPECT_EQ(matcher.MatchText(1), "");
    EXPECT_EQ(matcher.Replace("a (a", "b"), "");
    // A subject that makes the pattern backtrack without end.
    matcher.SetPattern("(x+x+)+y");
    EXPECT_EQ(matcher.Execute(std::string(40, 'x') + "中y"_gbk), 0);
    EXPECT_EQ(matcher.Execute("xxy"), 1);
}

TEST(RegexObject, WrapperWithoutComponentAnswersEmpty) {
    int attempts = 0;
    const RegexComponentFactory failing = [&attempts] {
        ++attempts;
        return ObjectHolder();
    };
    PatternMatcher matcher(failing);
    EXPECT_EQ(attempts, 2);  // creation is tried twice
    EXPECT_FALSE(matcher.HasComponent());
    EXPECT_FALSE(matcher.SetPattern(kImageTag));
    EXPECT_EQ(matcher.GetPattern(), "");
    EXPECT_EQ(matcher.Execute("<img src=\"a.jpg\">"), 0);
    EXPECT_EQ(matcher.MatchCount(), 0);
    EXPECT_EQ(matcher.MatchText(1), "");
    EXPECT_EQ(matcher.SubMatchText(1, 2), "");
    EXPECT_EQ(matcher.FirstMatchGroupCount(), 0);
    EXPECT_EQ(matcher.Replace("abc", "x"), "");

    RegexObject re(failing);
    EXPECT_EQ(re.SetPatternAndExecute("a", "a"), 0);
    EXPECT_FALSE(re.Test("a"));
    EXPECT_EQ(re.MatchValue(1, 0).kind(), VariantKind::Empty);
    EXPECT_EQ(re.Replace("a", "b", "a"), "");
    EXPECT_EQ(re.MatchLength(1, 0), 0);

    RegexObjectCp936 filter(failing);
    EXPECT_FALSE(filter.Create("a"));
    EXPECT_EQ(filter.Execute("a"), 0);
    EXPECT_EQ(filter.GetPattern(), "");
    EXPECT_EQ(filter.Replace("a", "b"), "");
    std::int64_t at = 5;
    EXPECT_EQ(filter.MatchTextAt(1, at, true), "");
    EXPECT_EQ(at, -2);

    // A factory that gives another kind of component counts as failing.
    PatternMatcher wrongKind([] { return ObjectHolder::Make<OtherComponent>(); });
    EXPECT_FALSE(wrongKind.HasComponent());
    EXPECT_EQ(wrongKind.Execute("a"), 0);

    // The second attempt may succeed.
    KeptComponents kept;
    int calls = 0;
    PatternMatcher second([&] { return ++calls == 1 ? ObjectHolder() : kept.Factory()(); });
    EXPECT_EQ(calls, 2);
    ASSERT_TRUE(second.SetPattern("a"));
    EXPECT_EQ(second.Execute("aa"), 2);
}

}  // namespace
}  // namespace zembrat::automation
