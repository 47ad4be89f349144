// The byte layout of the settings file as the store reads and changes it.
#include <gtest/gtest.h>

#include "checked_store.h"
#include "text/codec.h"

namespace zembrat::config {
namespace {

using namespace text::literals;
using testing::CheckedStore;
using testing::Lines;
using zembrat::testing::TempDir;

TEST(SettingsFile, SixSettingsWrittenIntoAMissingFileComeOutByteForByte) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.Open());
    EXPECT_EQ(s.FileBytes(), "");  // opening created the file, empty
    s->SetSection("基本配置"_gbk);
    const char* keys[] = {"文章目录",     "文章过滤",     "图片存放目录",
                          "旧的域名前缀", "新的域名前缀", "排除地址范围"};
    const char* first[] = {"/home/u/文章目录", "*.htm",       "files/img",
                           "old.example",      "new.example", "ad.|track."};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(s->WriteText(text::GbkFromUtf8(keys[i]), text::GbkFromUtf8(first[i])),
                  WriteResult::kWritten);
    const std::string expected =
        Lines({"[基本配置]"_gbk, "排除地址范围=ad.|track."_gbk, "新的域名前缀=new.example"_gbk,
               "旧的域名前缀=old.example"_gbk, "图片存放目录=files/img"_gbk, "文章过滤=*.htm"_gbk,
               "文章目录=/home/u/文章目录"_gbk});
    EXPECT_EQ(s.FileBytes(), expected);

    // Writing the same values again leaves every byte as it was.
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(s->WriteText(text::GbkFromUtf8(keys[i]), text::GbkFromUtf8(first[i])),
                  WriteResult::kWritten);
    EXPECT_EQ(s.FileBytes(), expected);

    // A second save with other values replaces each value in place, in the same order.
    const char* second[] = {"D", "*.html|*.txt", "", "o2", "n2", "x"};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(s->WriteText(text::GbkFromUtf8(keys[i]), second[i]), WriteResult::kWritten);
    EXPECT_EQ(s.FileBytes(), Lines({"[基本配置]"_gbk, "排除地址范围=x"_gbk, "新的域名前缀=n2"_gbk,
                                    "旧的域名前缀=o2"_gbk, "图片存放目录="_gbk,
                                    "文章过滤=*.html|*.txt"_gbk, "文章目录=D"_gbk}));
    // The emptied setting comes back as the caller's default.
    EXPECT_EQ(s->ReadText("图片存放目录"_gbk, "files/img"), "files/img");
    EXPECT_EQ(s->GetValue("基本配置"_gbk, "图片存放目录"_gbk, "dflt", false), "");
    EXPECT_EQ(s->ReadText("文章过滤"_gbk, "*.htm"), "*.html|*.txt");
}

TEST(SettingsFile, EditedRowsAboveTheHeaderOrWithBlanksAreNotSeen) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(Lines({"文章目录=row one"_gbk, "[基本配置]"_gbk, "文章过滤=*.htm"_gbk,
                                  "文章目录 = spaced"_gbk})));
    s->SetSection("基本配置"_gbk);
    EXPECT_EQ(s->ReadText("文章目录"_gbk, "default"), "default");
    EXPECT_EQ(s->WriteText("文章目录"_gbk, "new"), WriteResult::kWritten);
    EXPECT_EQ(s.FileBytes(), Lines({"文章目录=row one"_gbk, "[基本配置]"_gbk, "文章目录=new"_gbk,
                                    "文章过滤=*.htm"_gbk, "文章目录 = spaced"_gbk}));
    EXPECT_EQ(s->ReadText("文章目录"_gbk), "new");
}

TEST(SettingsFile, EmptyFileGetsTheHeaderWithoutALeadingLineBreak) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(""));
    s->SetSection("S");
    EXPECT_EQ(s->ReadText("k", "d"), "d");
    EXPECT_EQ(s->SetValue("S", "k", "v"), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(), "[S]\r\nk=v");
    // A second key goes above the first, right under the header; a new section goes at the end.
    EXPECT_EQ(s->SetValue("S", "j", "w"), StoreResult::kDone);
    EXPECT_EQ(s->SetValue("T", "k", "x"), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(), "[S]\r\nj=w\r\nk=v\r\n[T]\r\nk=x");
}

TEST(SettingsFile, HeadersCountOnlyAtALineStart) {
    TempDir dir;
    CheckedStore s(dir);
    // At offset 0, and after CR LF; not after other bytes, not inside a value.
    ASSERT_TRUE(s.OpenWith(Lines({"[A]", "k=a", "x[B]", "k=notB", "v=[B]", "k=alsoNotB"})));
    EXPECT_EQ(s->GetValue("A", "k"), "a");
    EXPECT_EQ(s->GetValue("B", "k", "none"), "none");
    EXPECT_EQ(s->SetValue("B", "k", "b"), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(),
              Lines({"[A]", "k=a", "x[B]", "k=notB", "v=[B]", "k=alsoNotB", "[B]", "k=b"}));
    EXPECT_EQ(s->GetValue("B", "k"), "b");
}

TEST(SettingsFile, AHeaderFollowedByOtherBytesIsTheSectionsHeaderAndKeepsThem) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(Lines({"[S] ; note", "k=1"})));
    EXPECT_EQ(s->GetValue("S", "k"), "1");
    EXPECT_EQ(s->SetValue("S", "k", "2"), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(), Lines({"[S] ; note", "k=2"}));
    // A new key goes under the header line; what followed the "]" stays on it.
    EXPECT_EQ(s->SetValue("S", "j", "3"), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(), Lines({"[S] ; note", "j=3", "k=2"}));

    TempDir other;
    CheckedStore t(other);
    ASSERT_TRUE(t.OpenWith("[S]tail"));
    EXPECT_EQ(t->SetValue("S", "k", "v"), StoreResult::kDone);
    EXPECT_EQ(t.FileBytes(), "[S]tail\r\nk=v");
}

TEST(SettingsFile, ValuesRunFromTheEqualsSignToTheLineEnd) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(Lines({"[S]", "empty=", "eq==x", "two=a=b", "br=[x] y ", "last=tail"})));
    s->SetSection("S");
    EXPECT_EQ(s->ReadText("empty", "dflt"), "dflt");
    EXPECT_EQ(s->GetValue("S", "empty", "dflt", false), "");
    EXPECT_EQ(s->GetValue("S", "empty", "dflt", true), "dflt");
    EXPECT_EQ(s->ReadText("eq"), "=x");
    EXPECT_EQ(s->ReadText("two"), "a=b");
    EXPECT_EQ(s->ReadText("br"), "[x] y ");
    // A value at the very end of the file is read whole and replaced whole.
    EXPECT_EQ(s->ReadText("last"), "tail");
    EXPECT_EQ(s->WriteText("last", "T"), WriteResult::kWritten);
    EXPECT_EQ(s->WriteText("two", "c"), WriteResult::kWritten);
    EXPECT_EQ(s->WriteText("empty", "filled"), WriteResult::kWritten);
    EXPECT_EQ(s.FileBytes(),
              Lines({"[S]", "empty=filled", "eq==x", "two=c", "br=[x] y ", "last=T"}));
}

TEST(SettingsFile, OnlyTheFirstHeaderOfANameAndItsOwnEntriesCount) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(Lines({"[S]", "a=1", "[T]", "b=2", "[S]", "b=3", "c=4"})));
    EXPECT_EQ(s->GetValue("S", "a"), "1");
    // b and c exist only behind a later header: not in the first S.
    EXPECT_EQ(s->GetValue("S", "b", "none"), "none");
    EXPECT_EQ(s->GetValue("S", "c", "none"), "none");
    EXPECT_EQ(s->SetValue("S", "c", "5"), StoreResult::kDone);
    EXPECT_EQ(s->SetValue("S", "b", "6"), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(),
              Lines({"[S]", "b=6", "c=5", "a=1", "[T]", "b=2", "[S]", "b=3", "c=4"}));
    EXPECT_EQ(s->GetValue("T", "b"), "2");
}

TEST(SettingsFile, LineBreaksInTextsAreKeptAsTokens) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.Open());
    s->SetSection("S");
    EXPECT_EQ(s->WriteText("k", "one\r\ntwo\r\nthree"), WriteResult::kWritten);
    EXPECT_EQ(s.FileBytes(), "[S]\r\nk=one┊*┊two┊*┊three"_gbk);
    EXPECT_EQ(s->ReadText("k"), "one\r\ntwo\r\nthree");
    // A lone CR or LF is an ordinary byte; a token written by the user becomes a line break.
    EXPECT_EQ(s->WriteText("k", "a\nb\rc┊*┊d"_gbk), WriteResult::kWritten);
    EXPECT_EQ(s->ReadText("k"), "a\nb\rc\r\nd");
    // The default goes through the same conversion.
    EXPECT_EQ(s->ReadText("missing", "x\r\ny"), "x\r\ny");
    EXPECT_EQ(s->ReadText("missing", "x┊*┊y"_gbk), "x\r\ny");
}

TEST(SettingsFile, AStrayLeadByteNeverHidesALineBreak) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(Lines({"[A]", "k=\x81", "j=1"})));
    // The value ends at the CR LF although the byte before it could start a character.
    EXPECT_EQ(s->GetValue("A", "k"), "\x81");
    EXPECT_EQ(s->SetValue("A", "k", "2"), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(), Lines({"[A]", "k=2", "j=1"}));
    // A text with such a byte before its line break is still stored on one line.
    s->SetSection("A");
    EXPECT_EQ(s->WriteText("k", "\nk=\x81\r\nj=x"), WriteResult::kWritten);
    EXPECT_EQ(s.FileBytes(), Lines({"[A]", "k=\nk=\x81" + "┊*┊j=x"_gbk, "j=1"}));
    EXPECT_EQ(s->ReadText("k"), "\nk=\x81\r\nj=x");
    EXPECT_EQ(s->ReadText("j"), "1");
}

TEST(SettingsFile, TwoByteCharactersWithBracketTrailBytesAreNotHeaderEnds) {
    TempDir dir;
    CheckedStore s(dir);
    // 乚 is 81 5D: its second byte is "]", yet the line "[x乚" is no complete header line.
    ASSERT_TRUE(s.OpenWith(Lines({"[S]", "[x乚"_gbk, "k=1"})));
    EXPECT_EQ(s->GetValue("S", "k"), "1");
    std::vector<std::string> names;
    EXPECT_EQ(s->ListSections(names), 1);
    // A name ending in it still works as a name.
    EXPECT_EQ(s->SetValue("乚"_gbk, "k", "2"), StoreResult::kDone);
    EXPECT_EQ(s->GetValue("乚"_gbk, "k"), "2");
}

}  // namespace
}  // namespace zembrat::config
