// The window's run over a folder tree into an output folder, through the recording window.
#include <gtest/gtest.h>

#include <filesystem>

#include "job/image_names.h"
#include "platform/files.h"
#include "support/http_server.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"
#include "ui/job_driver.h"
#include "web/web_client.h"

namespace zembrat::ui {
namespace {
using namespace text::literals;
using testing::ReadFileOrMissing;

TEST(WindowTreeRun, FileSearchWalksTheTreeIntoTheOutputFolderWhichIsNotTheArticleFolder) {
    testing::HttpServer server;
    testing::TempDir dir;
    testing::RecordingWindow window;
    web::WebClient web;
    web.CreateRequest();
    JobDriver driver(window, web, window);
    const std::string png = "\x89PNG\r\n\x1A\n deep", img = "<img src=\"" + server.Url("/p.png");
    server.Set("/p.png", testing::Reply::Ok(png, "image/png"));
    const std::string articles = dir / "文章"_gbk, site = dir / "站点/"_gbk;
    window.edits[EditBox::ArticleFolder] = articles;
    dir.Write("文章/a.htm"_gbk, img + "\">");
    dir.Write("文章/子目录/深层/c.htm"_gbk, "深层"_gbk + img + "\">");
    std::filesystem::create_directory_symlink("子目录", platform::NativePath(articles + "/ln"));

    job::ExtensionOptions options;
    options.recursive = true;
    options.outputFolder = site;
    driver.SetOptions(options);
    driver.StartOrStop(job::ListingMethod::FileSearch);
    EXPECT_EQ(window.LogLines("label ("),
              (std::vector<std::string>{"label (2:1)a", "label (2:2)子目录/深层/c"}));
    EXPECT_EQ(ReadFileOrMissing(site + "子目录/深层/c.htm"_gbk),
              "深层<img src=\"/files/img/"_gbk + job::ContentName(png) + ".png\">");
    EXPECT_EQ(window.messages.at(0).find("处理完成。处理的结果保存在这个目录："_gbk + site), 0u);
    EXPECT_FALSE(platform::PathExists(articles + "/转存结果"_gbk));

    options.outputFolder = articles;  // its articles would be replaced
    driver.SetOptions(options);
    driver.StartOrStop(job::ListingMethod::FolderObject);
    EXPECT_EQ(window.messages.back(), "结果目录不能是文章目录："_gbk + articles);
    EXPECT_EQ(ReadFileOrMissing(articles + "/a.htm"), img + "\">");
}

}  // namespace
}  // namespace zembrat::ui
