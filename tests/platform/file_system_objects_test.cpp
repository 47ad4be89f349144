#include "platform/file_system_objects.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "platform/files.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::platform {
namespace {
namespace fs = std::filesystem;
using namespace text::literals;
using testing::ReadFileOrMissing;
using testing::TempDir;

TEST(FileSystemObjects, EnumeratorClonesKeepTheirOwnPosition) {
    std::vector<ComponentPtr> items;
    for (const char* path : {"/a", "/b", "/c"}) items.push_back(std::make_shared<FileObject>(path));
    ItemCollection collection(items);
    EXPECT_EQ(collection.Count(), 3u);
    EXPECT_EQ(collection.Item(1), items[1]);
    EXPECT_EQ(collection.Item(3), nullptr);

    auto enumerator = std::dynamic_pointer_cast<ItemEnumerator>(collection.NewEnum());
    ASSERT_TRUE(enumerator);
    ComponentPtr out[2];
    std::size_t fetched = 0;
    EXPECT_EQ(enumerator->Next(std::span<ComponentPtr>(out, 1), fetched), kResultOk);
    auto clone = enumerator->Clone();
    EXPECT_EQ(enumerator->Next(out, fetched), kResultOk);
    EXPECT_EQ(out[1], items[2]);
    EXPECT_EQ(enumerator->Next(out, fetched), kResultFalse);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(clone->Next(std::span<ComponentPtr>(out, 1), fetched), kResultOk);
    EXPECT_EQ(out[0], items[1]);
    // Each enumerator of a collection starts at the first item.
    auto fresh = std::dynamic_pointer_cast<ItemEnumerator>(collection.NewEnum());
    EXPECT_EQ(fresh->Skip(3), kResultOk);
    EXPECT_EQ(fresh->Skip(1), kResultFalse);
}

TEST(FileSystemObjects, ParentNameKeepsASeparatorThatWasDoubled) {
    FileSystemObject fso;
    EXPECT_EQ(fso.GetParentFolderName("/a//b"), "/a/");
    EXPECT_EQ(fso.GetParentFolderName("/a/b//"), "/a");
}

TEST(FileSystemObjects, ExistingNamesWinOverWildcards) {
    TempDir dir;
    FileSystemObject fso;
    dir.Write("a*b", "star");
    dir.Write("axb", "x");
    platform::CreateOneFolder(dir / "out");
    // A name that exists is taken as it stands, "*" and all.
    EXPECT_TRUE(fso.CopyFile(dir / "a*b", dir / "out/", true));
    EXPECT_EQ(ReadFileOrMissing(dir / "out/a*b"), "star");
    EXPECT_EQ(ReadFileOrMissing(dir / "out/axb"), "<missing>");
    EXPECT_TRUE(fso.CopyFile(dir / "a?b", dir / "out", true));  // wildcards: into the folder
    EXPECT_EQ(ReadFileOrMissing(dir / "out/axb"), "x");
    EXPECT_FALSE(fso.CopyFile(dir / "*.none", dir / "out", true));
    EXPECT_FALSE(fso.DeleteFile(dir / "*.none", false));

    dir.Write("trees/one/f", "1");
    dir.Write("trees/two/g", "2");
    platform::CreateOneFolder(dir / "copies");
    EXPECT_TRUE(fso.CopyFolder(dir / "trees/*", dir / "copies", true));
    EXPECT_EQ(ReadFileOrMissing(dir / "copies/one/f"), "1");
    EXPECT_EQ(ReadFileOrMissing(dir / "copies/two/g"), "2");
    EXPECT_TRUE(fso.DeleteFolder(dir / "copies/t*", false));
    EXPECT_TRUE(fso.FolderExists(dir / "copies/one"));
    EXPECT_FALSE(fso.FolderExists(dir / "copies/two"));
}

// A folder on another file system than the temporary folder, when the machine has one.
class OtherFileSystem {
  public:
    OtherFileSystem() {
        struct stat shm = {};
        struct stat tmp = {};
        if (::stat("/dev/shm", &shm) != 0 || ::stat(fs::temp_directory_path().c_str(), &tmp) != 0 ||
            shm.st_dev == tmp.st_dev)
            return;
        std::string pattern = "/dev/shm/zembrat-test-XXXXXX";
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~OtherFileSystem() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

TEST(FileSystemObjects, MovesReachAnotherFileSystemByCopying) {
    OtherFileSystem other;
    if (other.path().empty()) GTEST_SKIP() << "no second file system to move to";
    TempDir dir;
    FileSystemObject fso;
    const std::string file = dir.Write("文件.txt"_gbk, "content");
    EXPECT_TRUE(fso.MoveFile(file, other.path() + "/"));
    EXPECT_EQ(ReadFileOrMissing(other.path() + "/" + "文件.txt"_gbk), "content");
    EXPECT_FALSE(fso.FileExists(file));

    dir.Write("tree/sub/leaf.txt", "leaf");
    fs::create_symlink("sub/leaf.txt", NativePath(dir / "tree/link"));
    EXPECT_TRUE(fso.MoveFolder(dir / "tree", other.path() + "/tree"));
    EXPECT_EQ(ReadFileOrMissing(other.path() + "/tree/sub/leaf.txt"), "leaf");
    EXPECT_EQ(ReadFileOrMissing(other.path() + "/tree/link"), "leaf");  // still a working link
    EXPECT_TRUE(fs::is_symlink(other.path() + "/tree/link"));
    EXPECT_FALSE(fso.FolderExists(dir / "tree"));

    // Drives tell the two file systems apart.
    const auto here = fso.GetDrive(dir.path());
    const auto there = fso.GetDrive(other.path());
    ASSERT_TRUE(here && there);
    EXPECT_NE(here->Path(), there->Path());
    EXPECT_EQ(there->FileSystem(), "tmpfs");
    EXPECT_EQ(there->DriveType(), kDriveRamDisk);
    EXPECT_NE(here->SerialNumber(), there->SerialNumber());
}

}  // namespace
}  // namespace zembrat::platform
