#include "text/markers.h"

#include <gtest/gtest.h>

namespace zembrat::text {
namespace {

TEST(TextBetweenMarkers, DelimitersAndEmptyEnds) {
    EXPECT_EQ(TextBetweenMarkers("whole text", "", ""), "whole text");
    EXPECT_EQ(TextBetweenMarkers("[基本配置]", "[", "]"), "基本配置");
    EXPECT_EQ(TextBetweenMarkers("key=value", "", "="), "key");
    EXPECT_EQ(TextBetweenMarkers("key=value", "=", ""), "value");
    EXPECT_EQ(TextBetweenMarkers("<HEAD>x</Head>", "<head>", "</head>"), "x");
    EXPECT_EQ(TextBetweenMarkers("no delimiters", "[", "]"), "");
    EXPECT_EQ(TextBetweenMarkers("[]", "[", "]"), "");
}

TEST(TextBetweenMarkers, ApostrophesAndTheQuotelessRetry) {
    // Two apostrophes stand for a double quote.
    EXPECT_EQ(TextBetweenMarkers("a=\"v\"", "=''", "''"), "v");
    // Nothing with quotes: the second attempt drops them from the delimiters.
    EXPECT_EQ(TextBetweenMarkers("a=v;", "=''", ";"), "v");
    MarkerSearch keep;
    keep.keepApostrophes = true;
    EXPECT_EQ(TextBetweenMarkers("a=''v''", "=''", "''", keep), "v");
}

TEST(TextBetweenMarkers, PositionsSkipAndTrim) {
    MarkerSearch s;
    const std::string src = "<a>1</a><a>22</a>";
    EXPECT_EQ(TextBetweenMarkers(src, "<a>", "</a>", s), "1");
    EXPECT_EQ(s.start, 9);  // just after the first "</a>"
    EXPECT_EQ(TextBetweenMarkers(src, "<a>", "</a>", s), "22");
    EXPECT_EQ(TextBetweenMarkers(src, "<a>", "</a>", s), "");

    MarkerSearch back;
    back.backward = true;
    EXPECT_EQ(TextBetweenMarkers(src, "<a>", "</a>", back), "22");
    EXPECT_EQ(back.start, 9);  // at the second "<a>"
    EXPECT_EQ(TextBetweenMarkers(src, "<a>", "</a>", back), "1");

    MarkerSearch trim;
    trim.skipAfterLeft = 1;
    trim.trimBeforeRight = 1;
    EXPECT_EQ(TextBetweenMarkers("[abcd]", "[", "]", trim), "bc");
    MarkerSearch tooMuch;
    tooMuch.skipAfterLeft = 3;
    EXPECT_EQ(TextBetweenMarkers("[ab]", "[", "]", tooMuch), "");
}

TEST(TextBetweenMarkers, TwoByteCharactersAreNotSplit) {
    // 乚 is 81 5D: its trail byte is "]" and must not close the brackets.
    EXPECT_EQ(TextBetweenMarkers("[\x81\x5D]", "[", "]"), "\x81\x5D");
}

}  // namespace
}  // namespace zembrat::text
