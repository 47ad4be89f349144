#include "text/codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "text/crc32.h"

namespace zembrat::text {
namespace {
using namespace literals;

TEST(Codec, GbkRoundTripsThroughUtf8AndUtf16) {
    const std::string gbk = "\xCE\xC4\xD5\xC2\xC4\xBF\xC2\xBC";  // 文章目录
    EXPECT_EQ("文章目录"_gbk, gbk);
    EXPECT_EQ(Utf8FromGbk(gbk), "文章目录");
    EXPECT_EQ(Utf16FromGbk(gbk), u"文章目录");
    EXPECT_EQ(GbkFromUtf16(u"文章目录"), gbk);
    // Characters outside GBK survive as GB18030 four-byte sequences.
    const std::string emoji = GbkFromUtf8(
        "a\xF0\x9F\x98\x80"
        "b");  // U+1F600
    EXPECT_EQ(emoji.size(), 6u);
    EXPECT_EQ(Utf8FromGbk(emoji),
              "a\xF0\x9F\x98\x80"
              "b");
    EXPECT_EQ(Utf16FromGbk(emoji), u"a\U0001F600b");
    EXPECT_EQ(GbkFromUtf8("€"), GbkFromUtf16(u"€"));
}

TEST(Codec, InvalidBytesBecomeReplacementsAndTheRestConverts) {
    EXPECT_EQ(Utf16FromGbk("a\x80"
                           "b"),
              u"a\uFFFDb");
    EXPECT_EQ(Utf16FromGbk("ab\xB0"), u"ab\uFFFD");  // lone lead byte at the end
    EXPECT_EQ(Utf16FromGbk("\xFF\xFF"), u"\uFFFD\uFFFD");
    EXPECT_EQ(Utf8FromGbk("x\xFFy"), "x\xEF\xBF\xBDy");
    EXPECT_EQ(Utf16FromGbk(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
    // Invalid UTF-8 and a lone surrogate do not stop the conversion.
    EXPECT_EQ(Utf8FromGbk(GbkFromUtf8("a\xC3"
                                      "b")),
              "a\xEF\xBF\xBD"
              "b");
    const char16_t lone[] = {u'a', 0xD800, u'b'};
    EXPECT_EQ(Utf16FromGbk(GbkFromUtf16(std::u16string_view(lone, 3))), u"a\uFFFDb");
}

TEST(Codec, MappedDecodingPointsEveryUnitAtItsBytes) {
    const std::string gbk = "a" + "中"_gbk + "\xFF" + GbkFromUtf8("\xF0\x9F\x98\x80") + "z";
    const MappedUtf16 mapped = Utf16FromGbkMapped(gbk);
    EXPECT_EQ(mapped.text, u"a中\uFFFD\U0001F600z");
    const std::vector<std::size_t> expected = {0, 1, 3, 4, 4, 8, 9};
    std::vector<std::size_t> offsets;
    for (std::size_t u = 0; u <= mapped.text.size(); ++u)
        offsets.push_back(mapped.ByteOffset(gbk, u));
    EXPECT_EQ(offsets, expected);
    // Long inputs are converted in one pass with the same offsets.
    std::string big;
    for (int i = 0; i < 5000; ++i) big += "x" + "图"_gbk;
    const MappedUtf16 bigMapped = Utf16FromGbkMapped(big);
    ASSERT_EQ(bigMapped.text.size(), 10000u);
    EXPECT_EQ(bigMapped.ByteOffset(big, 9999), 3u * 4999 + 1);
    EXPECT_EQ(bigMapped.ByteOffset(big, 64), 3u * 32);
}

TEST(Codec, LongTextsDecodeTheSameAcrossSliceEdges) {
    // Long runs without a plain ASCII byte, digits next to four-byte characters, bad bytes.
    const std::string four = GbkFromUtf8("\xF0\x9F\x98\x80");
    std::string unit = "中文"_gbk;
    for (int i = 0; i < 40000; ++i) unit += "图"_gbk;
    unit += "7" + four + "9" + four + "\xFF" + "x";
    std::string big;
    for (int i = 0; i < 4; ++i) big += unit;
    const MappedUtf16 mapped = Utf16FromGbkMapped(big);
    std::u16string expected;
    std::u16string piece = Utf16FromGbk(unit.substr(0, unit.size() - 2));
    for (int i = 0; i < 4; ++i) expected += piece + u"\uFFFDx";
    EXPECT_EQ(mapped.text, expected);
    // Offsets never go back, and agree with a walk from the start over whole characters.
    std::size_t previous = 0;
    for (std::size_t k = 0; k <= mapped.text.size(); k += 37) {
        const std::size_t at = mapped.ByteOffset(big, k);
        ASSERT_LE(previous, at) << k;
        previous = at;
    }
    // Every unit starts where its character's bytes start.
    const std::size_t unitUnits = piece.size() + 2;
    EXPECT_EQ(mapped.ByteOffset(big, unitUnits), unit.size());
    EXPECT_EQ(mapped.ByteOffset(big, unitUnits - 2), unit.size() - 2);  // the bad byte
    EXPECT_EQ(mapped.ByteOffset(big, unitUnits - 4), unit.size() - 6);  // a surrogate pair
    EXPECT_EQ(mapped.ByteOffset(big, unitUnits - 3), unit.size() - 6);  // its second half
    EXPECT_EQ(mapped.ByteOffset(big, 4 * unitUnits), big.size());
    EXPECT_EQ(GbkFromUtf16(Utf16FromGbk(unit.substr(0, unit.size() - 2))),
              unit.substr(0, unit.size() - 2));
}

TEST(Codec, StrictConversionFailsOnInvalidInput) {
    EXPECT_EQ(ConvertStrict("\xE4\xB8\xAD", "UTF-8", "GB18030"), "中"_gbk);
    EXPECT_EQ(ConvertStrict("\xD6\xD0", "UTF-8", "GB18030"), std::nullopt);
    EXPECT_EQ(ConvertStrict("\xE4\xB8", "UTF-8", "GB18030"), std::nullopt);  // incomplete
    EXPECT_EQ(ConvertStrict("abc", "NO-SUCH-CHARSET", "GB18030"), std::nullopt);
    EXPECT_EQ(ConvertStrict("", "UTF-8", "GB18030"), "");
}

TEST(Crc32, MatchesTheZipChecksum) {
    EXPECT_EQ(Crc32(""), 0u);
    EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(Crc32(std::string("\0\0\0\0", 4)), 0x2144DF1Cu);
    // Long inputs take the folding path: every length around its 16- and 64-byte steps, at
    // every alignment, and an image-sized body, against zlib byte by byte.
    std::string bytes(20 * 1024 + 77, '\0');
    std::uint32_t seed = 12345;
    for (char& c : bytes) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    auto zlibCrc = [](std::string_view s) {
        return static_cast<std::uint32_t>(
            crc32(0L, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
    };
    for (std::size_t offset = 0; offset < 16; ++offset) {
        for (std::size_t length = 0; length < 300; ++length) {
            const std::string_view piece(bytes.data() + offset, length);
            ASSERT_EQ(Crc32(piece), zlibCrc(piece)) << offset << " " << length;
        }
    }
    EXPECT_EQ(Crc32(bytes), zlibCrc(bytes));
    EXPECT_EQ(Crc32(std::string(4096, '\xFF')), zlibCrc(std::string(4096, '\xFF')));
}

}  // namespace
}  // namespace zembrat::text

namespace zembrat::text {
namespace {
using namespace literals;

TEST(GbkCharacters, OnlyAsciiAndPlainTwoByteCharactersAreTold) {
    const std::string chinese = "这是一段用来测试的中文文章内容，包含标点符号"_gbk;
    EXPECT_TRUE(HasOnlyAsciiAndTwoByteCharacters(""));
    EXPECT_TRUE(HasOnlyAsciiAndTwoByteCharacters("<img src=a.jpg> " + chinese + "x" + chinese));
    EXPECT_TRUE(HasOnlyAsciiAndTwoByteCharacters("\x81\x40\x81\x7E\xFE\xFE" + chinese));
    // At every place in a long run of characters: a byte that is none, a lone lead byte at the
    // end, a four-byte character, a trail byte that is none.
    for (std::size_t at = 0; at <= chinese.size(); at += 2) {
        for (const std::string bad :
             {"\x80\xA1", "\xFF\xA1", "\xA1\xFF", "\x81\x30\x97\x37", "\xB0\x7F"}) {
            const std::string s = chinese.substr(0, at) + bad + chinese.substr(at);
            EXPECT_FALSE(HasOnlyAsciiAndTwoByteCharacters(s)) << at << " " << bad;
        }
        EXPECT_FALSE(HasOnlyAsciiAndTwoByteCharacters(chinese.substr(0, at) + "\xB0"));
    }
}

}  // namespace
}  // namespace zembrat::text
