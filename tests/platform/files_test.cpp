#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

#include "platform/events.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::platform {
namespace {
using namespace text::literals;
using testing::TempDir;
using V = std::vector<std::string>;

TEST(Files, WholeFilesAreReadAndReplaced) {
    TempDir dir;
    const std::string path = dir / "文章.htm"_gbk;
    const std::string bytes("a\0b\xFF", 4);
    ASSERT_TRUE(WriteWholeFile(path, bytes));
    text::Bytes read;
    ASSERT_TRUE(ReadWholeFile(path, read));
    EXPECT_EQ(read, bytes);
    ASSERT_TRUE(WriteWholeFile(path, "x"));
    ASSERT_TRUE(ReadWholeFile(path, read));
    EXPECT_EQ(read, "x");
    // The name reached the file system as UTF-8.
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(
        text::Utf8FromGbk(dir.path()) + "/\xE6\x96\x87\xE7\xAB\xA0.htm")));
    EXPECT_FALSE(ReadWholeFile(dir / "missing", read));
    EXPECT_EQ(read, "");
    EXPECT_FALSE(ReadWholeFile(dir.path(), read));  // a folder is no file
    EXPECT_FALSE(WriteWholeFile(dir / "no/such/folder/x", "x"));
    // Only regular files are read: a FIFO would block, a device could never end.
    ASSERT_EQ(mkfifo(NativePath(dir / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(ReadWholeFile(dir / "fifo", read));
    std::filesystem::create_symlink("/dev/zero", NativePath(dir / "zero.htm"));
    EXPECT_FALSE(ReadWholeFile(dir / "zero.htm", read));
    std::filesystem::create_symlink(NativePath(path), NativePath(dir / "link.htm"));
    EXPECT_TRUE(ReadWholeFile(dir / "link.htm", read));  // a link to a file is read through
    EXPECT_EQ(read, "x");
    EXPECT_FALSE(WriteWholeFile(dir / "link.htm", "through the link"));
    EXPECT_FALSE(WriteWholeFile(dir / "fifo", "nobody reads"));
    ASSERT_TRUE(ReadWholeFile(path, read));
    EXPECT_EQ(read, "x");
}

TEST(Files, FoldersAreMadeOneLevelAtATime) {
    TempDir dir;
    EXPECT_FALSE(CreateOneFolder(dir / "a/b"));
    EXPECT_TRUE(CreateOneFolder(dir / "a"));
    EXPECT_FALSE(CreateOneFolder(dir / "a"));  // already there
    EXPECT_TRUE(IsFolder(dir / "a"));
    EXPECT_TRUE(PathExists(dir / "a"));
    dir.Write("f", "x");
    EXPECT_TRUE(PathExists(dir / "f"));
    EXPECT_FALSE(IsFolder(dir / "f"));
    EXPECT_FALSE(PathExists(dir / "g"));
}

TEST(Files, WildcardsMatchWholeCharactersWithoutCase) {
    EXPECT_TRUE(WildcardMatch("*.htm", "a.HTM"));
    EXPECT_FALSE(WildcardMatch("*.htm", "a.html"));
    EXPECT_TRUE(WildcardMatch("news*.htm", "news.htm"));
    EXPECT_FALSE(WildcardMatch("news*.htm", "mynews.htm"));
    EXPECT_TRUE(WildcardMatch("?.txt", "a.txt"));
    EXPECT_FALSE(WildcardMatch("?.txt", ".txt"));
    EXPECT_FALSE(WildcardMatch("?.txt", "ab.txt"));
    EXPECT_TRUE(WildcardMatch("?.txt", "文.txt"_gbk));  // one character, two bytes
    EXPECT_TRUE(WildcardMatch("*", ""));
    EXPECT_TRUE(WildcardMatch("*.*", "a.b.c"));
    EXPECT_TRUE(WildcardMatch("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(WildcardMatch("", "a"));
    EXPECT_FALSE(WildcardMatch("\x81" "a", "\x81" "A"));  // a trail byte is not a letter
}

TEST(Files, SearchListsMatchingFilesInNameOrder) {
    TempDir dir;
    for (const char* name : {"b.htm", "A.HTM", "c.html", "a.txt", "_x.htm"}) dir.Write(name, "x");
    std::filesystem::create_directory(NativePath(dir / "sub.htm"));
    std::filesystem::create_directory_symlink(NativePath(dir / "sub.htm"), NativePath(dir / "link.htm"));
    std::filesystem::create_symlink(NativePath(dir / "b.htm"), NativePath(dir / "z.htm"));
    EXPECT_EQ(SearchFiles(dir.path(), "*.htm"), (V{"_x.htm", "A.HTM", "b.htm", "z.htm"}));
    EXPECT_EQ(SearchFiles(dir.path(), "?.*"), (V{"A.HTM", "a.txt", "b.htm", "c.html", "z.htm"}));
    EXPECT_EQ(SearchFiles(dir.path(), ""), V{});
    EXPECT_EQ(SearchFiles(dir / "missing", "*"), V{});
    const auto entries = ListFolder(dir.path());
    ASSERT_EQ(entries.size(), 8u);
    EXPECT_EQ(entries[4].name, "c.html");
    EXPECT_EQ(entries[5].name, "link.htm");
    EXPECT_TRUE(entries[5].isFolder);
    EXPECT_FALSE(entries[7].isFolder);  // z.htm, a link to a file
}

TEST(Events, HooksAreCalledAndReplaceable) {
    int full = 0, paint = 0;
    auto oldFull = SetProcessEventsHook([&] { ++full; });
    auto oldPaint = SetKeepWindowPaintedHook([&] { ++paint; });
    ProcessEvents();
    ProcessEvents();
    KeepWindowPainted();
    EXPECT_EQ(full, 2);
    EXPECT_EQ(paint, 1);
    SetProcessEventsHook(oldFull);
    SetKeepWindowPaintedHook(oldPaint);
    ProcessEvents();
    EXPECT_EQ(full, 2);
}

}  // namespace
}  // namespace zembrat::platform
