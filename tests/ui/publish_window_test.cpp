// Publishing from the window: a run that publishes when it ends, onto a real S3 server (s3rver,
// signatures checked) on 127.0.0.1, and a publish at once of the same result.
#include <gtest/gtest.h>

#include "job/image_names.h"
#include "job/run.h"
#include "support/http_server.h"
#include "support/recording_window.h"
#include "support/s3_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "ui/job_driver.h"
#include "web/web_client.h"

namespace zembrat::ui {
namespace {
using namespace text::literals;
using testing::Reply;

const std::string kPng = "\x89PNG\r\n\x1a\n the picture";

TEST(PublishWindow, ARunPublishesWhenItEndsAndAPublishAtOnceSendsNothingTwice) {
    testing::S3Server s3;
    ASSERT_TRUE(s3.started()) << s3.error();
    testing::ScopedEnv key{"AWS_ACCESS_KEY_ID", s3.accessKey().c_str()};
    testing::ScopedEnv secret{"AWS_SECRET_ACCESS_KEY", s3.secretKey().c_str()};
    testing::HttpServer server;
    server.Set("/p.png", Reply::Ok(kPng, "image/png"));
    testing::TempDir dir;
    dir.Write("文章/1.htm"_gbk, "<img src=\"" + server.Url("/p.png") + "\">");
    testing::RecordingWindow window;
    window.edits[EditBox::ArticleFolder] = dir / "文章"_gbk;
    web::WebClient web;
    web.CreateRequest();
    JobDriver driver(window, web, window);
    job::ExtensionOptions options;
    options.publishAfterRun = true;
    options.publishTargets = {"s3://" + s3.bucket() + "/site/?endpoint=" + s3.endpoint() +
                              "&region=us-east-1&style=path&name=" + "图床" +
                              "&public=https://img.example.com"};
    options.publishTargets[0] = text::GbkFromUtf8(options.publishTargets[0]);
    driver.SetOptions(options);

    driver.StartOrStop(job::ListingMethod::FileSearch);
    const std::string stored = "files/img/" + job::ContentName(kPng) + ".png";
    EXPECT_EQ(s3.Object("site/" + stored), kPng);
    // Served as an image, kept by any cache for a year: its bytes never change under its name.
    EXPECT_EQ(s3.ObjectHeader("site/" + stored, "Content-Type"), "image/png");
    EXPECT_EQ(s3.ObjectHeader("site/" + stored, "Cache-Control"),
              "public, max-age=31536000, immutable");
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_NE(window.messages[0].find("发布到 图床：上传 1 个，已有 0 个。\r\n"
                                      "这个目标的图片地址：https://img.example.com，"
                                      "可填作新的域名前缀。\r\n请问是否打开它？"_gbk),
              std::string::npos)
        << text::Utf8FromGbk(window.messages[0]);
    EXPECT_EQ(window.LogLines("cell 0,0 已上传").size(), 1u);  // the row of the upload
    EXPECT_EQ(window.StartCaption(), StartCaption());          // the button is free again

    // At once, over the same result: the manifest knows the file, nothing is sent.
    driver.PublishNow();
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[1],
              "发布到 图床：上传 0 个，已有 1 个。\r\n"
              "这个目标的图片地址：https://img.example.com，"
              "可填作新的域名前缀。\r\n"_gbk);

    // Bad keys are told with the target's name, and nothing is lost locally.
    testing::ScopedEnv wrong{"AWS_SECRET_ACCESS_KEY", "not-the-secret"};
    dir.Write("文章/2.htm"_gbk, "<img src=\"" + server.Url("/q.png") + "\">");
    server.Set("/q.png", Reply::Ok(kPng + "q", "image/png"));
    driver.StartOrStop(job::ListingMethod::FileSearch);
    ASSERT_EQ(window.messages.size(), 3u);
    EXPECT_NE(window.messages[2].find("发布到 图床："_gbk), std::string::npos);
    EXPECT_EQ(window.messages[2].find("上传 1 个"_gbk), std::string::npos)
        << text::Utf8FromGbk(window.messages[2]);
    EXPECT_EQ(testing::ReadFileOrMissing(dir / ("文章/转存结果/"_gbk + stored)), kPng);
}

// A record a newer version wrote: the run that publishes and the publish at once both say so,
// naming its version, and leave it as it is; nothing is fetched or sent.
TEST(PublishWindow, ARecordOfANewerVersionStopsTheRunAndThePublishAndIsLeftAsItIs) {
    testing::S3Server s3;
    ASSERT_TRUE(s3.started()) << s3.error();
    testing::ScopedEnv key{"AWS_ACCESS_KEY_ID", s3.accessKey().c_str()};
    testing::ScopedEnv secret{"AWS_SECRET_ACCESS_KEY", s3.secretKey().c_str()};
    testing::HttpServer server;
    server.Set("/p.png", Reply::Ok(kPng, "image/png"));
    testing::TempDir dir;
    dir.Write("文章/1.htm"_gbk, "<img src=\"" + server.Url("/p.png") + "\">");
    testing::RecordingWindow window;
    window.edits[EditBox::ArticleFolder] = dir / "文章"_gbk;
    web::WebClient web;
    web.CreateRequest();
    JobDriver driver(window, web, window);
    job::ExtensionOptions options;
    options.incremental = true;
    options.publishTargets = {text::GbkFromUtf8("s3://" + s3.bucket() + "/site/?endpoint=" +
                                                s3.endpoint() + "&region=us-east-1&name=图床")};
    driver.SetOptions(options);
    driver.StartOrStop(job::ListingMethod::FileSearch);
    ASSERT_EQ(window.messages.size(), 1u);
    // The record's version (at byte 60 of its header) made 9, by a newer program.
    const std::string result = dir / "文章/转存结果/"_gbk;
    const std::string file = result + ".zembrat-record.sqlite";
    std::string bytes = testing::ReadFileOrMissing(file);
    ASSERT_GT(bytes.size(), 64u);
    bytes.replace(60, 4, std::string("\0\0\0\x09", 4));
    dir.Write("文章/转存结果/.zembrat-record.sqlite"_gbk, bytes);
    server.ClearRequests();

    options.publishAfterRun = true;
    driver.SetOptions(options);
    driver.StartOrStop(job::ListingMethod::FileSearch);
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[1], job::NewerRecordMessage(result, 9));
    driver.PublishNow();
    ASSERT_EQ(window.messages.size(), 3u);
    EXPECT_EQ(window.messages[2],
              "无法发布到 图床："_gbk + job::NewerRecordMessage(result, 9) + "\r\n");
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_FALSE(s3.Object("site/files/img/" + job::ContentName(kPng) + ".png"));
    EXPECT_EQ(testing::ReadFileOrMissing(file), bytes);
}

}  // namespace
}  // namespace zembrat::ui
