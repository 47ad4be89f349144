// Incremental runs from the window: the rows, the completion message, the next run a refresh.
#include <gtest/gtest.h>

#include <filesystem>

#include "job/result_folder.h"
#include "platform/files.h"
#include "support/http_server.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "ui/job_driver.h"
#include "web/web_client.h"

namespace zembrat::ui {
namespace {
using namespace text::literals;
using testing::ReadFileOrMissing;
using testing::Reply;

const std::string kPng = "\x89PNG\r\n\x1a\n the picture";

class IncrementalWindowTest : public ::testing::Test {
  protected:
    IncrementalWindowTest() : driver(window, web, window) {
        articles = dir / "文章"_gbk;
        window.edits[EditBox::ArticleFolder] = articles;
        web.CreateRequest();
        server.Set("/p.png", Reply::Ok(kPng, "image/png").Header("ETag", "\"p1\""));
        const std::string img = "<img src=\"" + server.Url("/p.png") + "\">";
        dir.Write("文章/1.htm"_gbk, img);
        dir.Write("文章/2.htm"_gbk, "<p>" + img);
    }
    std::string Done(std::size_t skipped, const std::string& more = {}) const {
        std::string message =
            "处理完成。处理的结果保存在这个目录："_gbk + job::ResultFolder(articles) + "\r\n\r\n";
        if (skipped)
            message += "有 "_gbk + std::to_string(skipped) + " 篇文章未改变，已跳过。\r\n"_gbk;
        return message + more + "请问是否打开它？"_gbk;
    }

    testing::HttpServer server;
    testing::TempDir dir;
    std::string articles;
    testing::RecordingWindow window;
    web::WebClient web;
    JobDriver driver;
};

TEST_F(IncrementalWindowTest, RowsAndCompletionTellWhatWasReusedAndSkipped) {
    job::ExtensionOptions options;
    options.incremental = true;
    driver.SetOptions(options);
    driver.StartOrStop(job::ListingMethod::FileSearch);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0], Done(0));
    EXPECT_EQ(server.RequestCount(), 1u);  // the second article reuses the first one's image
    EXPECT_EQ(window.LogLines("tooltip"), std::vector<std::string>{"tooltip 0 已转存"});

    // Nothing changed: both skipped, nothing asked.
    driver.StartOrStop(job::ListingMethod::FileSearch);
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[1], Done(2));
    EXPECT_EQ(driver.counts().articlesSkipped, 2u);
    EXPECT_EQ(server.RequestCount(), 1u);

    // The next run (only that one) asks again, conditionally, and skips nothing.
    server.Set("/p.png", Reply::Status(304));
    driver.RefreshNextRun();
    driver.StartOrStop(job::ListingMethod::FileSearch);
    EXPECT_EQ(window.messages.at(2), Done(0));
    ASSERT_EQ(server.RequestCount(), 2u);
    EXPECT_EQ(server.Requests()[1].Header("If-None-Match"), "\"p1\"");
    // Choosing where to publish changes no article's result: still skipped.
    options.publishTarget = "site";
    driver.SetOptions(options);
    driver.StartOrStop(job::ListingMethod::FileSearch);
    EXPECT_EQ(window.messages.at(3), Done(2));
    EXPECT_EQ(server.RequestCount(), 2u);

    // A damaged record is set aside; the message says so on a line of its own.
    server.Set("/p.png", Reply::Ok(kPng, "image/png"));
    const std::string record = job::ResultFolder(articles) + ".zembrat-record.sqlite";
    ASSERT_TRUE(platform::WriteWholeFile(record, std::string(4096, 'x')));
    driver.StartOrStop(job::ListingMethod::FileSearch);
    const std::string& last = window.messages.at(4);
    const std::string question = "请问是否打开它？"_gbk;
    const std::string head = Done(0).substr(0, Done(0).size() - question.size());
    EXPECT_EQ(last,
              head + "运行记录已损坏或无法读取，已改名放在一旁，并新建了一个。\r\n"_gbk + question)
        << text::Utf8FromGbk(last);
}

}  // namespace
}  // namespace zembrat::ui
