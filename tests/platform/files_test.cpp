#include "platform/files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Runs write in a child process whose files may not grow past 4096 bytes, so that a longer write
// is killed by SIGXFSZ part-way; the signal that ended the child (0 when it exited).
int KilledWhileWriting(const std::function<void()>& write) {
    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        write();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// A process id that no process has any more.
pid_t EndedProcess() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

TEST(Files, ANameShowsOnlyWholeBytesAndLeftoversOfEndedRunsAreSwept) {
    TempDir dir;
    const std::string base = dir / "结果"_gbk;
    ASSERT_TRUE(CreateOneFolder(base));
    const std::string big(100000, 'b');
    dir.Write("结果/a.htm"_gbk, "earlier");
    // Killed in the middle of writing: no image under its name, the earlier article as it was.
    EXPECT_EQ(KilledWhileWriting([&] { FolderBeneath(base, "img").Store("A.png", big); }), SIGXFSZ);
    EXPECT_EQ(KilledWhileWriting([&] { StoreBytesBeneath(base, "img/B.png", big); }), SIGXFSZ);
    EXPECT_EQ(KilledWhileWriting([&] { WriteFileBeneath(base, "a.htm", big); }), SIGXFSZ);
    EXPECT_FALSE(PathExists(base + "/img/A.png"));
    EXPECT_FALSE(PathExists(base + "/img/B.png"));
    EXPECT_EQ(Disk(base + "/a.htm"), "earlier");
    EXPECT_EQ(FolderBeneath(base, "img").Store("A.png", big), StoreBytesResult::Stored);
    EXPECT_EQ(Disk(base + "/img/A.png"), big);

    // What a killed run may leave is swept: only the program's temporary names of ended
    // processes, only regular files; this process's own and anything else stay.
    const std::string dead = std::to_string(EndedProcess());
    const std::string own = std::to_string(getpid());
    const V leftovers = {".zembrat-" + dead + "-0.tmp", "img/.zembrat-" + dead + "-17.tmp",
                         "img/deeper/.zembrat-" + dead + "-2.tmp"};
    const V kept = {".zembrat-" + own + "-1.tmp",
                    ".zembrat-" + dead + "-x.tmp",
                    "zembrat-" + dead + "-1.tmp",
                    ".zembrat-" + dead + "-1.tmp.htm",
                    "img/A.png",
                    "a.htm"};
    for (const std::string& name : leftovers) dir.Write("结果/"_gbk + name, "part");
    for (const std::string& name : kept) dir.Write("结果/"_gbk + name, "keep");
    ASSERT_TRUE(CreateOneFolder(base + "/.zembrat-" + dead + "-5.tmp"));
    std::filesystem::create_symlink(NativePath(dir / "outside"),
                                    NativePath(base + "/.zembrat-" + dead + "-6.tmp"));
    EXPECT_EQ(RemoveLeftoverTemporaries(base + "/", "img\\..\\x"), 1u);  // no such folder
    EXPECT_EQ(RemoveLeftoverTemporaries(base, "img/deeper"), 1u);
    EXPECT_EQ(RemoveLeftoverTemporaries(base, "img"), 1u);
    EXPECT_EQ(RemoveLeftoverTemporaries(base, "img"), 0u);
    for (const std::string& name : leftovers) EXPECT_FALSE(PathExists(base + "/" + name)) << name;
    for (const std::string& name : kept) EXPECT_TRUE(PathExists(base + "/" + name)) << name;
    EXPECT_TRUE(IsRealFolder(base + "/.zembrat-" + dead + "-5.tmp"));
    EXPECT_TRUE(PathExists(base + "/.zembrat-" + dead + "-6.tmp"));
    // A base that is a link is not swept.
    std::filesystem::create_directory_symlink(NativePath(base), NativePath(dir / "link"));
    dir.Write("结果/.zembrat-"_gbk + dead + "-7.tmp", "part");
    EXPECT_EQ(RemoveLeftoverTemporaries(dir / "link", "img"), 0u);
    EXPECT_TRUE(PathExists(base + "/.zembrat-" + dead + "-7.tmp"));
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

TEST(Files, AResultIsNeverMoreOpenThanItsSource) {
    TempDir dir;
    const mode_t mask = umask(022);
    dir.Write("src.htm", "s");
    ASSERT_EQ(chmod(NativePath(dir / "src.htm").c_str(), 0640), 0);
    const auto bits = PermissionBits(dir / "src.htm");
    ASSERT_TRUE(bits.has_value());
    EXPECT_EQ(*bits, 0640u);
    EXPECT_FALSE(PermissionBits(dir / "missing").has_value());
    const auto mode = [&](const std::string& name) {
        struct stat st {};
        stat(NativePath(dir / name).c_str(), &st);
        return st.st_mode & 07777;
    };
    EXPECT_TRUE(WriteFileBeneath(dir.path(), "a.htm", "1", *bits));
    EXPECT_EQ(mode("a.htm"), 0640u);
    EXPECT_TRUE(WriteFileBeneath(dir.path(), "a.htm", "2", 0600));  // replaced, mode and all
    EXPECT_EQ(mode("a.htm"), 0600u);
    EXPECT_TRUE(WriteFileBeneath(dir.path(), "b.htm", "3", 06777));  // no set-id bits, umask kept
    EXPECT_EQ(mode("b.htm"), 0755u);
    EXPECT_TRUE(WriteFileBeneath(dir.path(), "c.htm", "4"));
    EXPECT_EQ(mode("c.htm"), 0644u);
    EXPECT_EQ(Disk(dir / "a.htm"), "2");
    umask(mask);
}

TEST(Files, WriteFileAtomicallyReplacesTheFileWholeOrNotAtAll) {
    TempDir dir;
    const std::string path = dir / "报告.csv"_gbk;
    EXPECT_TRUE(WriteFileAtomically(path, "first"));
    EXPECT_EQ(Disk(path), "first");
    EXPECT_TRUE(WriteFileAtomically(path, "second"));
    EXPECT_EQ(Disk(path), "second");
    const std::string big(100000, 'r');
    EXPECT_EQ(KilledWhileWriting([&] { WriteFileAtomically(path, big); }), SIGXFSZ);
    EXPECT_EQ(Disk(path), "second");

    // A link at the name is replaced, what it led to stays; a folder at the name is refused.
    dir.Write("kept.csv", "kept");
    std::filesystem::create_symlink(NativePath(dir / "kept.csv"), NativePath(dir / "link.csv"));
    EXPECT_TRUE(WriteFileAtomically(dir / "link.csv", "new"));
    EXPECT_EQ(Disk(dir / "kept.csv"), "kept");
    EXPECT_EQ(Disk(dir / "link.csv"), "new");
    EXPECT_FALSE(std::filesystem::is_symlink(NativePath(dir / "link.csv")));
    ASSERT_TRUE(CreateOneFolder(dir / "folder.csv"));
    EXPECT_FALSE(WriteFileAtomically(dir / "folder.csv", "x"));
    EXPECT_FALSE(WriteFileAtomically(dir / "missing/r.csv", "x"));
    EXPECT_FALSE(WriteFileAtomically(dir / "", "x"));
    // Nothing but the named files is in the folder: no temporary file stayed behind.
    V names;
    for (const FolderEntry& entry : ListFolder(dir.path())) names.push_back(entry.name);
    EXPECT_EQ(names, (V{"folder.csv", "kept.csv", "link.csv", "报告.csv"_gbk}));
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
