#include "text/gbk.h"

#include <gtest/gtest.h>

#include "text/codec.h"

namespace zembrat::text {
namespace {
using namespace literals;

// GBK characters whose second byte is an ASCII punctuation mark.
const std::string kTrailBackslash = "\x81\x5C";  // 乗
const std::string kTrailBar = "\x81\x7C";        // 亅
const std::string kTrailSlashLike = "\xB1\xED";  // 表

TEST(GbkSearch, TrailBytesAreNeverMatchStarts) {
    const std::string s = "a" + kTrailBackslash + "b\\c" + kTrailBar + "|d";
    EXPECT_EQ(Find(s, "\\"), 4u);  // the lone backslash, not the trail byte at 2
    EXPECT_EQ(Find(s, "|"), 8u);
    EXPECT_EQ(Find(s, "\\", 5), kNotFound);
    EXPECT_EQ(FindLast(s, "\\"), 4u);
    EXPECT_EQ(FindLast(s, "|", 8), kNotFound);  // the bar at 8 does not lie before 8
    // A match of a whole two-byte character is found.
    EXPECT_EQ(Find(s, kTrailBar), 6u);
    // Many candidates inside a long run of two-byte characters.
    std::string run;
    for (int i = 0; i < 1000; ++i) run += "\xB0\xB0";
    EXPECT_EQ(Find(run, "\xB0\xB0", 2), 2u);
    EXPECT_EQ(Find(run + "x", "\xB0x"), kNotFound);  // the last B0 is a trail byte
    EXPECT_EQ(Find("x" + run + "x", "\xB0x"), kNotFound);
    EXPECT_EQ(Find("\xB0" + run + "x", "\xB0x"), 2000u);
    EXPECT_EQ(Find("x\xB0\xB0\xB0", "\xB0\xB0", 3), kNotFound);
    // The second byte of B0 41 is not the start of "A".
    EXPECT_EQ(Find("\xB0\x41\xB0\xB0", "\x41\xB0"), kNotFound);
}

TEST(GbkSearch, CaseInsensitiveForAsciiLettersOnly) {
    EXPECT_EQ(FindNoCase("xx<HEAD>", "<head>"), 2u);
    // A trail byte 'A' (0x41) is not the letter a.
    EXPECT_EQ(FindNoCase("\x81"
                         "Aa",
                         "a"),
              2u);
    EXPECT_EQ(FindNoCase("\x81"
                         "A",
                         "\x81"
                         "a"),
              kNotFound);
    EXPECT_EQ(FindLastNoCase("aXbxc", "X"), 3u);
    EXPECT_TRUE(EqualsNoCase("Note.TXT", "note.txt"));
    EXPECT_FALSE(EqualsNoCase("note", "notes"));
    EXPECT_TRUE(EndsWithNoCase("App.EXE", ".exe"));
}

TEST(GbkReplace, EachReplacementInTurnAsOneAfterAnother) {
    // Random texts and replacements over a few bytes (a lead byte among them), so that texts
    // overlap, sit inside, across or around what an earlier one puts in, and start on trail
    // bytes; the result is always what ReplaceAll gives one replacement after the other.
    const std::string bytes = "ab/h\xB0";
    std::uint32_t seed = 11;
    const auto next = [&](std::uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    const auto piece = [&](std::uint32_t longest) {
        std::string t;
        for (std::uint32_t n = next(longest + 1); n > 0; --n) t += bytes[next(bytes.size())];
        return t;
    };
    int together = 0;
    for (int round = 0; round < 20000; ++round) {
        const std::string s = piece(24);
        std::vector<std::string> texts;
        for (std::uint32_t n = 1 + next(4); n > 0; --n) {
            texts.push_back(round % 2 ? "h" + piece(3) : piece(3));
            texts.push_back(round % 3 ? "/" + piece(4) : piece(4));
        }
        std::vector<TextReplacement> list;
        std::string expected = s;
        for (std::size_t i = 0; i < texts.size(); i += 2) {
            list.push_back({texts[i], texts[i + 1]});
            expected = ReplaceAll(expected, texts[i], texts[i + 1]);
        }
        std::string out = "untouched";
        const bool replaced = ReplaceEachInto(s, list, out);
        ASSERT_EQ(replaced ? out : s, expected) << round;
        if (!replaced) {
            EXPECT_EQ(out, "untouched");
        }
        together += replaced && expected != s;
    }
    EXPECT_GT(together, 1000);
}

TEST(GbkReplace, ManyReplacementsAtOnceAsOneAfterAnother) {
    // Long lists of addresses sharing their beginnings, some a piece of another, some put in
    // by an earlier one, in texts that hold them among lead bytes: what ReplaceAll gives one
    // replacement after the other.
    std::uint32_t seed = 5;
    const auto next = [&](std::uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    for (int round = 0; round < 300; ++round) {
        std::vector<std::string> texts;
        const std::uint32_t count = 2 + next(60);
        for (std::uint32_t k = 0; k < count; ++k) {
            std::string from = "http://a/" + std::to_string(next(40));
            if (next(4) == 0) from += "\xB0";
            std::string to = next(6) == 0 ? "http://a/" + std::to_string(next(40))
                                          : "/img/" + std::to_string(k) + ".jpg";
            texts.push_back(from);
            texts.push_back(to);
        }
        std::string s;
        for (std::uint32_t k = next(80); k > 0; --k) {
            s += next(3) == 0 ? std::string("\xB0") : std::string(" ");
            s += texts[2 * next(count)];
        }
        std::vector<TextReplacement> list;
        std::string expected = s;
        for (std::size_t i = 0; i < texts.size(); i += 2) {
            list.push_back({texts[i], texts[i + 1]});
            expected = ReplaceAll(expected, texts[i], texts[i + 1]);
        }
        std::string out;
        const bool replaced = ReplaceEachInto(s, list, out);
        ASSERT_EQ(replaced ? out : s, expected) << round;
    }
}

TEST(GbkReplace, LeftToRightWithoutRescanningInsertedText) {
    EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(ReplaceAll("abab", "ab", "b"), "bb");
    EXPECT_EQ(ReplaceAll("aaaa", "aa", "x"), "xx");  // occurrences do not overlap
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceAll("x" + kTrailBackslash + "\\", "\\", "/"), "x" + kTrailBackslash + "/");
    // A text ending in a lone lead byte: the byte behind an occurrence of it is still the
    // second byte of that pair, never the start of another occurrence.
    EXPECT_EQ(ReplaceAll("a\x81"
                         "a\x81"
                         "b",
                         "a\x81", "X"),
              "X"
              "a\x81"
              "b");
}

TEST(GbkSplit, PiecesBetweenSeparators) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Split("*.htm|*.txt", "|"), (V{"*.htm", "*.txt"}));
    EXPECT_EQ(Split("a||b|", "|"), (V{"a", "", "b", ""}));
    EXPECT_EQ(Split("", "|"), V{});
    EXPECT_EQ(Split(kTrailBar + "|x", "|"), (V{kTrailBar, "x"}));
    EXPECT_EQ(Split("a\r\nb", "\r\n"), (V{"a", "b"}));
}

TEST(GbkTrim, AsciiAndFullWidthSpaces) {
    const std::string fw(kFullWidthSpace);
    EXPECT_EQ(Trim("  " + fw + " a b " + fw + fw + " "), "a b");
    EXPECT_EQ(Trim(fw), "");
    EXPECT_EQ(TrimLeft(" a "), "a ");
    EXPECT_EQ(TrimRight(" a "), " a");
    // "\xB0\xA1\xA1\xA1" is 啊 followed by a full-width space; "\xA1" + "\xA1\xA1" + "\xA1" would
    // be misread by a byte-wise trim.
    EXPECT_EQ(TrimRight("\xB0\xA1\xA1\xA1"), "\xB0\xA1");
    EXPECT_EQ(TrimRight("x\xA1\xA1\xA1"), "x\xA1\xA1\xA1");  // ends in the pair A1 A1 + a lone A1
    EXPECT_EQ(Trim("\t a\t"), "\t a\t");                     // only spaces count
}

TEST(GbkCase, OnlyAsciiLettersChange) {
    EXPECT_EQ(AsciiLower("HTTP://Host/A.JPG"), "http://host/a.jpg");
    EXPECT_EQ(AsciiUpper("abc"), "ABC");
    // The trail byte 0x41 ('A') of a two-byte character stays.
    EXPECT_EQ(AsciiLower("\x81"
                         "AB"),
              "\x81"
              "Ab");
    EXPECT_EQ(AsciiUpper("\x81"
                         "ab"),
              "\x81"
              "aB");
}

TEST(GbkPaths, NamesAndSeparators) {
    const std::string sep(1, kPathSeparator);
    EXPECT_EQ(FileName("a" + sep + "b" + sep + "news.htm"), "news.htm");
    EXPECT_EQ(BaseName("a" + sep + "news.2024.htm"), "news.2024");
    EXPECT_EQ(BaseName("README"), "README");
    EXPECT_EQ(BaseName(".hidden"), "");
    EXPECT_EQ(DirectoryPart("a" + sep + "b.ini"), "a");
    EXPECT_EQ(DirectoryPart("b.ini"), "");
    EXPECT_TRUE(EndsWithSeparator("a" + sep));
    EXPECT_FALSE(EndsWithSeparator("a"));
    EXPECT_EQ(WithSeparator("a"), "a" + sep);
    EXPECT_EQ(WithSeparator("a" + sep), "a" + sep);
    const std::string folder = "文章目录"_gbk;
    EXPECT_EQ(FileName(folder + sep + "说明.htm"_gbk), "说明.htm"_gbk);
    EXPECT_EQ(BaseName(folder + sep + "说明.htm"_gbk), "说明"_gbk);
}

TEST(GbkText, TextStopsAtTheFirstZeroByte) {
    EXPECT_EQ(TextOf(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(TextOf("abc"), "abc");
    EXPECT_EQ(TextOf(std::string("\0", 1)), "");
}

}  // namespace
}  // namespace zembrat::text
