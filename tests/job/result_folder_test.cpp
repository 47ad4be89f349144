#include "job/result_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "job/run.h"
#include "platform/files.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::job {
namespace {
using namespace text::literals;
using testing::TempDir;

TEST(MakeFolders, MakesEveryFolderThatEndsBeforeASeparator) {
    TempDir dir;
    // A path ending in a separator makes its last folder; a file path only its folders.
    EXPECT_TRUE(MakeFolders(dir / "a/b/"));
    EXPECT_TRUE(platform::IsFolder(dir / "a/b"));
    EXPECT_TRUE(MakeFolders(dir / "x/y/z.gif"));
    EXPECT_TRUE(platform::IsFolder(dir / "x/y"));
    EXPECT_FALSE(platform::PathExists(dir / "x/y/z.gif"));
    // Existing levels are passed over, Chinese names are made as they are.
    EXPECT_TRUE(MakeFolders(dir / "a/图片/"_gbk));
    EXPECT_TRUE(platform::IsFolder(dir / "a/图片"_gbk));
    // A name without any separator makes nothing.
    EXPECT_TRUE(MakeFolders("relative-name"));
    EXPECT_FALSE(platform::PathExists("relative-name"));
}

TEST(MakeFolders, FailsWhenALevelCannotBeMade) {
    TempDir dir;
    dir.Write("file", "x");
    // A file in the way is "something of that name": passed over, and the next level fails.
    EXPECT_FALSE(MakeFolders(dir / "file/sub/"));
    std::filesystem::create_directory(platform::NativePath(dir / "locked"));
    std::filesystem::permissions(
        platform::NativePath(dir / "locked"),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    if (platform::CreateOneFolder(dir / "locked/probe"))
        GTEST_SKIP() << "running with rights to write anywhere";
    EXPECT_FALSE(MakeFolders(dir / "locked/a/b/"));
}

TEST(ResultFolder, OneSeparatorWithOrWithoutAFinalOne) {
    const std::string expected = "/home/u/文章目录/转存结果/"_gbk;
    EXPECT_EQ(ResultFolder("/home/u/文章目录"_gbk), expected);
    EXPECT_EQ(ResultFolder("/home/u/文章目录/"_gbk), expected);
    // A final "\" is an ordinary character on this platform; a trail byte 0x5C is no separator.
    EXPECT_EQ(ResultFolder("/a\x81\x5C"), "/a\x81\x5C/" + "转存结果/"_gbk);
}

TEST(ArticleStatusText, CountIndexAndBaseName) {
    EXPECT_EQ(ArticleStatusText(25, 3, "/art/news.htm"), "(25:3)news");
    EXPECT_EQ(ArticleStatusText(2, 1, "/art/a.b.htm"), "(2:1)a.b");
    EXPECT_EQ(ArticleStatusText(1, 1, "/art/README"), "(1:1)README");
    EXPECT_EQ(ArticleStatusText(40000, 32768, "/art/说明.txt"_gbk), "(40000:32768)说明"_gbk);
}

}  // namespace
}  // namespace zembrat::job
