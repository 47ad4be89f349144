// Whole runs over bad local input: odd bytes, odd names, files that cannot be read, result
// folders that cannot take what is written. Whatever happens, the run ends with a result, the
// source articles stay byte for byte as they were, and no written article points at an image
// that was not stored.
#include <gtest/gtest.h>

#include <iterator>

#include <fstream>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <random>

#include "job/image_names.h"
#include "job/result_folder.h"
#include "platform/files.h"
#include "support/http_server.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"
#include "support/tmpfs_mount.h"
#include "text/codec.h"
#include "ui/job_driver.h"
#include "web/web_client.h"

namespace zembrat::ui {
namespace {
using namespace job;
namespace fs = std::filesystem;
using namespace text::literals;
using testing::HttpServer;
using testing::ReadFileOrMissing;
using testing::RecordingWindow;
using testing::Reply;
using testing::TempDir;

using zembrat::testing::TmpfsMount;

class BadInputRun : public ::testing::Test {
  protected:
    BadInputRun() : driver(window, web, window) {
        web.CreateRequest();
        articles = dir / "文章"_gbk;
        fs::create_directories(platform::NativePath(articles));
        window.edits[EditBox::ArticleFolder] = articles;
        window.edits[EditBox::ArticleFilter] = "*";
    }
    std::string Article(const std::string& name, const std::string& bytes) {
        return dir.Write("文章/"_gbk + name, bytes);
    }
    std::string Image(const std::string& path, const std::string& bytes) {
        server.Set(path, Reply::Ok(bytes));
        return "<img src=\"" + server.Url(path) + "\">";
    }
    std::string Result(const std::string& name) const { return ResultFolder(articles) + name; }

    // Every file directly in the article folder with its bytes.
    std::map<std::string, std::string> Sources() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : platform::ListFolder(articles)) {
            if (entry.isFolder) continue;
            text::Bytes bytes;
            files[entry.name] = platform::ReadWholeFile(articles + "/" + entry.name, bytes)
                                    ? bytes
                                    : "<unreadable>";
        }
        return files;
    }

    // Runs and checks what every run must leave behind.
    void RunAndCheck(ListingMethod method = ListingMethod::FolderObject) {
        const auto before = Sources();
        driver.StartOrStop(method);
        EXPECT_EQ(Sources(), before) << "the source articles changed";
        ASSERT_FALSE(window.messages.empty()) << "the run ended without a result";
        EXPECT_EQ(window.caption, StartCaption());
        ExpectReferencedImagesStored();
    }

    // Each "/files/img/..." address in a written article names a stored file.
    void ExpectReferencedImagesStored() {
        const std::string result = ResultFolder(articles);
        if (!platform::IsFolder(result)) return;
        for (const auto& entry : platform::ListFolder(result)) {
            if (entry.isFolder) continue;
            text::Bytes text;
            if (!platform::ReadWholeFile(result + entry.name, text)) continue;
            for (std::size_t at = text.find("\"/files/img/"); at != std::string::npos;
                 at = text.find("\"/files/img/", at + 1)) {
                const std::size_t end = text.find('"', at + 1);
                const std::string rel = text.substr(at + 2, end - at - 2);
                EXPECT_TRUE(platform::PathExists(result + rel))
                    << entry.name << " points at " << rel;
            }
        }
    }

    TempDir dir;
    HttpServer server;
    web::WebClient web;
    RecordingWindow window;
    JobDriver driver;
    std::string articles;
    std::string lastSecondRow;
};

TEST_F(BadInputRun, InvalidBytesAndOddNamesGoThroughWhole) {
    const std::string tag = Image("/a.gif", "GIF a");
    const std::string rewritten = "<img src=\"/files/img/" + ContentName("GIF a") + ".gif\">";
    // Invalid sequences, a lead byte before a space, and a lone lead byte at the very end.
    const std::string invalid = "\x80\xFF\x81 <p>" + "中文"_gbk + "</p>" + tag + "\xFE";
    Article("invalid.htm", invalid);
    // Binary bytes with zeros, and a tag among them.
    std::mt19937 random(3);
    std::string binary(64 * 1024, '\0');
    for (char& c : binary) c = static_cast<char>(random());
    binary.insert(30000, tag);
    Article("binary.bin", binary);
    // Names with spaces, quotes, a line break, characters outside GBK and a trail byte "\".
    const std::vector<std::string> names = {"a b.htm", "q\"uote'.htm", "new\nline.htm",
                                            text::GbkFromUtf8("\xF0\x9F\x98\x80 表情.htm"),
                                            "\x81\x5C.htm"};
    for (const auto& name : names) Article(name, "<b>" + tag + "</b>");

    for (const ListingMethod method : {ListingMethod::FolderObject, ListingMethod::FileSearch}) {
        window.messages.clear();
        RunAndCheck(method);
        EXPECT_EQ(ReadFileOrMissing(Result("invalid.htm")),
                  "\x80\xFF\x81 <p>" + "中文"_gbk + "</p>" + rewritten + "\xFE");
        std::string binaryOut = binary;
        binaryOut.replace(30000, tag.size(), rewritten);
        EXPECT_EQ(ReadFileOrMissing(Result("binary.bin")), binaryOut);
        for (const auto& name : names) {
            EXPECT_EQ(ReadFileOrMissing(Result(name)), "<b>" + rewritten + "</b>")
                << text::Utf8FromGbk(name);
        }
        EXPECT_EQ(text::Utf8FromGbk(window.messages.back()).find("未能写入"), std::string::npos);
    }
}

TEST_F(BadInputRun, ArticlesThatCannotBeReadAreCountedNotWrittenEmpty) {
    Article("good.htm", "good");
    ASSERT_EQ(::mkfifo(platform::NativePath(articles + "/fifo.htm").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", platform::NativePath(articles + "/zero.htm"));
    fs::create_symlink(platform::NativePath(articles + "/gone"),
                       platform::NativePath(articles + "/gone.htm"));
    RunAndCheck(ListingMethod::FileSearch);
    EXPECT_EQ(ReadFileOrMissing(Result("good.htm")), "good");
    for (const char* name : {"fifo.htm", "zero.htm", "gone.htm"}) {
        EXPECT_FALSE(platform::PathExists(Result(name))) << name;
    }
    EXPECT_NE(text::Utf8FromGbk(window.messages.back()).find("有 3 篇文章无法读取。\r\n请问"),
              std::string::npos);
}

TEST_F(BadInputRun, AnImageFolderThatIsAFileKeepsEveryReference) {
    const std::string article = "<p>" + Image("/a.gif", "GIF a") + Image("/b.png", "PNG b");
    Article("a.htm", article);
    MakeFolders(Result(""));
    ASSERT_TRUE(platform::WriteWholeFile(Result("files"), "not a folder"));
    window.onLog = [this](const std::string& line) {
        if (line.rfind("cell 1,0 ", 0) == 0) lastSecondRow = line;
    };
    RunAndCheck();
    EXPECT_EQ(ReadFileOrMissing(Result("a.htm")), article);
    EXPECT_EQ(lastSecondRow, "cell 1,0 保存失败 ");
}

TEST_F(BadInputRun, AReadOnlyResultFolderFailsEveryWriteButEndsTheRun) {
    const std::string article = Image("/a.gif", "GIF a");
    Article("a.htm", article);
    TmpfsMount result(Result(""), "size=1m");
    if (!result.mounted()) GTEST_SKIP() << "no right to mount a file system here";
    if (!result.RemountReadOnly()) GTEST_SKIP() << "no right to make the file system read-only";
    RunAndCheck();
    EXPECT_EQ(ReadFileOrMissing(Result("a.htm")), "<missing>");
    EXPECT_NE(text::Utf8FromGbk(window.messages.back()).find("有 1 篇文章未能写入。"),
              std::string::npos);
}

TEST_F(BadInputRun, AFullDiskLeavesNoArticlePointingAtAMissingImage) {
    // Ten images of 20 KB into a folder that holds about three of them.
    std::string a, b;
    for (int i = 0; i < 10; ++i) {
        std::string bytes(20 * 1024, static_cast<char>('a' + i));
        (i < 5 ? a : b) += Image("/" + std::to_string(i) + ".gif", bytes) + "\n";
    }
    Article("a.htm", a);
    Article("b.htm", b);
    TmpfsMount result(Result(""), "size=64k");
    if (!result.mounted()) GTEST_SKIP() << "no right to mount a file system here";
    std::vector<std::string> rowTexts;
    window.onLog = [&](const std::string& line) {
        if (line.find("保存失败") != std::string::npos ||
            line.find("files/img/") != std::string::npos)
            rowTexts.push_back(line);
    };
    RunAndCheck();
    const auto failed = std::count_if(rowTexts.begin(), rowTexts.end(), [](const std::string& l) {
        return l.find("保存失败") != std::string::npos;
    });
    EXPECT_GT(failed, 0);
    // Whatever was stored is whole.
    for (const auto& entry : platform::ListFolder(Result("files/img"))) {
        EXPECT_EQ(fs::file_size(platform::NativePath(Result("files/img/" + entry.name))),
                  20u * 1024)
            << entry.name;
    }
}

TEST_F(BadInputRun, AHundredMegabyteArticleWithTenThousandTags) {
    // 10,000 tags over 50 different pictures, in about 100 MB of Chinese text.
    std::vector<std::string> tags, rewritten;
    for (int i = 0; i < 50; ++i) {
        const std::string bytes = "picture " + std::to_string(i);
        tags.push_back(Image("/p/" + std::to_string(i) + ".png", bytes));
        rewritten.push_back("<img src=\"/files/img/" + ContentName(bytes) + ".png\">");
    }
    std::string article, expected;
    article.reserve(101 << 20);
    expected.reserve(101 << 20);
    const std::string block = [&] {
        std::string b;
        while (b.size() < 10000) b += "这是一段很长的中文文章。"_gbk;
        return b;
    }();
    for (int k = 0; k < 10000; ++k) {
        article += block + tags[k % 50];
        expected += block + rewritten[k % 50];
    }
    Article("big.htm", article);
    RunAndCheck();
    const std::string out = ReadFileOrMissing(Result("big.htm"));
    EXPECT_EQ(out.size(), expected.size());
    EXPECT_TRUE(out == expected);
}

// Every file below root, outside skipped (the result folder), by path with its bytes; links
// are listed by where they point.
std::map<std::string, std::string> TreeBytes(const fs::path& root, const fs::path& skipped) {
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
        if (it->path() == skipped) {
            it.disable_recursion_pending();
            continue;
        }
        std::string& bytes = tree[it->path().string()];
        if (it->is_symlink()) {
            bytes = "-> " + fs::read_symlink(it->path()).string();
        } else if (it->is_regular_file()) {
            std::ifstream in(it->path(), std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
    }
    return tree;
}

TEST_F(BadInputRun, NothingIsWrittenOutsideTheResultFolderNorThroughALink) {
    const std::string tag = Image("/a.gif", "GIF a");
    const std::string source = Article("a.htm", "<p>" + tag + "</p>");
    Article("b.htm", "<p>" + Image("/b.gif", "GIF b") + "</p>");
    fs::create_directories(platform::NativePath(dir / "outside"));
    fs::create_directories(platform::NativePath(Result("")));
    // The result of a is a hard link to the source article; the image folder of the second run
    // is a link to a folder outside.
    fs::create_hard_link(platform::NativePath(source), platform::NativePath(Result("a.htm")));
    fs::create_directory_symlink(platform::NativePath(dir / "outside"),
                                 platform::NativePath(Result("linked")));
    const fs::path root = platform::NativePath(dir.path());
    const fs::path result = platform::NativePath(Result("")).parent_path();
    const auto before = TreeBytes(root, result);

    RunAndCheck();
    EXPECT_EQ(ReadFileOrMissing(Result("a.htm")),
              "<p><img src=\"/files/img/" + ContentName("GIF a") + ".gif\"></p>");
    // The link at the name was replaced, not written through.
    EXPECT_EQ(ReadFileOrMissing(source), "<p>" + tag + "</p>");

    window.edits[EditBox::ImageFolder] = "linked";
    window.messages.clear();
    driver.StartOrStop(ListingMethod::FolderObject);
    // The image cannot be stored through the link: its row fails and the article keeps it.
    EXPECT_NE(ReadFileOrMissing(Result("b.htm")).find(server.Url("/b.gif")), std::string::npos);
    EXPECT_TRUE(platform::ListFolder(dir / "outside").empty());
    EXPECT_EQ(TreeBytes(root, result), before) << "something outside the result folder changed";
}

}  // namespace
}  // namespace zembrat::ui
