#include "platform/file_replace.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include "file_checks.h"
#include "platform/files.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::platform {
namespace {
using namespace text::literals;
using testing::TempDir;
using V = std::vector<std::string>;

TEST(FileReplace, WriteFileBeneathReplacesWhatIsAtTheNameWithoutWritingThroughIt) {
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

TEST(FileReplace, ANameShowsOnlyWholeBytesAndLeftoversOfEndedRunsAreSwept) {
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

TEST(FileReplace, AResultIsNeverMoreOpenThanItsSource) {
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

TEST(FileReplace, WriteFileAtomicallyReplacesTheFileWholeOrNotAtAll) {
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

}  // namespace
}  // namespace zembrat::platform
