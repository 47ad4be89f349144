#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

#include "file_checks.h"
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

TEST(Files, AResultFolderThatIsALinkTakesNothing) {
    TempDir dir;
    ASSERT_TRUE(CreateOneFolder(dir / "target"));
    const std::string result = dir / "文章/转存结果/"_gbk;
    ASSERT_TRUE(CreateOneFolder(dir / "文章"_gbk));
    EXPECT_TRUE(MakeResultFolder(result));
    EXPECT_TRUE(MakeResultFolder(result));  // already there
    EXPECT_TRUE(IsRealFolder(result));
    EXPECT_FALSE(MakeResultFolder(dir / "missing/转存结果/"_gbk));

    std::filesystem::remove(NativePath(result));
    std::filesystem::create_directory_symlink(NativePath(dir / "target"),
                                              NativePath(dir / "文章/转存结果"_gbk));
    EXPECT_FALSE(IsRealFolder(result));
    EXPECT_FALSE(IsRealFolder(dir / "文章/转存结果"_gbk));
    EXPECT_TRUE(IsFolder(result));
    EXPECT_FALSE(MakeResultFolder(result));
    EXPECT_EQ(FolderBeneath(result, "img").Store("A.png", "x"), StoreBytesResult::Failed);
    EXPECT_EQ(StoreBytesBeneath(result, "img/A.png", "x"), StoreBytesResult::Failed);
    EXPECT_EQ(StoreBytesBeneath(dir / "文章/转存结果"_gbk, "A.png", "x"), StoreBytesResult::Failed);
    EXPECT_FALSE(WriteFileBeneath(result, "a.htm", "x"));
    EXPECT_FALSE(WriteFileBeneath(result, "a.htm", "x", 0644));
    EXPECT_TRUE(ListFolder(dir / "target").empty());
    // A link higher up the path is the user's own layout and is followed.
    std::filesystem::create_directory_symlink(NativePath(dir / "target"), NativePath(dir / "up"));
    ASSERT_TRUE(CreateOneFolder(dir / "target/转存结果"_gbk));
    EXPECT_TRUE(WriteFileBeneath(dir / "up/转存结果/"_gbk, "a.htm", "x"));
    EXPECT_EQ(Disk(dir / "target/转存结果/a.htm"_gbk), "x");
}
TEST(Files, AFileIsReadWithinItsFolderOnlyWhereItsLinksStayInside) {
    TempDir dir;
    namespace fs = std::filesystem;
    const std::string secret = dir.Write("secret.txt", "root:x:0:0");
    const std::string folder = dir / "文章"_gbk;
    dir.Write("文章/a.htm"_gbk, "<p>a</p>");
    dir.Write("文章/sub/b.htm"_gbk, "<p>b</p>");
    auto link = [&](const std::string& target, const std::string& at) {
        fs::create_symlink(NativePath(target), NativePath(folder + "/" + at));
    };
    link(secret, "passwd.htm");               // a link out, absolute
    link("../secret.txt", "up.htm");          // a link out, relative
    link("a.htm", "same.htm");                // a link inside
    link(folder + "/sub/b.htm", "deep.htm");  // absolute, but inside
    link(dir.path(), "outside");              // a folder link out on the way
    fs::create_symlink(NativePath(folder), NativePath(dir / "via"));
    ASSERT_EQ(::mkfifo(NativePath(folder + "/fifo.htm").c_str(), 0600), 0);

    struct Case {
        std::string path;
        std::string bytes;  // empty: refused
    };
    const Case cases[] = {
        {folder + "/a.htm", "<p>a</p>"},
        {"a.htm", "<p>a</p>"},
        {folder + "/sub/b.htm", "<p>b</p>"},
        {folder + "/same.htm", "<p>a</p>"},
        {folder + "/deep.htm", "<p>b</p>"},
        {dir / "via/a.htm", "<p>a</p>"},  // by a link to the folder
        {folder + "/passwd.htm", ""},
        {"up.htm", ""},
        {folder + "/outside/secret.txt", ""},
        {folder + "/sub/../../secret.txt", ""},
        {secret, ""},
        {folder + "/fifo.htm", ""},
        {folder + "/missing.htm", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(text::Utf8FromGbk(c.path));
        text::Bytes read = "left over";
        EXPECT_EQ(ReadFileWithin(folder, c.path, read), !c.bytes.empty());
        EXPECT_EQ(read, c.bytes);
    }
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
