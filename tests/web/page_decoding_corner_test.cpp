// Page decoding on inputs found while fuzzing it: characters the GBK side has no form for, and
// bodies that give no text at all.
#include <gtest/gtest.h>

#include "text/codec.h"
#include "web/page_decoding.h"

namespace zembrat::web {
namespace {

std::string Encode(std::string_view utf8, const char* to) {
    auto out = text::ConvertStrict(utf8, "UTF-8", to);
    EXPECT_TRUE(out) << to;
    return out.value_or("");
}

// U+E78D, a private-use character that the GB18030 converter maps to nothing (its old place
// now belongs to a standard character), between two letters.
constexpr std::string_view kUnmappable =
    "A\xEE\x9E\x8D"
    "B";

TEST(DecodeTextCorners, ACharacterWithoutAGbkFormBecomesOneQuestionMark) {
    ASSERT_FALSE(text::ConvertStrict(kUnmappable, "UTF-8", "GB18030"));

    // Whatever the encoding, the one character is one "?" and the rest is kept.
    auto d = DecodeText({}, kUtf8, kUnmappable, {});
    EXPECT_EQ(d.text, "A?B");
    EXPECT_EQ(d.detected, kUtf8);
    d = DecodeText({}, kDetectEncoding, "\xEF\xBB\xBF" + std::string(kUnmappable), {});
    EXPECT_EQ(d.text, "A?B");
    EXPECT_EQ(d.detected, kUtf8);
    d = DecodeText({}, kDetectEncoding, "\xFF\xFE" + Encode(kUnmappable, "UTF-16LE"), {});
    EXPECT_EQ(d.text, "A?B");
    EXPECT_EQ(d.detected, kUtf16Le);
    d = DecodeText({}, kUtf16Be, "\xFE\xFF" + Encode(kUnmappable, "UTF-16BE"), {});
    EXPECT_EQ(d.text, "A?B");
    EXPECT_EQ(d.detected, kUtf16Be);

    // Several in a row, next to an invalid byte: one "?" each.
    const std::string mixed = "x\xEE\x9E\x8D\xEE\x9E\x8D\xFFy";
    d = DecodeText({}, kUtf8, mixed, {});
    EXPECT_EQ(d.text, "x???y");
    // A sequence cut short at the end is one bad character too.
    d = DecodeText({}, kUtf8, "x\xEE\x9E", {});
    EXPECT_EQ(d.text, "x?");
}

TEST(DecodeTextCorners, OnlyABodyThatStartsWithAZeroByteGivesNoText) {
    // Taken as text, such a body is empty, so even the fallback has nothing to give.
    for (int selector = -1; selector <= 7; ++selector) {
        if (selector == kUtf16Le || selector == kUtf16Be) continue;
        const auto d = DecodeText({}, selector, std::string("\0<html>", 7), {});
        EXPECT_EQ(d.text, "") << selector;
        EXPECT_GE(d.detected, kGbkOrUtf8) << selector;
        EXPECT_LE(d.detected, kBig5Hkscs) << selector;
    }
    // UTF-16 drops the first two bytes first, so the rest still decodes.
    const auto d = DecodeText({}, kUtf16Le, std::string("\0\0A\0", 4), {});
    EXPECT_EQ(d.text, "A");
    EXPECT_EQ(d.detected, kUtf16Le);
}

TEST(MetaCharsetCorners, TheHkscsFormsWinOverTheBig5OnesTheyContain) {
    // "charset='Big5-HKSCS'" holds "charset=Big5" only without its closing quote.
    auto m = MetaCharset("<meta content=\"text/html; charset='Big5-HKSCS'\">");
    EXPECT_TRUE(m.found);
    EXPECT_EQ(m.result, 3);
    m = MetaCharset("<META CHARSET=\"BIG5-hkscs\">");
    EXPECT_EQ(m.result, 3);
    m = MetaCharset("<meta charset=big5-x>");  // the bare form is a prefix of anything
    EXPECT_EQ(m.result, 2);
    m = MetaCharset("<meta charset='big5-x'>");
    EXPECT_FALSE(m.found);
}

}  // namespace
}  // namespace zembrat::web
