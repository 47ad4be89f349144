#include "automation/file_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <regex>

#include "automation/collection_walker.h"
#include "platform/files.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::automation {
namespace {
namespace fs = std::filesystem;
using namespace text::literals;
using platform::DateTime;
using platform::NativePath;
using testing::ReadFileOrMissing;
using testing::TempDir;
using V = std::vector<std::string>;

// The names of a collection's elements, walked as the article listing walks them.
template <class Item>
V Names(const ObjectHolder& collection) {
    V names;
    CollectionWalker walker;
    walker.Start(collection);
    VariantValue element;
    while (walker.Next(element)) {
        Item item;
        item.Attach(element.AsObject());
        names.push_back(item.Name());
        element.Clear();
    }
    return names;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::lstat(NativePath(path).c_str(), &st);
    return st.st_mode;
}

TEST(FileSystem, ParentFolderNameLosesOneTrailingSeparator) {
    FileSystem fso;
    EXPECT_EQ(fso.GetParentFolderName("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(fso.GetParentFolderName("/a/b/"), "/a");  // a separator at the end is no name
    EXPECT_EQ(fso.GetParentFolderName("/a//b"), "/a");  // the component answers "/a/"
    EXPECT_EQ(fso.GetParentFolderName("/a"), "/");      // the root keeps its only byte
    EXPECT_EQ(fso.GetParentFolderName("/"), "");
    EXPECT_EQ(fso.GetParentFolderName("a"), "");
    EXPECT_EQ(fso.GetParentFolderName("a/b"), "a");
    EXPECT_EQ(fso.GetParentFolderName("/文章/图片/x.jpg"_gbk), "/文章/图片"_gbk);
}

TEST(FileSystem, PathTextsAreTakenApartAndJoined) {
    FileSystem fso;
    EXPECT_EQ(fso.BuildPath("/a", "b"), "/a/b");
    EXPECT_EQ(fso.BuildPath("/a/", "b"), "/a/b");
    EXPECT_EQ(fso.BuildPath("/a/", "/b"), "/a/b");
    EXPECT_EQ(fso.BuildPath("", "b"), "b");
    EXPECT_EQ(fso.GetFileName("/a/文章.htm"_gbk), "文章.htm"_gbk);
    EXPECT_EQ(fso.GetFileName("/a/b/"), "b");
    EXPECT_EQ(fso.GetBaseName("/a/x.tar.gz"), "x.tar");
    EXPECT_EQ(fso.GetExtensionName("/a/x.tar.gz"), "gz");
    EXPECT_EQ(fso.GetExtensionName("/a.d/x"), "");
    EXPECT_EQ(fso.GetAbsolutePathName("/a/./b/../c/"), "/a/c");
    EXPECT_EQ(fso.GetAbsolutePathName(""), platform::GbkFromNative(fs::current_path()));
    EXPECT_TRUE(std::regex_match(fso.GetTempName(), std::regex("rad[0-9A-F]{5}\\.tmp")));
    EXPECT_EQ(fso.GetFileVersion("/bin/sh"), "");
}

TEST(FileSystem, CopyFileReplacesTheDestinationUnlessToldNot) {
    TempDir dir;
    FileSystem fso;
    const std::string source = dir.Write("new.txt", "new");
    const std::string target = dir.Write("old.txt", "old");
    fso.CopyFile(source, target, false);
    EXPECT_EQ(ReadFileOrMissing(target), "old");
    fso.CopyFile(source, target);  // overwrite when not said otherwise
    EXPECT_EQ(ReadFileOrMissing(target), "new");

    // Into a folder when the destination ends with a separator.
    platform::CreateOneFolder(dir / "out");
    fso.CopyFile(source, dir / "out/");
    EXPECT_EQ(ReadFileOrMissing(dir / "out/new.txt"), "new");

    // Never over a read-only file, never over a folder, never onto itself.
    const std::string locked = dir.Write("locked.txt", "locked");
    ::chmod(NativePath(locked).c_str(), 0444);
    fso.CopyFile(source, locked);
    EXPECT_EQ(ReadFileOrMissing(locked), "locked");
    fso.CopyFile(source, dir / "out");
    EXPECT_TRUE(fso.FolderExists(dir / "out"));
    fso.CopyFile(source, source);
    EXPECT_EQ(ReadFileOrMissing(source), "new");

    // Wildcards pick the matching files of the folder.
    dir.Write("a.htm", "a");
    dir.Write("B.HTM", "b");
    platform::CreateOneFolder(dir / "htm");
    fso.CopyFile(dir / "*.htm", dir / "htm");
    EXPECT_EQ(ReadFileOrMissing(dir / "htm/a.htm"), "a");
    EXPECT_EQ(ReadFileOrMissing(dir / "htm/B.HTM"), "b");
    EXPECT_EQ(ReadFileOrMissing(dir / "htm/new.txt"), "<missing>");
}

TEST(FileSystem, CreateTextFileKeepsAnExistingFileUnlessToldToReplaceIt) {
    TempDir dir;
    FileSystem fso;
    const std::string path = dir.Write("a.txt", "keep");
    TextStreamItem refused = fso.CreateTextFile(path);
    EXPECT_TRUE(refused.object().empty());
    refused.Write("lost");
    EXPECT_EQ(ReadFileOrMissing(path), "keep");

    TextStreamItem stream = fso.CreateTextFile(path, true);
    ASSERT_FALSE(stream.object().empty());
    stream.Write("中文"_gbk);
    stream.WriteLine("x");
    stream.WriteBlankLines(2);
    EXPECT_EQ(stream.Line(), 4);
    stream.Write("ab");
    EXPECT_EQ(stream.Column(), 3);
    stream.Close();
    EXPECT_EQ(ReadFileOrMissing(path), "中文x\r\n\r\n\r\nab"_gbk);

    // Unicode: UTF-16 LE after a byte-order mark.
    const std::string wide = dir / "wide.txt";
    TextStreamItem unicode = fso.CreateTextFile(wide, false, true);
    unicode.WriteLine("A中"_gbk);
    unicode.Close();
    EXPECT_EQ(ReadFileOrMissing(wide), std::string("\xFF\xFE"
                                                   "A\0\x2D\x4E\r\0\n\0",
                                                   10));

    // Through a folder: a relative name is taken inside it; an item wrapper copy shares the stream.
    TextStreamItem inside =
        fso.GetFolder(dir.path()).CreateTextFile("在里面.txt"_gbk, false, false);
    TextStreamItem same = inside;
    EXPECT_EQ(inside.object().referenceCount(), 2);
    same.Write("x");
    inside.Close();
    EXPECT_EQ(ReadFileOrMissing(dir / "在里面.txt"_gbk), "x");
    EXPECT_TRUE(fso.CreateTextFile(dir.path(), true).object().empty());  // a folder is no file
}

TEST(FileSystem, OpenTextFileReadsGbkLinesByDefault) {
    TempDir dir;
    FileSystem fso;
    const std::string path = dir.Write("a.txt", "第一行\r\nsecond\nthird"_gbk);
    TextStreamItem stream = fso.OpenTextFile(path);
    ASSERT_FALSE(stream.object().empty());
    EXPECT_EQ(stream.Line(), 1);
    EXPECT_EQ(stream.Read(2), "第一"_gbk);  // characters, not bytes
    EXPECT_EQ(stream.Column(), 3);
    EXPECT_FALSE(stream.AtEndOfLine());
    stream.Skip(1);
    EXPECT_TRUE(stream.AtEndOfLine());  // before CR LF
    EXPECT_EQ(stream.ReadLine(), "");
    EXPECT_EQ(stream.Line(), 2);
    EXPECT_EQ(stream.ReadLine(), "second");
    EXPECT_FALSE(stream.AtEndOfStream());
    EXPECT_EQ(stream.ReadLine(), "third");
    EXPECT_TRUE(stream.AtEndOfStream());
    EXPECT_EQ(stream.ReadLine(), "");
    stream.Write("no");  // opened for reading
    stream.Close();
    EXPECT_EQ(ReadFileOrMissing(path), "第一行\r\nsecond\nthird"_gbk);
    EXPECT_EQ(stream.Line(), 0);
    EXPECT_TRUE(stream.AtEndOfStream());  // a closed stream ends read loops

    stream = fso.OpenTextFile(path);
    stream.SkipLine();
    EXPECT_EQ(stream.ReadAll(), "second\nthird");
    EXPECT_EQ(stream.Line(), 3);
    EXPECT_EQ(stream.Column(), 6);

    // A missing file is not made unless asked.
    EXPECT_TRUE(fso.OpenTextFile(dir / "missing.txt").object().empty());
    EXPECT_FALSE(fso.FileExists(dir / "missing.txt"));
    EXPECT_TRUE(fso.OpenTextFile(dir / "missing.txt", kForAppending, true).AtEndOfStream());
    EXPECT_TRUE(fso.FileExists(dir / "missing.txt"));
    EXPECT_TRUE(fso.OpenTextFile(path, 3).object().empty());  // no such mode
    EXPECT_TRUE(fso.OpenTextFile(path, kForReading, false, 5).object().empty());
}

TEST(FileSystem, TextStreamsWriteAppendAndReadEachFormat) {
    TempDir dir;
    FileSystem fso;
    const std::string path = dir.Write("a.txt", "old");
    TextStreamItem append = fso.OpenTextFile(path, kForAppending);
    append.WriteLine("+");
    append.Close();
    EXPECT_EQ(ReadFileOrMissing(path), "old+\r\n");
    TextStreamItem rewrite = fso.OpenTextFile(path, kForWriting);
    rewrite.Write("new");
    rewrite.Close();
    EXPECT_EQ(ReadFileOrMissing(path), "new");

    // UTF-16 written, appended and read back; the mark is written once and skipped on reading.
    const std::string wide = dir / "wide.txt";
    TextStreamItem out = fso.OpenTextFile(wide, kForWriting, true, kFormatUnicode);
    out.WriteLine("甲"_gbk);
    out.Close();
    out = fso.OpenTextFile(wide, kForAppending, false, kFormatUnicode);
    out.Write("乙"_gbk);
    out.Close();
    EXPECT_EQ(ReadFileOrMissing(wide).size(), 2u + 2 * 4);
    TextStreamItem in = fso.OpenTextFile(wide, kForReading, false, kFormatUnicode);
    EXPECT_EQ(in.ReadLine(), "甲"_gbk);
    EXPECT_EQ(in.ReadAll(), "乙"_gbk);
    // The system default and ASCII formats hand over the bytes as they are.
    EXPECT_EQ(fso.OpenTextFile(wide).Read(1), "\xFF\xFE");  // one two-byte character
    EXPECT_EQ(fso.GetFile(path).OpenAsTextStream(kForReading, kFormatAscii).ReadAll(), "new");
    EXPECT_EQ(fso.GetFile(path).OpenAsTextStream(kForReading).ReadAll(), "new");

    // A read-only file is not opened for writing.
    ::chmod(NativePath(path).c_str(), 0444);
    EXPECT_TRUE(fso.OpenTextFile(path, kForWriting).object().empty());
    EXPECT_EQ(ReadFileOrMissing(path), "new");
}

TEST(FileSystem, LongStreamsReadWholeAcrossTheirReadBlocks) {
    TempDir dir;
    FileSystem fso;
    // GBK: lines long enough that reads end inside a two-byte character and inside CR LF.
    std::string expected;
    for (int i = 0; i < 30000; ++i) expected += "行"_gbk + std::to_string(i) + "\r\n";
    const std::string gbkPath = dir.Write("long.txt", expected);
    TextStreamItem lines = fso.OpenTextFile(gbkPath);
    int count = 0;
    std::string rebuilt;
    while (!lines.AtEndOfStream()) {
        rebuilt += lines.ReadLine() + "\r\n";
        ++count;
    }
    EXPECT_EQ(count, 30000);
    EXPECT_EQ(rebuilt, expected);
    EXPECT_EQ(lines.Line(), 30001);

    // UTF-16 with a surrogate pair split between the first two blocks of the file.
    std::string wide = "\xFF\xFE";
    for (int i = 0; i < 32766; ++i) wide += std::string("a\0", 2);
    wide += std::string("\x3D\xD8\x00\xDE", 4);  // U+1F600
    wide += std::string("z\0", 2);
    const std::string widePath = dir.Write("wide.txt", wide);
    const std::string all =
        fso.OpenTextFile(widePath, kForReading, false, kFormatUnicode).ReadAll();
    ASSERT_EQ(all.size(), 32766u + 4 + 1);
    EXPECT_EQ(all.find_first_not_of('a'), 32766u);
    EXPECT_EQ(all.substr(32766), text::GbkFromUtf8("\xF0\x9F\x98\x80") + "z");
}

TEST(FileSystem, MoveFileTellsWhetherTheFileArrived) {
    TempDir dir;
    FileSystem fso;
    const std::string a = dir.Write("a.txt", "a");
    EXPECT_TRUE(fso.MoveFile(a, dir / "A.TXT"));  // onto its own name in other letter case
    EXPECT_EQ(ReadFileOrMissing(dir / "A.TXT"), "a");
    EXPECT_FALSE(fso.FileExists(a));
    EXPECT_TRUE(fso.MoveFile(dir / "A.TXT", dir / "A.TXT"));  // onto itself
    EXPECT_TRUE(fso.MoveFile(dir / "A.TXT", dir / "文章.txt"_gbk));
    EXPECT_EQ(ReadFileOrMissing(dir / "文章.txt"_gbk), "a");

    EXPECT_FALSE(fso.MoveFile(dir / "missing.txt", dir / "b.txt"));
    EXPECT_FALSE(fso.MoveFile(dir / "missing.txt", dir / "MISSING.TXT"));
    // An existing destination is never replaced.
    dir.Write("b.txt", "b");
    EXPECT_FALSE(fso.MoveFile(dir / "文章.txt"_gbk, dir / "b.txt"));
    EXPECT_EQ(ReadFileOrMissing(dir / "b.txt"), "b");
    // Here "B.TXT" is another file than "b.txt": the move has not been done.
    dir.Write("B.TXT", "B");
    EXPECT_FALSE(fso.MoveFile(dir / "b.txt", dir / "B.TXT"));
    EXPECT_EQ(ReadFileOrMissing(dir / "b.txt"), "b");
    EXPECT_EQ(ReadFileOrMissing(dir / "B.TXT"), "B");

    // Into a folder named with a final separator.
    platform::CreateOneFolder(dir / "into");
    EXPECT_TRUE(fso.MoveFile(dir / "b.txt", dir / "into/"));
    EXPECT_EQ(ReadFileOrMissing(dir / "into/b.txt"), "b");
}

TEST(FileSystem, MoveFolderTellsWhetherTheFolderArrived) {
    TempDir dir;
    FileSystem fso;
    dir.Write("src/inner/f.txt", "f");
    EXPECT_TRUE(fso.MoveFolder(dir / "src", dir / "目标"_gbk));
    EXPECT_EQ(ReadFileOrMissing(dir / "目标/inner/f.txt"_gbk), "f");
    EXPECT_FALSE(fso.FolderExists(dir / "src"));
    EXPECT_TRUE(fso.MoveFolder(dir / "目标"_gbk, dir / "目标"_gbk));
    EXPECT_FALSE(fso.MoveFolder(dir / "src", dir / "other"));
    platform::CreateOneFolder(dir / "taken");
    EXPECT_FALSE(fso.MoveFolder(dir / "目标"_gbk, dir / "taken"));  // not onto an existing one
    EXPECT_TRUE(fso.FolderExists(dir / "目标"_gbk));
    EXPECT_FALSE(fso.MoveFolder(dir / "目标"_gbk, dir / "目标/inner/x"_gbk));  // not into itself
    EXPECT_TRUE(fso.MoveFolder(dir / "目标"_gbk, dir / "taken/"));
    EXPECT_EQ(ReadFileOrMissing(dir / "taken/目标/inner/f.txt"_gbk), "f");
}

TEST(FileSystem, CreateFolderTellsWhetherItWasMade) {
    TempDir dir;
    FileSystem fso;
    EXPECT_TRUE(fso.CreateFolder(dir / "新"_gbk));
    EXPECT_TRUE(platform::IsFolder(dir / "新"_gbk));
    EXPECT_FALSE(fso.CreateFolder(dir / "新"_gbk));  // already there
    EXPECT_FALSE(fso.CreateFolder(dir / "no/such"));
    EXPECT_FALSE(fso.CreateFolder(""));
}

TEST(FileSystem, MissingFolderGivesAnItemAnsweringEverythingEmpty) {
    TempDir dir;
    dir.Write("elsewhere/f.txt", "f");
    FileSystem fso;
    FolderItem missing = fso.GetFolder(dir / "missing");
    EXPECT_TRUE(missing.object().empty());
    EXPECT_EQ(missing.Path(), "");
    EXPECT_EQ(missing.Name(), "");
    EXPECT_EQ(missing.ShortPath(), "");
    EXPECT_EQ(missing.ShortName(), "");
    EXPECT_TRUE(missing.Drive().object().empty());
    EXPECT_TRUE(missing.ParentFolder().object().empty());
    EXPECT_EQ(missing.Attributes(), 0);
    EXPECT_EQ(missing.DateCreated(), DateTime{});
    EXPECT_EQ(missing.DateLastModified(), DateTime{});
    EXPECT_EQ(missing.DateLastAccessed(), DateTime{});
    EXPECT_EQ(missing.Type(), "");
    EXPECT_FALSE(missing.IsRootFolder());
    EXPECT_TRUE(missing.Size().empty());
    EXPECT_TRUE(missing.SubFolders().empty());
    EXPECT_TRUE(missing.Files().empty());
    EXPECT_TRUE(missing.Items(false).empty());
    EXPECT_EQ(Names<FileItem>(missing.Items(false)), V{});
    EXPECT_TRUE(missing.CreateTextFile(dir / "x.txt", true, false).object().empty());
    missing.SetName("x");
    missing.SetAttributes(1);
    missing.Copy(dir / "copy");
    missing.Move(dir / "moved");
    missing.Delete(true);
    EXPECT_EQ(platform::ListFolder(dir.path()).size(), 1u);  // nothing was made

    // A folder asked for as a file, a file as a folder, and a component that is not there.
    EXPECT_TRUE(fso.GetFile(dir / "elsewhere").object().empty());
    EXPECT_TRUE(fso.GetFolder(dir / "elsewhere/f.txt").object().empty());
    FileSystem none{ObjectHolder()};
    EXPECT_TRUE(none.GetFolder(dir.path()).object().empty());
    EXPECT_FALSE(none.FolderExists(dir.path()));
    EXPECT_FALSE(none.CreateFolder(dir / "x"));
    EXPECT_FALSE(none.MoveFile(dir / "elsewhere/f.txt", dir / "g.txt"));
    EXPECT_EQ(none.GetParentFolderName("/a/b"), "");
    EXPECT_TRUE(none.OpenTextFile(dir / "elsewhere/f.txt").AtEndOfStream());
    EXPECT_EQ(ReadFileOrMissing(dir / "elsewhere/f.txt"), "f");
    // An item wrapper attached to another kind of object lacks the kind's own members.
    FolderItem wrongKind;
    wrongKind.Attach(fso.GetFile(dir / "elsewhere/f.txt").object());
    EXPECT_EQ(wrongKind.Name(), "f.txt");
    EXPECT_TRUE(wrongKind.Files().empty());
}

TEST(FileSystem, FilesAndSubFoldersSplitAFolderInNameOrder) {
    TempDir dir;
    dir.Write("b.txt", "b");
    dir.Write("A.htm", "a");
    dir.Write("中文.htm"_gbk, "c");
    dir.Write("sub/inner.txt", "i");
    dir.Write("target/t.txt", "t");
    fs::create_directory_symlink(NativePath(dir / "target"), NativePath(dir / "linkdir"));
    fs::create_symlink(NativePath(dir / "b.txt"), NativePath(dir / "linkfile"));
    FileSystem fso;
    FolderItem folder = fso.GetFolder(dir.path() + "/");
    EXPECT_EQ(folder.Path(), dir.path());
    EXPECT_EQ(Names<FileItem>(folder.Files()), (V{"A.htm", "b.txt", "linkfile", "中文.htm"_gbk}));
    EXPECT_EQ(Names<FileItem>(folder.Items(false)), Names<FileItem>(folder.Files()));
    // A link to a folder counts as a folder.
    EXPECT_EQ(Names<FolderItem>(folder.SubFolders()), (V{"linkdir", "sub", "target"}));
    EXPECT_EQ(Names<FolderItem>(folder.Items(true)), (V{"linkdir", "sub", "target"}));

    // Each element stands for its entry: the Chinese name reaches the file again.
    CollectionWalker walker;
    ASSERT_TRUE(walker.Start(folder.Files()));
    VariantValue element;
    FileItem file;
    while (walker.Next(element)) file.Attach(element.AsObject());
    EXPECT_EQ(file.Path(), dir / "中文.htm"_gbk);
    EXPECT_EQ(ReadFileOrMissing(file.Path()), "c");
    EXPECT_EQ(file.ParentFolder().Path(), dir.path());
}

TEST(FileSystem, AttributesFollowPermissionsNamesAndKinds) {
    TempDir dir;
    FileSystem fso;
    const std::string plain = dir.Write("plain.txt", "p");
    const std::string hidden = dir.Write(".hidden", "h");
    platform::CreateOneFolder(dir / "folder");
    fs::create_symlink(NativePath(plain), NativePath(dir / "alias"));
    FileItem file = fso.GetFile(plain);
    EXPECT_EQ(file.Attributes(), 32);
    EXPECT_EQ(fso.GetFile(hidden).Attributes(), 2 | 32);
    EXPECT_EQ(fso.GetFolder(dir / "folder").Attributes(), 16);
    EXPECT_EQ(fso.GetFile(dir / "alias").Attributes(), 32 | 1024);

    file.SetAttributes(file.Attributes() | 1);
    EXPECT_EQ(file.Attributes(), 1 | 32);
    EXPECT_EQ(ModeOf(plain) & 0222, 0u);
    // A read-only file is deleted only with force.
    file.Delete(false);
    fso.DeleteFile(plain);
    EXPECT_TRUE(fso.FileExists(plain));
    file.SetAttributes(0);
    EXPECT_EQ(file.Attributes(), 32);
    EXPECT_NE(ModeOf(plain) & 0200, 0u);
    file.SetAttributes(1);
    fso.DeleteFile(plain, true);
    EXPECT_FALSE(fso.FileExists(plain));
}

TEST(FileSystem, DeletingRemovesOnlyWhatItNames) {
    TempDir dir;
    FileSystem fso;
    dir.Write("keep/precious.txt", "p");
    dir.Write("doomed/sub/f.txt", "f");
    fs::create_directory_symlink(NativePath(dir / "keep"), NativePath(dir / "doomed/link"));
    fs::create_directory_symlink(NativePath(dir / "keep"), NativePath(dir / "toplink"));
    fso.DeleteFolder(dir / "doomed");
    EXPECT_FALSE(fso.FolderExists(dir / "doomed"));
    EXPECT_EQ(ReadFileOrMissing(dir / "keep/precious.txt"), "p");  // never through a link
    fso.DeleteFolder(dir / "toplink");
    EXPECT_FALSE(platform::PathExists(dir / "toplink"));
    EXPECT_EQ(ReadFileOrMissing(dir / "keep/precious.txt"), "p");

    // A read-only file inside stops the deletion before anything is gone.
    dir.Write("guarded/a.txt", "a");
    const std::string locked = dir.Write("guarded/z.txt", "z");
    ::chmod(NativePath(locked).c_str(), 0444);
    fso.DeleteFolder(dir / "guarded");
    EXPECT_EQ(ReadFileOrMissing(dir / "guarded/a.txt"), "a");
    fso.GetFolder(dir / "guarded").Delete(true);
    EXPECT_FALSE(platform::PathExists(dir / "guarded"));

    // Wildcards in the last part.
    dir.Write("w/one.tmp", "1");
    dir.Write("w/TWO.TMP", "2");
    dir.Write("w/three.txt", "3");
    fso.DeleteFile(dir / "w/*.tmp");
    V left;
    for (const auto& entry : platform::ListFolder(dir / "w")) left.push_back(entry.name);
    EXPECT_EQ(left, V{"three.txt"});
    fso.DeleteFile(dir / "keep");  // a folder is no file
    EXPECT_TRUE(fso.FolderExists(dir / "keep"));
}

TEST(FileSystem, ItemsTellTheirPlaceSizeTypeAndDates) {
    TempDir dir;
    FileSystem fso;
    const std::string path = dir.Write("文章.htm"_gbk, "12345");
    dir.Write("sub/a.bin", std::string(100, 'x'));
    dir.Write("sub/deeper/b.bin", std::string(20, 'y'));
    fs::create_symlink(NativePath(path), NativePath(dir / "sub/link"));
    FileItem file = fso.GetFile(path);
    EXPECT_EQ(file.Name(), "文章.htm"_gbk);
    EXPECT_EQ(file.Path(), path);
    EXPECT_EQ(file.ShortPath(), path);
    EXPECT_EQ(file.ShortName(), "文章.htm"_gbk);
    EXPECT_EQ(file.Type(), "HTM 文件"_gbk);
    EXPECT_EQ(fso.GetFolder(dir / "sub").Type(), "文件夹"_gbk);
    EXPECT_EQ(file.Size(), VariantValue::Integer(5));
    EXPECT_EQ(fso.GetFolder(dir / "sub").Size(), VariantValue::Integer(120));  // links not followed

    std::tm when{};
    when.tm_year = 2021 - 1900;
    when.tm_mon = 2;
    when.tm_mday = 4;
    when.tm_hour = 5;
    when.tm_min = 6;
    when.tm_sec = 7;
    when.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&when), 0}, {std::mktime(&when) + 60, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, NativePath(path).c_str(), times, 0), 0);
    EXPECT_EQ(file.DateLastAccessed(), (DateTime{2021, 3, 4, 5, 6, 7}));
    EXPECT_EQ(file.DateLastModified(), (DateTime{2021, 3, 4, 5, 7, 7}));
    EXPECT_GT(file.DateCreated(), (DateTime{2000, 1, 1}));

    FolderItem temp = fso.GetSpecialFolder(2);
    EXPECT_EQ(temp.Path(), platform::GbkFromNative(fs::temp_directory_path().lexically_normal()));
    EXPECT_TRUE(fso.GetSpecialFolder(9).object().empty());
    EXPECT_TRUE(fso.GetFolder("/").IsRootFolder());
    EXPECT_FALSE(fso.GetFolder(dir.path()).IsRootFolder());
    EXPECT_TRUE(fso.GetFolder("/").ParentFolder().object().empty());

    // The drive is the file system the folder lies on.
    DriveItem drive = file.Drive();
    ASSERT_FALSE(drive.object().empty());
    EXPECT_TRUE(text::StartsWith(dir.path(), drive.Path()));
    EXPECT_EQ(drive.Path(), fso.GetDriveName(path));
    EXPECT_EQ(drive.Path(), fso.GetDrive(dir.path()).Path());
    EXPECT_EQ(drive.RootFolder().Path(), drive.Path());
    EXPECT_EQ(drive.DriveLetter(), "");
    EXPECT_TRUE(drive.IsReady());
    EXPECT_GT(drive.TotalSize(), 0);
    EXPECT_LE(drive.FreeSpace(), drive.TotalSize());
    EXPECT_LE(drive.AvailableSpace(), drive.FreeSpace());
    EXPECT_NE(drive.FileSystem(), "");
    EXPECT_GE(drive.DriveType(), 2);
    EXPECT_EQ(fso.GetDriveName("relative/x"), "");
    EXPECT_FALSE(fso.DriveExists(dir / "missing/x"));
    EXPECT_TRUE(fso.GetDrive(dir / "missing").object().empty());
    V drives;
    CollectionWalker walker;
    walker.Start(fso.Drives());
    for (VariantValue element; walker.Next(element);) {
        DriveItem each;
        each.Attach(element.AsObject());
        drives.push_back(each.Path());
    }
    EXPECT_NE(std::find(drives.begin(), drives.end(), drive.Path()), drives.end());
}

TEST(FileSystem, ItemsRenameCopyAndMoveThemselves) {
    TempDir dir;
    FileSystem fso;
    dir.Write("a.txt", "a");
    dir.Write("taken.txt", "t");
    FileItem file = fso.GetFile(dir / "a.txt");
    file.SetName("taken.txt");
    EXPECT_EQ(ReadFileOrMissing(dir / "taken.txt"), "t");
    file.SetName("改名.txt"_gbk);
    EXPECT_EQ(file.Path(), dir / "改名.txt"_gbk);
    EXPECT_EQ(ReadFileOrMissing(dir / "改名.txt"_gbk), "a");
    file.Copy(dir / "taken.txt");
    EXPECT_EQ(ReadFileOrMissing(dir / "taken.txt"), "a");
    platform::CreateOneFolder(dir / "box");
    file.Move(dir / "box/");
    EXPECT_EQ(file.Path(), dir / "box/改名.txt"_gbk);
    EXPECT_EQ(ReadFileOrMissing(file.Path()), "a");

    // A folder copies its whole tree; links inside are copied as links.
    fs::create_symlink(NativePath("改名.txt"_gbk), NativePath(dir / "box/link"));
    FolderItem box = fso.GetFolder(dir / "box");
    box.Copy(dir / "copy");
    EXPECT_EQ(ReadFileOrMissing(dir / "copy/改名.txt"_gbk), "a");
    EXPECT_TRUE(fs::is_symlink(NativePath(dir / "copy/link")));
    dir.Write("box/改名.txt"_gbk, "changed");
    box.Copy(dir / "copy", false);
    EXPECT_EQ(ReadFileOrMissing(dir / "copy/改名.txt"_gbk), "a");
    fso.CopyFolder(dir / "box", dir / "copy");
    EXPECT_EQ(ReadFileOrMissing(dir / "copy/改名.txt"_gbk), "changed");
    fso.CopyFolder(dir / "box", dir / "box/inner");  // never into itself
    EXPECT_FALSE(fso.FolderExists(dir / "box/inner"));
    box.Move(dir / "moved");
    EXPECT_EQ(box.Path(), dir / "moved");
    EXPECT_EQ(box.Name(), "moved");
    EXPECT_EQ(ReadFileOrMissing(dir / "moved/改名.txt"_gbk), "changed");
}

TEST(FileSystem, StandardOutputIsAWritingStream) {
    TempDir dir;
    const std::string capture = dir / "out.txt";
    std::fflush(stdout);
    const int saved = ::dup(1);
    const int fd = ::open(NativePath(capture).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ::dup2(fd, 1);
    ::close(fd);
    {
        FileSystem fso;
        TextStreamItem out = fso.GetStandardStream(1, false);
        out.WriteLine("到标准输出"_gbk);
        EXPECT_EQ(out.ReadLine(), "");
        out.Close();
        EXPECT_TRUE(fso.GetStandardStream(3, false).object().empty());
    }
    ::dup2(saved, 1);
    ::close(saved);
    EXPECT_EQ(ReadFileOrMissing(capture), "到标准输出\r\n"_gbk);
}

}  // namespace
}  // namespace zembrat::automation
