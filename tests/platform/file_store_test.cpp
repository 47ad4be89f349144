#include "platform/file_store.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "file_checks.h"
#include "platform/files.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::platform {
namespace {
using namespace text::literals;
using testing::TempDir;

TEST(FileStore, StoreBytesBeneathMakesANewFileOnlyWhereNothingIsYet) {
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

TEST(FileStore, AHeldFolderStoresAsStoreBytesBeneathAndIsMadeAgainWhenRemoved) {
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

}  // namespace
}  // namespace zembrat::platform
