#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

#include "platform/event_points.h"
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
    EXPECT_TRUE(std::filesystem::exists(
        std::filesystem::path(text::Utf8FromGbk(dir.path()) + "/\xE6\x96\x87\xE7\xAB\xA0.htm")));
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
    EXPECT_FALSE(
        WildcardMatch("\x81"
                      "a",
                      "\x81"
                      "A"));  // a trail byte is not a letter
}

TEST(Files, SearchListsMatchingFilesInNameOrder) {
    TempDir dir;
    for (const char* name : {"b.htm", "A.HTM", "c.html", "a.txt", "_x.htm"}) dir.Write(name, "x");
    std::filesystem::create_directory(NativePath(dir / "sub.htm"));
    std::filesystem::create_directory_symlink(NativePath(dir / "sub.htm"),
                                              NativePath(dir / "link.htm"));
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

std::string Disk(const std::string& path) {
    text::Bytes bytes;
    return ReadWholeFile(path, bytes) ? bytes : "<none>";
}

TEST(Files, StoreBytesBeneathMakesANewFileOnlyWhereNothingIsYet) {
    TempDir dir;
    const std::string base = dir / "结果"_gbk;
    ASSERT_TRUE(CreateOneFolder(base));
    const std::string rel = "0 files/图/a.png"_gbk;
    EXPECT_EQ(StoreBytesBeneath(base, rel, "PNG1"), StoreBytesResult::Stored);
    EXPECT_EQ(Disk(base + "/" + rel), "PNG1");  // the missing folders were made
    EXPECT_EQ(StoreBytesBeneath(base, rel, "PNG1"), StoreBytesResult::Same);
    EXPECT_EQ(StoreBytesBeneath(base, rel, "PNG2"), StoreBytesResult::Taken);
    EXPECT_EQ(StoreBytesBeneath(base, rel, "PNG"), StoreBytesResult::Taken);  // a prefix
    EXPECT_EQ(Disk(base + "/" + rel), "PNG1");
    EXPECT_EQ(StoreBytesBeneath(base, "0 files/empty", ""), StoreBytesResult::Stored);
    EXPECT_EQ(Disk(base + "/0 files/empty"), "");
    // Nothing but the stored files is left in the folder (no temporary file).
    EXPECT_EQ(ListFolder(base + "/0 files").size(), 2u);

    // A folder, a link or a device at the name is taken; nothing is written through a link.
    ASSERT_TRUE(CreateOneFolder(base + "/0 files/dir.png"));
    EXPECT_EQ(StoreBytesBeneath(base, "0 files/dir.png", "x"), StoreBytesResult::Taken);
    dir.Write("outside.png", "PNG1");
    std::filesystem::create_symlink(NativePath(dir / "outside.png"),
                                    NativePath(base + "/0 files/link.png"));
    EXPECT_EQ(StoreBytesBeneath(base, "0 files/link.png", "PNG1"), StoreBytesResult::Taken);
    EXPECT_EQ(StoreBytesBeneath(base, "0 files/link.png", "other"), StoreBytesResult::Taken);
    EXPECT_EQ(Disk(dir / "outside.png"), "PNG1");
    std::filesystem::create_symlink("/dev/zero", NativePath(base + "/0 files/zero.png"));
    EXPECT_EQ(StoreBytesBeneath(base, "0 files/zero.png", "x"), StoreBytesResult::Taken);
    // A hard link is a regular file: compared, never written.
    std::filesystem::create_hard_link(NativePath(dir / "outside.png"),
                                      NativePath(base + "/0 files/hard.png"));
    EXPECT_EQ(StoreBytesBeneath(base, "0 files/hard.png", "PNG1"), StoreBytesResult::Same);
    EXPECT_EQ(StoreBytesBeneath(base, "0 files/hard.png", "PNG2"), StoreBytesResult::Taken);
    EXPECT_EQ(Disk(dir / "outside.png"), "PNG1");

    // A linked folder on the way, or a way out of the base, fails and writes nothing.
    ASSERT_TRUE(CreateOneFolder(dir / "elsewhere"));
    std::filesystem::create_directory_symlink(NativePath(dir / "elsewhere"),
                                              NativePath(base + "/linked"));
    EXPECT_EQ(StoreBytesBeneath(base, "linked/a.png", "x"), StoreBytesResult::Failed);
    EXPECT_EQ(StoreBytesBeneath(base, "linked/new/a.png", "x"), StoreBytesResult::Failed);
    EXPECT_EQ(StoreBytesBeneath(base, "../escaped.png", "x"), StoreBytesResult::Failed);
    EXPECT_EQ(StoreBytesBeneath(base, "a/../../escaped.png", "x"), StoreBytesResult::Failed);
    EXPECT_EQ(StoreBytesBeneath(base, "/tmp/abs.png", "x"), StoreBytesResult::Failed);
    EXPECT_TRUE(ListFolder(dir / "elsewhere").empty());
    EXPECT_FALSE(PathExists(dir / "escaped.png"));
    EXPECT_FALSE(PathExists(base + "/a"));
    // A file where a folder should be.
    EXPECT_EQ(StoreBytesBeneath(base, "0 files/empty/a.png", "x"), StoreBytesResult::Failed);
}

TEST(Files, AHeldFolderStoresAsStoreBytesBeneathAndIsMadeAgainWhenRemoved) {
    TempDir dir;
    const std::string base = dir / "结果"_gbk;
    ASSERT_TRUE(CreateOneFolder(base));
    FolderBeneath folder(base, "files\\..\\x/图"_gbk);  // a backslash is part of a name here
    EXPECT_FALSE(PathExists(base + "/files\\..\\x"));   // nothing is made before a store
    EXPECT_EQ(folder.Store("a.png", "PNG1"), StoreBytesResult::Stored);
    EXPECT_EQ(folder.Store("a.png", "PNG1"), StoreBytesResult::Same);
    EXPECT_EQ(folder.Store("a.png", "PNG2"), StoreBytesResult::Taken);
    EXPECT_EQ(folder.Store("sub/b.png", "x"), StoreBytesResult::Failed);  // one name only
    EXPECT_EQ(Disk(base + "/files\\..\\x/图/a.png"_gbk), "PNG1");
    // Removed by hand while held: made again at the next store.
    std::filesystem::remove_all(NativePath(base + "/files\\..\\x"));
    EXPECT_EQ(folder.Store("c.png", "PNG3"), StoreBytesResult::Stored);
    EXPECT_EQ(Disk(base + "/files\\..\\x/图/c.png"_gbk), "PNG3");

    // The same refusals as StoreBytesBeneath: a way out, a linked folder on the way.
    EXPECT_EQ(FolderBeneath(base, "../out").Store("a.png", "x"), StoreBytesResult::Failed);
    EXPECT_EQ(FolderBeneath(base, "").Store("a.png", "x"), StoreBytesResult::Failed);
    ASSERT_TRUE(CreateOneFolder(dir / "elsewhere"));
    std::filesystem::create_directory_symlink(NativePath(dir / "elsewhere"),
                                              NativePath(base + "/linked"));
    EXPECT_EQ(FolderBeneath(base, "linked/new").Store("a.png", "x"), StoreBytesResult::Failed);
    EXPECT_TRUE(ListFolder(dir / "elsewhere").empty());
}

TEST(Files, WriteFileBeneathReplacesWhatIsAtTheNameWithoutWritingThroughIt) {
    TempDir dir;
    const std::string base = dir / "结果"_gbk;
    ASSERT_TRUE(CreateOneFolder(base));
    EXPECT_TRUE(WriteFileBeneath(base, "sub/文章.htm"_gbk, "new"));
    EXPECT_EQ(Disk(base + "/sub/文章.htm"_gbk), "new");
    EXPECT_TRUE(WriteFileBeneath(base, "sub/文章.htm"_gbk, "again"));
    EXPECT_EQ(Disk(base + "/sub/文章.htm"_gbk), "again");

    // A symbolic link and a hard link at the name are replaced; what they led to stays as it was.
    dir.Write("source.htm", "source");
    std::filesystem::create_symlink(NativePath(dir / "source.htm"),
                                    NativePath(base + "/sub/sym.htm"));
    std::filesystem::create_hard_link(NativePath(dir / "source.htm"),
                                      NativePath(base + "/sub/hard.htm"));
    EXPECT_TRUE(WriteFileBeneath(base, "sub/sym.htm", "rewritten"));
    EXPECT_TRUE(WriteFileBeneath(base, "sub/hard.htm", "rewritten"));
    EXPECT_EQ(Disk(dir / "source.htm"), "source");
    EXPECT_EQ(Disk(base + "/sub/sym.htm"), "rewritten");
    EXPECT_FALSE(std::filesystem::is_symlink(NativePath(base + "/sub/sym.htm")));
    EXPECT_EQ(Disk(base + "/sub/hard.htm"), "rewritten");

    // A folder at the name, a linked folder on the way, a way out: false, nothing written.
    ASSERT_TRUE(CreateOneFolder(base + "/sub/dir.htm"));
    EXPECT_FALSE(WriteFileBeneath(base, "sub/dir.htm", "x"));
    EXPECT_TRUE(IsFolder(base + "/sub/dir.htm"));
    ASSERT_TRUE(CreateOneFolder(dir / "elsewhere"));
    std::filesystem::create_directory_symlink(NativePath(dir / "elsewhere"),
                                              NativePath(base + "/linked"));
    EXPECT_FALSE(WriteFileBeneath(base, "linked/a.htm", "x"));
    EXPECT_FALSE(WriteFileBeneath(base, "../escaped.htm", "x"));
    EXPECT_TRUE(ListFolder(dir / "elsewhere").empty());
    EXPECT_FALSE(PathExists(dir / "escaped.htm"));
    // No temporary file is left behind by any of these.
    EXPECT_EQ(ListFolder(base + "/sub").size(), 4u);
}

TEST(EventPoints, ABaseObjectForwardsItsWaitsAndAnswersWithoutAWindow) {
    struct Counting : EventPoints {
        void ProcessEvents() override { ++passes; }
        int passes = 0;
    } points;
    points.KeepPainted();  // a wait's point is an event pass unless the window says otherwise
    EXPECT_EQ(points.passes, 1);
    EXPECT_FALSE(points.StopRequested());
    std::stop_source stop;
    points.SetStopToken(stop.get_token());
    stop.request_stop();
    EXPECT_TRUE(points.StopRequested());
    MessageRequest question;
    question.text = "?";
    question.buttons = MessageButtons::YesNo;
    EXPECT_EQ(NoEventPoints().ShowMessage(question), MessageAnswer::No);
    question.buttons = MessageButtons::Ok;
    EXPECT_EQ(NoEventPoints().ShowMessage(question), MessageAnswer::Ok);
}

}  // namespace
}  // namespace zembrat::platform
