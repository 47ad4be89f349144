// Saves that cannot complete: a full disk, a read-only file, a file that lost its name. The
// settings file must come out of each exactly as it went in.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "checked_store.h"
#include "support/tmpfs_mount.h"
#include "text/codec.h"

namespace zembrat::config {
namespace {

namespace fs = std::filesystem;
using namespace text::literals;
using testing::CheckedStore;
using testing::Lines;
using zembrat::testing::ReadFileOrMissing;
using zembrat::testing::TempDir;

using zembrat::testing::TmpfsMount;

// Writes a file until the disk takes no more.
void FillDisk(const std::string& path) {
    std::FILE* f = std::fopen(platform::NativePath(path).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string block(4096, 'f');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
    }
    std::fclose(f);
}

std::string Wide(std::size_t characters) {
    std::string s;
    for (std::size_t i = 0; i < characters; ++i) s += "图"_gbk;
    return s;
}

TEST(FailedSave, AFullDiskLeavesTheFileAsItWasAndTheNextSaveWritesAll) {
    TempDir dir;
    TmpfsMount disk(dir / "disk", "size=16k");
    if (!disk.mounted()) GTEST_SKIP() << "no right to mount a file system here";
    const std::string path = dir / "disk/Zembrat.ini";
    const std::string initial =
        Lines({"[基本配置]"_gbk, "图片存放目录=图片"_gbk, "文章目录=/home/文章"_gbk});
    ASSERT_TRUE(platform::WriteWholeFile(path, initial));
    ConfigStore store;
    ASSERT_TRUE(store.Open(path, DiskFile));
    store.SetSection("基本配置"_gbk);
    FillDisk(dir / "disk/filler");

    // The file's page has room up to 4096 bytes. Values that take the file just past it (the
    // tail shift's write is cut short in the middle of a character) or far past it fail, and
    // the file keeps every byte it had.
    const std::size_t rest = initial.size() - "图片"_gbk.size();
    for (std::size_t past : {1, 3, 40, 3000}) {
        const std::string value = Wide((4096 + past - rest) / 2 + 1);
        EXPECT_EQ(store.WriteText("图片存放目录"_gbk, value), WriteResult::kFailed) << past;
        EXPECT_EQ(ReadFileOrMissing(path), initial) << past;
        EXPECT_FALSE(store.WritesReachDisk());
    }
    const std::string wide = Wide(3000);
    EXPECT_EQ(store.WriteText("图片存放目录"_gbk, wide), WriteResult::kFailed);
    EXPECT_EQ(store.WriteText("新的域名前缀"_gbk, std::string(5000, 'n')), WriteResult::kFailed);
    EXPECT_EQ(ReadFileOrMissing(path), initial);

    // The store still holds the values; once there is room, the next save writes them all, in
    // the layout the store promises, and later saves patch the file in place again.
    fs::remove(platform::NativePath(dir / "disk/filler"));
    EXPECT_EQ(store.WriteText("文章目录"_gbk, "/srv"), WriteResult::kWritten);
    EXPECT_TRUE(store.WritesReachDisk());
    EXPECT_EQ(ReadFileOrMissing(path),
              Lines({"[基本配置]"_gbk, "新的域名前缀="_gbk + std::string(5000, 'n'),
                     "图片存放目录="_gbk + wide, "文章目录=/srv"_gbk}));
    EXPECT_EQ(store.WriteText("图片存放目录"_gbk, "i"), WriteResult::kWritten);
    EXPECT_EQ(ReadFileOrMissing(path),
              Lines({"[基本配置]"_gbk, "新的域名前缀="_gbk + std::string(5000, 'n'),
                     "图片存放目录=i"_gbk, "文章目录=/srv"_gbk}));
}

TEST(FailedSave, AFileThatCannotBeWrittenIsReadAndItsSavesFail) {
    TempDir dir;
    TmpfsMount disk(dir / "ro", "size=64k");
    if (!disk.mounted()) GTEST_SKIP() << "no right to mount a file system here";
    const std::string path = dir / "ro/Zembrat.ini";
    const std::string initial = Lines({"[基本配置]"_gbk, "文章目录=/home/文章"_gbk});
    ASSERT_TRUE(platform::WriteWholeFile(path, initial));
    if (!disk.RemountReadOnly()) GTEST_SKIP() << "no right to make the file system read-only";

    ConfigStore store;
    EXPECT_FALSE(store.Open(path, DiskFile));
    EXPECT_FALSE(store.LockedByAnother());
    store.SetSection("基本配置"_gbk);
    EXPECT_EQ(store.ReadText("文章目录"_gbk, "default"), "/home/文章"_gbk);
    EXPECT_EQ(store.WriteText("文章目录"_gbk, "/srv"), WriteResult::kFailed);
    EXPECT_FALSE(store.WritesReachDisk());
    EXPECT_EQ(ReadFileOrMissing(path), initial);
}

TEST(FailedSave, ASettingsFileThatLostItsNameTakesNoSave) {
    TempDir dir;
    // Renamed away while the store holds it: the renamed file is the user's, and stays as it is.
    dir.Write("a/Zembrat.ini", "[S]\r\nk=1");
    CheckedStore moved(dir, "a/Zembrat.ini");
    ASSERT_TRUE(moved.Open());
    moved->SetSection("S");
    fs::rename(platform::NativePath(moved.path()), platform::NativePath(dir / "a/Zembrat.bak"));
    EXPECT_EQ(moved.store().WriteText("k", "2"), WriteResult::kFailed);
    EXPECT_FALSE(moved.store().WritesReachDisk());
    EXPECT_EQ(ReadFileOrMissing(dir / "a/Zembrat.bak"), "[S]\r\nk=1");
    EXPECT_EQ(ReadFileOrMissing(moved.path()), "<missing>");

    // Its folder removed: the save goes nowhere, and says so.
    dir.Write("program/Zembrat.ini", "[S]\r\nk=1");
    CheckedStore lost(dir, "program/Zembrat.ini");
    ASSERT_TRUE(lost.Open());
    lost->SetSection("S");
    fs::remove_all(platform::NativePath(dir / "program"));
    EXPECT_EQ(lost.store().WriteText("k", "2"), WriteResult::kFailed);
    EXPECT_FALSE(lost.store().WritesReachDisk());
    EXPECT_FALSE(platform::PathExists(dir / "program"));
}

}  // namespace
}  // namespace zembrat::config
