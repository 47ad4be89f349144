// The window's run over a folder tree and into an output folder, through the recording window.
#include <gtest/gtest.h>

#include <filesystem>

#include "job/image_names.h"
#include "job/result_folder.h"
#include "job/run_report.h"
#include "platform/files.h"
#include "support/http_server.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "ui/job_driver.h"
#include "web/web_client.h"

namespace zembrat::ui {
namespace {
using namespace job;
using namespace text::literals;
using testing::ReadFileOrMissing;
namespace fs = std::filesystem;

const std::string kPng = "\x89PNG\r\n\x1A\n deep picture";

class WindowTreeRunTest : public ::testing::Test {
  protected:
    WindowTreeRunTest() : driver(window, web, window) {
        server.Set("/p.png", testing::Reply::Ok(kPng, "image/png"));
        web.CreateRequest();
        articles = dir / "文章"_gbk;
        window.edits[EditBox::ArticleFolder] = articles;
        window.edits[EditBox::NewPrefix] = "new.site";
        img = "<img src=\"" + server.Url("/p.png") + "\">";
        rewritten = "<img src=\"http://new.site/files/img/" + ContentName(kPng) + ".png\">";
        dir.Write("文章/a.htm"_gbk, "顶层"_gbk + img);
        dir.Write("文章/子目录/b.htm"_gbk, "\xEF\xBB\xBF" + std::string("中间") + img);
        dir.Write("文章/子目录/深层/c.htm"_gbk, "深层"_gbk + img);
        dir.Write("文章/.git/h.htm"_gbk, img);
        dir.Write("外面/o.htm"_gbk, img);
        fs::create_directory_symlink(platform::NativePath(dir / "外面"_gbk),
                                     platform::NativePath(articles + "/链接"_gbk));
    }

    testing::HttpServer server;
    testing::TempDir dir;
    std::string articles, img, rewritten;
    testing::RecordingWindow window;
    web::WebClient web;
    JobDriver driver;
};

TEST_F(WindowTreeRunTest, BothListingsWalkTheTreeAndTheResultsKeepTheirPlaces) {
    // A plain run first leaves its result folder inside the article folder.
    driver.StartOrStop(ListingMethod::FolderObject);
    const std::string result = ResultFolder(articles);
    EXPECT_EQ(ReadFileOrMissing(result + "a.htm"), "顶层"_gbk + rewritten);
    EXPECT_FALSE(platform::PathExists(result + "子目录"_gbk));
    EXPECT_EQ(window.LogLines("maximum"), std::vector<std::string>{"maximum 1"});

    ExtensionOptions options;
    options.recursive = true;
    options.writeReport = true;
    driver.SetOptions(options);
    for (const ListingMethod method : {ListingMethod::FolderObject, ListingMethod::FileSearch}) {
        window.log.clear();
        fs::remove_all(platform::NativePath(result + "子目录"_gbk));
        driver.StartOrStop(method);
        // Never the hidden folder, the link or the earlier results.
        EXPECT_EQ(window.LogLines("label ("), (std::vector<std::string>{
                                                  "label (3:1)a",
                                                  "label (3:2)子目录/b",
                                                  "label (3:3)子目录/深层/c",
                                              }));
        EXPECT_EQ(ReadFileOrMissing(result + "子目录/b.htm"_gbk),
                  "\xEF\xBB\xBF" + std::string("中间") + rewritten);
        EXPECT_EQ(ReadFileOrMissing(result + "子目录/深层/c.htm"_gbk), "深层"_gbk + rewritten);
        EXPECT_FALSE(platform::PathExists(result + "子目录/files"_gbk));
        std::vector<ReportRow> rows;
        std::string error;
        ASSERT_TRUE(ParseCsvReport(ReadFileOrMissing(result + ReportFileName()), rows, error));
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[2].article, "子目录/深层/c.htm");
    }
    for (const char* never : {".git", "链接", "转存结果"})
        EXPECT_FALSE(platform::PathExists(result + text::GbkFromUtf8(never))) << never;
}

TEST_F(WindowTreeRunTest, TheOutputFolderIsWrittenAndNamedOrRefused) {
    ExtensionOptions options;
    options.outputFolder = dir / "站点/public"_gbk;
    driver.SetOptions(options);
    window.answers = {platform::MessageAnswer::Yes};
    driver.StartOrStop(ListingMethod::FolderObject);
    const std::string site = options.outputFolder + "/";
    EXPECT_EQ(ReadFileOrMissing(site + "a.htm"), "顶层"_gbk + rewritten);
    EXPECT_EQ(ReadFileOrMissing(site + "files/img/" + ContentName(kPng) + ".png"), kPng);
    EXPECT_FALSE(platform::PathExists(ResultFolder(articles)));
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].find("处理完成。处理的结果保存在这个目录："_gbk + site + "\r\n"),
              0u);
    EXPECT_EQ(window.openedFolders, std::vector<std::string>{site});

    // A link there is refused; a relative folder stops the start before the listing.
    fs::create_directory_symlink(platform::NativePath(dir / "外面"_gbk),
                                 platform::NativePath(dir / "ln"));
    for (const std::string& refused : {dir / "ln", "站点"_gbk}) {
        options.outputFolder = refused;
        driver.SetOptions(options);
        window.messages.clear();
        window.log.clear();
        driver.StartOrStop(ListingMethod::FolderObject);
        ASSERT_EQ(window.messages.size(), 1u);
        EXPECT_EQ(window.messages[0], refused.starts_with('/')
                                          ? "无法创建结果目录："_gbk + refused + "/"
                                          : "结果目录必须是绝对路径：站点"_gbk);
        EXPECT_EQ(window.caption, StartCaption());
        EXPECT_EQ(window.LogLines("label"), std::vector<std::string>{});
    }
    EXPECT_EQ(ReadFileOrMissing(dir / "外面/a.htm"_gbk), "<missing>");
    EXPECT_FALSE(platform::PathExists(articles + "/站点"_gbk));
}

}  // namespace
}  // namespace zembrat::ui
