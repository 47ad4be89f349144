// Deleting, renaming, listing and the whole-content operations of the store.
#include <gtest/gtest.h>

#include <vector>

#include "checked_store.h"
#include "platform/messages.h"
#include "text/codec.h"

namespace zembrat::config {
namespace {

using namespace text::literals;
using testing::CheckedStore;
using testing::Lines;
using zembrat::testing::ReadFileOrMissing;
using zembrat::testing::TempDir;
using Names = std::vector<std::string>;

TEST(DeleteEntry, RemovesOneEntryLineOrAWholeSection) {
    TempDir dir;
    CheckedStore s(dir);
    const std::string initial = Lines({"[A]", "k=1", "j=2", "[B]", "k=3", "[C]", "x=4"});
    ASSERT_TRUE(s.OpenWith(initial));
    EXPECT_EQ(s->DeleteEntry("Z", "k"), StoreResult::kSectionNotFound);
    EXPECT_EQ(s->DeleteEntry("A", "none"), StoreResult::kKeyNotFound);
    EXPECT_EQ(s->DeleteEntry("C", "k"),
              StoreResult::kKeyNotFound);  // k exists, but only in earlier sections
    EXPECT_EQ(s->DeleteEntry("A", "x"), StoreResult::kKeyNotFound);  // only in a later section
    EXPECT_EQ(s.FileBytes(), initial);

    EXPECT_EQ(s->DeleteEntry("A", "k"), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(), Lines({"[A]", "j=2", "[B]", "k=3", "[C]", "x=4"}));
    // A whole section goes from its "[" up to the next header; the CR LF before it stays.
    EXPECT_EQ(s->DeleteEntry("B"), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(), Lines({"[A]", "j=2", "[C]", "x=4"}));
    // The last section: a CR LF is left at the end.
    EXPECT_EQ(s->DeleteEntry("C", ""), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(), "[A]\r\nj=2\r\n");
    // A key whose value ends the file.
    EXPECT_EQ(s->DeleteEntry("A", "j"), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(), "[A]\r\n");
    EXPECT_EQ(s->DeleteEntry("A"), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(), "");
}

TEST(DeleteEntry, IgnoresHeadersThatDoNotStartALine) {
    TempDir dir;
    CheckedStore s(dir);
    const std::string initial = Lines({"x[A]", "k=1", "[B]", "k=2"});
    ASSERT_TRUE(s.OpenWith(initial));
    EXPECT_EQ(s->DeleteEntry("A"), StoreResult::kSectionNotFound);
    EXPECT_EQ(s->RenameSection("A", "Q"), StoreResult::kSectionNotFound);
    EXPECT_EQ(s->RenameKey("A", "k", "q"), StoreResult::kSectionNotFound);
    EXPECT_EQ(s.FileBytes(), initial);
}

TEST(Rename, ChangesOnlyTheNameBytes) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(Lines({"v=[S]", "[S]", "k=1", "k=2", "[S]", "k=3", "[T]", "m=4"})));
    EXPECT_EQ(s->RenameSection("S", "长名字"_gbk), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(),
              Lines({"v=[S]", "[长名字]"_gbk, "k=1", "k=2", "[S]", "k=3", "[T]", "m=4"}));
    EXPECT_EQ(s->RenameSection("missing", "x"), StoreResult::kSectionNotFound);
    // Only the first occurrence inside the section.
    EXPECT_EQ(s->RenameKey("长名字"_gbk, "k", "key"), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(),
              Lines({"v=[S]", "[长名字]"_gbk, "key=1", "k=2", "[S]", "k=3", "[T]", "m=4"}));
    EXPECT_EQ(s->RenameKey("长名字"_gbk, "m", "x"), StoreResult::kKeyNotFound);
    EXPECT_EQ(s->RenameKey("none", "m", "x"), StoreResult::kSectionNotFound);
    EXPECT_EQ(s->GetValue("长名字"_gbk, "key"), "1");
    EXPECT_EQ(s->GetValue("S", "k"), "3");
}

TEST(Rename, AKeyOfTheNextSectionIsNotTakenForAnEmptySectionsKey) {
    TempDir dir;
    CheckedStore s(dir);
    const std::string initial = Lines({"[S]", "[T]", "k=1"});
    ASSERT_TRUE(s.OpenWith(initial));
    EXPECT_EQ(s->GetValue("S", "k", "none"), "none");
    EXPECT_EQ(s->RenameKey("S", "k", "j"), StoreResult::kKeyNotFound);
    EXPECT_EQ(s->DeleteEntry("S", "k"), StoreResult::kKeyNotFound);
    EXPECT_EQ(s.FileBytes(), initial);
    EXPECT_EQ(s->SetValue("S", "k", "0"), StoreResult::kDone);
    EXPECT_EQ(s.FileBytes(), Lines({"[S]", "k=0", "[T]", "k=1"}));
}

TEST(Listing, SectionsAndKeysComeInFileOrder) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(Lines({"first=0", "[Alpha]", "a=1", "=nokey", "plain line", "b=2",
                                  "[Beta]", "a=3", "[Alpha]", "c=4", "[x] tail", "d=5"}) +
                           "\r\n"));
    Names names;
    EXPECT_EQ(s->ListSections(names), 3);
    EXPECT_EQ(names, (Names{"Alpha", "Beta", "Alpha"}));
    EXPECT_EQ(s->ListSections(names, "lph"), 2);
    EXPECT_EQ(s->ListSections(names, "", "Al"), 1);
    EXPECT_EQ(names, (Names{"Beta"}));

    Names keys;
    // Every line, the first one too, unlike a read that never sees it.
    EXPECT_EQ(s->ListKeys(keys), 6);
    EXPECT_EQ(keys, (Names{"first", "a", "b", "a", "c", "d"}));
    EXPECT_EQ(s->GetValue("", "first", "unseen"), "unseen");
    EXPECT_EQ(s->ListKeys(keys, "a"), 2);
    EXPECT_EQ(s->ListKeys(keys, "", "a"), 4);
    // Restricted: the first section passing the section tests, up to the next header line.
    EXPECT_EQ(s->ListKeys(keys, "", "", "yes"), 2);
    EXPECT_EQ(keys, (Names{"a", "b"}));
    EXPECT_EQ(s->ListKeys(keys, "", "", "yes", "Beta"), 1);
    EXPECT_EQ(keys, (Names{"a"}));
    EXPECT_EQ(s->ListKeys(keys, "", "", "yes", "", "Alpha"), 1);
    EXPECT_EQ(s->ListKeys(keys, "", "", "yes", "Gamma"), 0);
    EXPECT_TRUE(keys.empty());
}

TEST(Listing, StopsAtAZeroOrEndOfFileByteAndTakesLoneLineFeeds) {
    TempDir dir;
    CheckedStore s(dir);
    const char withZero[] = "[A]\na=1\r\n[B]\0\r\n[C]\r\nc=1";
    ASSERT_TRUE(s.OpenWith(std::string(withZero, sizeof withZero - 1)));
    Names names, keys;
    EXPECT_EQ(s->ListSections(names), 2);
    EXPECT_EQ(names, (Names{"A", "B"}));
    EXPECT_EQ(s->ListKeys(keys), 1);
    s->SetContent("[A]\r\na=1\x1A\r\n[C]\r\nc=1");
    EXPECT_EQ(s->ListSections(names), 1);
    EXPECT_EQ(s->ListKeys(keys), 1);
    EXPECT_EQ(keys, (Names{"a"}));
}

TEST(Search, SectionsWithKeyFollowTheEnclosingHeaders) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(Lines({"k=top", "[A]", "k=1", "j=0", "k=2", "[B]", "j=1", "[C]", "k=3",
                                  "x[D]", "k=4", "[E]", "k=5"})));
    Names names;
    // A twice, but listed once; D is no header, so its key counts for C, which is listed already.
    EXPECT_EQ(s->SectionsWithKey("k", names), 3);
    EXPECT_EQ(names, (Names{"A", "C", "E"}));
    EXPECT_EQ(s->SectionsWithKey("j", names), 2);
    EXPECT_EQ(names, (Names{"A", "B"}));
    EXPECT_EQ(s->SectionsWithKey("none", names), 0);
}

TEST(Search, KeysWithValueMatchesValuePrefixes) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith(Lines(
        {"top=yes", "[A]", "a=yes", "b=no", "c=", "d=yesno", "[B]", "e=yes", "f=", "g=last"})));
    Names keys;
    EXPECT_EQ(s->KeysWithValue("yes", keys), 4);
    EXPECT_EQ(keys, (Names{"top", "a", "d", "e"}));
    EXPECT_EQ(s->KeysWithValue("yes", keys, "A"), 2);
    EXPECT_EQ(keys, (Names{"a", "d"}));
    EXPECT_EQ(s->KeysWithValue("yes", keys, "B"), 1);
    // An empty prefix finds the empty values followed by a line break.
    EXPECT_EQ(s->KeysWithValue("", keys), 2);
    EXPECT_EQ(keys, (Names{"c", "f"}));
    EXPECT_EQ(s->KeysWithValue("", keys, "B"), 1);
    EXPECT_EQ(s->KeysWithValue("yes", keys, "Z"), 0);
}

TEST(Search, NextHeaderBetweenTakesOnlyCompleteHeaderLines) {
    TempDir dir;
    CheckedStore s(dir);
    // 1-based: "[A]" 1..3, CR LF 4..5, "a=1" 6..8, CR LF 9..10, "[B" 11..12, CR LF 13..14,
    // "]" 15, CR LF 16..17, "[C]" 18..20, CR LF 21..22, "c" 23.
    ASSERT_TRUE(s.OpenWith(Lines({"[A]", "a=1", "[B", "]", "[C]", "c"})));
    EXPECT_EQ(s->NextHeaderBetween(1, 23), 18);
    EXPECT_EQ(s->NextHeaderBetween(0, 23), 18);
    EXPECT_EQ(s->NextHeaderBetween(1, 21), 18);  // its CR lies before the end, its "]" at it
    EXPECT_EQ(s->NextHeaderBetween(1, 19), -1);  // its "]" lies beyond the end
    EXPECT_EQ(s->NextHeaderBetween(19, 23), -1);
    EXPECT_EQ(s->NextHeaderBetween(1, 0), -1);
}

TEST(WholeContent, SetGetReloadSaveAndCopy) {
    TempDir dir;
    CheckedStore s(dir);
    ASSERT_TRUE(s.OpenWith("[S]\r\nk=1"));
    EXPECT_EQ(s->GetContent(), "[S]\r\nk=1");
    s->SetContent("[T]\r\nj=2");
    EXPECT_EQ(s.FileBytes(), "[T]\r\nj=2");
    s->SetContent("\r\nmore", true);
    EXPECT_EQ(s.FileBytes(), "[T]\r\nj=2\r\nmore");
    s->SetContent(std::string("cut\0here", 8));  // taken as text
    EXPECT_EQ(s.FileBytes(), "cut");
    s->SetContent("");
    EXPECT_EQ(s.FileBytes(), "");

    // A long file: the tail moves in blocks on every insertion and deletion.
    std::string big = "[S]\r\nk=v";
    for (int i = 0; i < 3000; ++i) big += "\r\nkey" + std::to_string(i) + "=" + std::string(7, 'x');
    s->SetContent(big);
    EXPECT_EQ(s->SetValue("S", "k", std::string(5000, 'y')), StoreResult::kDone);
    EXPECT_EQ(s->SetValue("S", "k", "short"), StoreResult::kDone);
    EXPECT_EQ(s->SetValue("S", "new", "z"), StoreResult::kDone);
    EXPECT_EQ(s->DeleteEntry("S", "key5"), StoreResult::kDone);
    EXPECT_EQ(s->GetValue("S", "key2999"), "xxxxxxx");

    s->SetContent("[S]\r\nk=1");
    // GetContent stops at a zero byte the file may hold; the bytes are all there.
    s.WriteFile(std::string("[S]\r\nk=a\0b", 10));
    s->Reload();
    EXPECT_EQ(s->GetContent(), "[S]\r\nk=a");
    EXPECT_EQ(Probe::ContentBytes(s.store()).size(), 10u);
    EXPECT_EQ(s->GetValue("S", "k"), "a");
    s->SetContent("[S]\r\nk=1");

    EXPECT_TRUE(s->SaveAs(dir / "saved.ini"));
    EXPECT_EQ(ReadFileOrMissing(dir / "saved.ini"), "[S]\r\nk=1");

    // A copy refers to the same file and keeps it open after the original lets it go.
    {
        ConfigStore copy(s.store());
        EXPECT_EQ(Probe::ContentBytes(copy), "[S]\r\nk=1");
        EXPECT_EQ(copy.FileName(), s.path());
        s->Close();
        EXPECT_EQ(Probe::ContentBytes(s.store()), "");
        EXPECT_EQ(copy.SetValue("S", "k", "2"), StoreResult::kDone);
        EXPECT_EQ(ReadFileOrMissing(s.path()), "[S]\r\nk=2");
        ConfigStore other;
        EXPECT_FALSE(other.OpenFile(s.path(), false));  // the copy still holds it
    }
    ConfigStore after;
    EXPECT_TRUE(after.OpenFile(s.path(), false));
    EXPECT_EQ(after.GetValue("S", "k"), "2");
}

TEST(WholeContent, OpenRecordsTheLocationAndBinds) {
    TempDir dir;
    ConfigStore store;
    EXPECT_EQ(store.GetLocation(), "");
    const std::string path = dir / "设置.ini"_gbk;
    EXPECT_TRUE(store.Open(path));
    EXPECT_EQ(store.GetLocation(), path);
    EXPECT_EQ(store.FileName(), path);
    EXPECT_EQ(ReadFileOrMissing(path), "");
    store.SetSection("S");
    EXPECT_EQ(Probe::RegistryPath(store), "Qorv软件\\设置\\S\\"_gbk);
    EXPECT_EQ(Probe::CurrentSection(store), "S");
}

TEST(SetValue, ASectionThatCannotBeEstablishedIsReportedAfterElevenAppends) {
    TempDir dir;
    CheckedStore s(dir);
    std::vector<platform::MessageRequest>& shown = s.points().shown;
    ASSERT_TRUE(s.OpenWith("[A]\r\nk=1"));
    // The header written is the name's text, which stops at the zero byte, so the search for
    // the whole name never finds it.
    const std::string name("S\0x", 3);
    EXPECT_EQ(s->SetValue(name, "k", "v"), StoreResult::kFailed);
    std::string expected = "[A]\r\nk=1";
    for (int i = 0; i < 11; ++i) expected += "\r\n[S]";
    EXPECT_EQ(s.FileBytes(), expected);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "配置模块出现意外，可能导致无法正常保存！详情请咨询Qorv。"_gbk);
    EXPECT_EQ(shown[0].title, "Qorv："_gbk);
    EXPECT_TRUE(shown[0].warning);
    EXPECT_TRUE(shown[0].systemModal);
    EXPECT_EQ(shown[1].text, expected);
    EXPECT_EQ(shown[1].title, "");
    EXPECT_FALSE(shown[1].warning);
    EXPECT_FALSE(shown[1].systemModal);

    // In an empty file the first header has no line break before it.
    CheckedStore t(dir, "empty.ini");
    t.store().SetEventPoints(s.points());
    ASSERT_TRUE(t.Open());
    t->SetSection(name);
    EXPECT_EQ(t->WriteText("k", "v"), WriteResult::kFailed);
    EXPECT_EQ(t.FileBytes().substr(0, 8), "[S]\r\n[S]");
    EXPECT_EQ(shown.size(), 4u);

    // A key holding a zero byte is refused before anything changes.
    shown.clear();
    EXPECT_EQ(s->SetValue("A", std::string("k\0j", 3), "v"), StoreResult::kFailed);
    EXPECT_EQ(s.FileBytes(), expected);
    EXPECT_TRUE(shown.empty());
}

TEST(Markers, TheStoresHelperFindsTextBetweenDelimiters) {
    EXPECT_EQ(ConfigStore::TextBetweenMarkers("whole", "", ""), "whole");
    EXPECT_EQ(ConfigStore::TextBetweenMarkers("[基本配置]"_gbk, "[", "]"), "基本配置"_gbk);
    EXPECT_EQ(ConfigStore::TextBetweenMarkers("k=v=w", "", "="), "k");
    EXPECT_EQ(ConfigStore::TextBetweenMarkers("k=v=w", "=", ""), "v=w");
    EXPECT_EQ(ConfigStore::TextBetweenMarkers("src=\"a.gif\" x", "SRC=''", "''"), "a.gif");
    EXPECT_EQ(ConfigStore::TextBetweenMarkers("src=a.gif x", "src=''", " "), "a.gif");
    EXPECT_EQ(ConfigStore::TextBetweenMarkers("none", "[", "]"), "");
    text::MarkerSearch search;
    search.backward = true;
    EXPECT_EQ(ConfigStore::TextBetweenMarkers("[a][b]", "[", "]", search), "b");
    EXPECT_EQ(search.start, 4);
    EXPECT_EQ(ConfigStore::TextBetweenMarkers("[a][b]", "[", "]", search), "a");
}

}  // namespace
}  // namespace zembrat::config
