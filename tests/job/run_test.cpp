// A run as a value in and events out, observed the way a front end observes it.
#include "job/run.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "job/image_names.h"
#include "job/result_folder.h"
#include "job/run_report.h"
#include "platform/files.h"
#include "support/event_counter.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "web/web_client.h"

namespace zembrat::job {
namespace {
using namespace text::literals;
using testing::HttpServer;
using testing::ReadFileOrMissing;
using testing::Reply;
using testing::TempDir;

const std::string kPng = "\x89PNG\r\n\x1A\n png-bytes";

// Every event as a line.
struct EventLog : RunObserver {
    std::vector<std::string> lines;
    void RunBegins(const std::vector<std::string>& articles, const std::string&) override {
        lines.push_back("begins " + std::to_string(articles.size()));
    }
    void ArticleBegins(std::size_t index, const std::string& path) override {
        lines.push_back("article " + std::to_string(index) + " " + text::FileName(path));
    }
    void ReferencesDecided(const std::string&, const std::vector<RefVerdict>& verdicts) override {
        std::string line = "decided";
        for (const RefVerdict& v : verdicts) line += " " + DecisionText(v);
        lines.push_back(line);
    }
    void ImageQueued(std::size_t row, const ImageRef&) override {
        lines.push_back("queued " + std::to_string(row));
    }
    void ImageBegins(std::size_t row) override { lines.push_back("begins " + std::to_string(row)); }
    void ImageSettled(std::size_t row, const ImageRecord& r) override {
        lines.push_back("settled " + std::to_string(row) + " " + OutcomeText(r.outcome));
    }
    void ArticleEnds(const std::string& path, ArticleEnd end,
                     const std::vector<ImageRecord>&) override {
        lines.push_back("ends " + text::FileName(path) + " " + ArticleEndText(end));
    }
};

TEST(RunTest, TellsEveryDecisionImageAndArticleAndTheReportIsBuiltFromThat) {
    TempDir dir;
    HttpServer server;
    server.Set("/p.png", Reply::Ok(kPng, "image/png"));
    server.Set("/gone.png", Reply::Status(404, "no"));
    const std::string folder = dir / "articles";
    const std::string tag = "<img src=\"" + server.Url("/p.png") + "\">";
    dir.Write("articles/a.htm", tag + "<img src=\"/rel.png\">" + tag + "<img src=\"" +
                                    server.Url("/gone.png") + "\">");
    dir.Write("articles/b.htm", "no images");
    web::WebClient web;
    web.CreateRequest();
    testing::EventCounter events;
    web.SetEventPoints(events);

    RunInputs inputs;
    inputs.settings = {folder, "*.htm", "files/img", "", "my.site", ""};
    EventLog log;
    ReportCollector report;
    RunObservers both;
    both.Add(log);
    both.Add(report);
    const RunResult result = job::Run(inputs, web, events, both, [](std::chrono::milliseconds) {});
    EXPECT_EQ(result.end, RunEnd::Finished);
    EXPECT_EQ(result.counts.articlesWritten, 2u);
    EXPECT_EQ(result.counts.imagesStored, 1u);
    EXPECT_EQ(result.counts.imagesFailed, 1u);
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "begins 2", "article 1 a.htm",
                             "decided duplicate in the article relative with no old prefix "
                             "download download",
                             "queued 1", "queued 0", "begins 0", "settled 0 stored", "begins 1",
                             "settled 1 failed", "ends a.htm written", "article 2 b.htm", "decided",
                             "ends b.htm written"}));

    // The report: the stored image with its new address, the drops from before the rewrite.
    const std::string stored = "files/img/" + ContentName(kPng) + ".png";
    ASSERT_EQ(report.rows().size(), 4u);
    EXPECT_EQ(report.rows()[0].outcome, "dropped");
    EXPECT_EQ(report.rows()[1].reason, "relative with no old prefix");
    EXPECT_EQ(report.rows()[2].outcome, "stored");
    EXPECT_EQ(report.rows()[2].storedName, stored);
    EXPECT_EQ(report.rows()[2].newAddress, "http://my.site/" + stored);
    EXPECT_EQ(report.rows()[3].outcome, "failed");
    EXPECT_EQ(report.skipped(), 2u);
    EXPECT_NE(ReadFileOrMissing(ResultFolder(folder) + "a.htm").find("http://my.site/" + stored),
              std::string::npos);

    // A run that cannot start says why, from its inputs.
    inputs.settings.imageFolder = "../out";
    const RunResult refused = job::Run(inputs, web, events, log);
    EXPECT_EQ(refused.end, RunEnd::ImageFolderLeaves);
    EXPECT_EQ(RunEndMessage(refused, inputs.settings), "图片存放目录不能超出结果目录：../out"_gbk);
}

TEST(RunTest, WritesNothingThroughALinkedResultFolderAndAsksUtf8NamesAsTheyStand) {
    TempDir dir;
    HttpServer server;
    // "图片" in UTF-8, asked for as its bytes stand (the server hands the path decoded).
    const std::string utf8Path = "/\xE5\x9B\xBE\xE7\x89\x87.png";
    server.Set(utf8Path, Reply::Ok(kPng, "image/png"));
    const std::string folder = dir / "articles";
    dir.Write("articles/a.htm", "<p>\xE4\xB8\xAD</p><img src=\"" + server.BaseUrl() +
                                    "/\xE5\x9B\xBE\xE7\x89\x87.png\">");
    web::WebClient web;
    web.CreateRequest();
    testing::EventCounter events;
    web.SetEventPoints(events);
    RunInputs inputs;
    inputs.settings = {folder, "*.htm", "files/img", "", "", ""};
    RunObserver none;

    // The result folder is a link to a folder elsewhere: nothing is written there.
    const std::string elsewhere = dir / "elsewhere";
    std::filesystem::create_directories(elsewhere);
    std::filesystem::create_directory_symlink(elsewhere,
                                              platform::NativePath(folder + "/转存结果"_gbk));
    RunResult result = job::Run(inputs, web, events, none);
    EXPECT_EQ(result.end, RunEnd::ResultFolderFailed);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
    EXPECT_EQ(server.RequestCount(), 0u);

    std::filesystem::remove(platform::NativePath(folder + "/转存结果"_gbk));
    // An article that is a link to a file outside the article folder is not read.
    const std::string secret = dir.Write("secret.txt", "password");
    std::filesystem::create_symlink(secret, folder + "/b.htm");
    result = job::Run(inputs, web, events, none);
    EXPECT_EQ(result.counts.unreadableArticles, 1u);
    EXPECT_EQ(ReadFileOrMissing(ResultFolder(folder) + "b.htm"), "<missing>");
    EXPECT_EQ(result.counts.imagesStored, 1u);
    EXPECT_EQ(result.counts.imagesFailed, 0u);
    EXPECT_EQ(server.RequestsTo(utf8Path).size(), 1u);
    EXPECT_EQ(ReadFileOrMissing(ResultFolder(folder) + "files/img/" + ContentName(kPng) + ".png"),
              kPng);
}

}  // namespace
}  // namespace zembrat::job
