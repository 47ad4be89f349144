#include "web/page_decoding.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::web {
namespace {

using namespace text::literals;

// Test bodies are written in UTF-8 here and converted with iconv into the encoding under test.
std::string Encode(std::string_view utf8, const char* to) {
    auto out = text::ConvertStrict(utf8, "UTF-8", to);
    EXPECT_TRUE(out) << to;
    return out.value_or("");
}
std::string Gbk(std::string_view utf8) {
    return text::GbkFromUtf8(utf8);
}

DecodedText Bytes(std::string_view bytes, int selector = 0) {
    return DecodeText({}, selector, bytes, {});
}

TEST(DecodeText, ByteOrderMarksChooseTheEncodingAndAreDropped) {
    const std::string s = "标记 mark 中文";
    auto d = Bytes("\xEF\xBB\xBF" + s);
    EXPECT_EQ(d.text, Gbk(s));
    EXPECT_EQ(d.detected, kUtf8);

    d = Bytes("\xFF\xFE" + Encode(s, "UTF-16LE"));
    EXPECT_EQ(d.text, Gbk(s));
    EXPECT_EQ(d.detected, kUtf16Le);

    d = Bytes("\xFE\xFF" + Encode(s, "UTF-16BE"));
    EXPECT_EQ(d.text, Gbk(s));
    EXPECT_EQ(d.detected, kUtf16Be);

    // Given selectors: 2 skips a mark when there is one; 3 and 4 always drop two bytes.
    EXPECT_EQ(Bytes("\xEF\xBB\xBF" + s, kUtf8).text, Gbk(s));
    EXPECT_EQ(Bytes(s, kUtf8).text, Gbk(s));
    d = Bytes(Encode("AB中", "UTF-16LE"), kUtf16Le);
    EXPECT_EQ(d.text, Gbk("B中"));
    EXPECT_EQ(d.detected, kUtf16Le);
    d = Bytes(Encode("AB中", "UTF-16BE"), kUtf16Be);
    EXPECT_EQ(d.text, Gbk("B中"));
    EXPECT_EQ(d.detected, kUtf16Be);
}

TEST(DecodeText, MetaDeclarationsAndTheUtf8Trial) {
    // GBK with a gb2312 declaration: no list matches and the UTF-8 trial fails.
    const std::string gbkPage =
        Gbk("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
            "charset=gb2312\"><title>标题</title></head><body>正文</body></html>");
    auto d = Bytes(gbkPage);
    EXPECT_EQ(d.text, gbkPage);
    EXPECT_EQ(d.detected, kGbkOrUtf8);

    const std::string utf8Page =
        "<html><head><meta charset=\"utf-8\"><title>标题</title></head><body>正文</body></html>";
    d = Bytes(utf8Page);
    EXPECT_EQ(d.text, Gbk(utf8Page));
    EXPECT_EQ(d.detected, kUtf8);

    // Big5 and Big5-HKSCS, the latter with a character Big5 lacks.
    const std::string big5Page =
        "<head><meta http-equiv=Content-Type content=\"text/html; charset=Big5\"></head>繁體中文";
    d = Bytes(Encode(big5Page, "BIG5"));
    EXPECT_EQ(d.text, Gbk(big5Page));
    EXPECT_EQ(d.detected, kBig5);
    const std::string hkPage = "<head><meta charset='Big5-HKSCS'></head>佢哋嘅嘢";
    d = Bytes(Encode(hkPage, "BIG5-HKSCS"));
    EXPECT_EQ(d.text, Gbk(hkPage));
    EXPECT_EQ(d.detected, kBig5Hkscs);

    // Without any declaration a valid UTF-8 body with multi-byte characters is still found.
    d = Bytes("纯文本");
    EXPECT_EQ(d.text, Gbk("纯文本"));
    EXPECT_EQ(d.detected, kUtf8);
    d = Bytes("纯文本", kGbkOrUtf8);
    EXPECT_EQ(d.detected, kUtf8);
}

TEST(DecodeText, PlainAsciiEmptyAndUnknownSelectors) {
    auto d = Bytes("plain ascii <b>text</b>", kGbkOrUtf8);
    EXPECT_EQ(d.text, "plain ascii <b>text</b>");
    EXPECT_EQ(d.detected, kGbkOrUtf8);
    d = Bytes("plain ascii");
    EXPECT_EQ(d.detected, kGbkOrUtf8);

    d = Bytes("");
    EXPECT_EQ(d.text, "");
    EXPECT_EQ(d.detected, kGbkOrUtf8);

    d = Bytes(Gbk("汉字"), 9);  // acts as 1
    EXPECT_EQ(d.text, Gbk("汉字"));
    EXPECT_EQ(d.detected, kGbkOrUtf8);
}

TEST(DecodeText, SecondDecodersAndTheFinalFallback) {
    // Invalid UTF-8 under selector 2: what is valid is kept, the rest becomes "?".
    auto d = Bytes("ok\xFF中", kUtf8);
    EXPECT_EQ(d.text, Gbk("ok?中"));
    EXPECT_EQ(d.detected, kUtf8);

    // An odd UTF-16 body in both byte orders: each decoded in its own order.
    d = Bytes("\xFF\xFE" + Encode("汉字", "UTF-16LE") + "\x41");
    EXPECT_EQ(d.text, Gbk("汉字?"));
    d = Bytes("\xFE\xFF" + Encode("汉字", "UTF-16BE") + "\x41");
    EXPECT_EQ(d.text, Gbk("汉字?"));
    EXPECT_EQ(d.detected, kUtf16Be);

    // A Big5 declaration over an HKSCS body: the Big5 reading keeps what it can.
    d = Bytes(Encode("<head><meta charset=Big5></head>中嘅", "BIG5-HKSCS"));
    EXPECT_EQ(d.detected, kBig5);
    EXPECT_EQ(d.text, Gbk("<head><meta charset=Big5></head>中?"));

    // Nothing left after the two dropped bytes: the source comes back unconverted.
    d = Bytes("A", kUtf16Le);
    EXPECT_EQ(d.text, "A");
    EXPECT_EQ(d.detected, kGbkOrUtf8);
    // Taking bytes as text stops at the first zero byte.
    d = Bytes(std::string("ab\0cd", 5), kGbkOrUtf8);
    EXPECT_EQ(d.text, "ab");
}

TEST(DecodeText, ReadsAFileBytesOrText) {
    testing::TempDir dir;
    const std::string path = dir.Write("页.htm"_gbk,
                                       "\xEF\xBB\xBF"
                                       "文件");
    auto d = DecodeText(path, 0, "bytes", "text");
    EXPECT_EQ(d.text, Gbk("文件"));
    EXPECT_EQ(d.detected, kUtf8);

    d = DecodeText(dir / "missing.htm", 0, "bytes", "text");
    EXPECT_EQ(d.text, "");
    EXPECT_EQ(d.detected, 0);

    EXPECT_EQ(DecodeText({}, 0, "bytes", "text").text, "bytes");
    EXPECT_EQ(DecodeText({}, 0, {}, "text").text, "text");
    EXPECT_EQ(DecodeText({}, 0, {}, Gbk("文本")).text, Gbk("文本"));
}

TEST(MetaCharset, ReadsMetaTagsOfTheHead) {
    auto m = MetaCharset(
        "<head><META HTTP-EQUIV='Content-Type' CONTENT='text/html; CHARSET=utf-8'></HEAD>");
    EXPECT_TRUE(m.found);
    EXPECT_EQ(m.result, 1);
    // Without its end the head is not cut out, and the page's first ">" closes "<head>".
    EXPECT_FALSE(MetaCharset("<head><meta charset=utf-8>").found);
    m = MetaCharset("<meta charset='UTF-8'>");  // no head: the whole page
    EXPECT_EQ(m.result, 1);
    m = MetaCharset("<meta charset=Big5-HKSCS>");
    EXPECT_EQ(m.result, 3);  // not taken for Big5
    m = MetaCharset("<meta charset=\"big5\">");
    EXPECT_EQ(m.result, 2);

    // A declaration after other markup is found through the tag text that runs across it.
    m = MetaCharset("<head><meta name=a><title>t</title><meta charset=big5></head>");
    EXPECT_TRUE(m.found);
    EXPECT_EQ(m.result, 2);
    // Only the head counts when there is one.
    m = MetaCharset("<head><meta name=a></head><meta charset=utf-8>");
    EXPECT_FALSE(m.found);

    // A first tag that is no meta tag ends the search; so does an empty meta tag.
    EXPECT_FALSE(MetaCharset("<head><title>x</title><meta charset=utf-8></head>").found);
    EXPECT_FALSE(MetaCharset("<head><meta><meta charset=utf-8></head>").found);
    EXPECT_FALSE(MetaCharset("<head><meta charset=gb2312></head>").found);
    EXPECT_FALSE(MetaCharset("").found);
    EXPECT_FALSE(MetaCharset("no tags at all").found);
}

TEST(ContainsAny, MatchesAnyAlternativeIgnoringCase) {
    EXPECT_TRUE(ContainsAny("Content: CHARSET=utf-8", "charset=big5[fg]charset=UTF-8"));
    EXPECT_FALSE(ContainsAny("charset=gbk", "charset=big5[fg]charset=UTF-8"));
    EXPECT_FALSE(ContainsAny("anything", ""));
    EXPECT_FALSE(ContainsAny("anything", "[fg][fg]"));
    // A GBK character's second byte is never matched on its own: B0 61 holds no "a".
    EXPECT_FALSE(ContainsAny("\xB0\x61", "a"));
    EXPECT_TRUE(
        ContainsAny("\xB0\x61"
                    "a",
                    "A"));
}

}  // namespace
}  // namespace zembrat::web
