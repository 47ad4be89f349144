#include "ui/job_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "job/image_names.h"
#include "job/result_folder.h"

#include "job/run_report.h"
#include "platform/files.h"
#include "platform/folder_lock.h"
#include "support/http_server.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "web/web_client.h"

namespace zembrat::ui {
namespace {
using namespace job;
using namespace text::literals;
using platform::MessageAnswer;
using testing::ReadFileOrMissing;
using testing::RecordingWindow;
using testing::TempDir;

class JobDriverTest : public ::testing::Test {
  protected:
    JobDriverTest() : driver(window, web, window) {
        articles = dir / "文章"_gbk;
        window.edits[EditBox::ArticleFolder] = articles;
    }
    std::string Article(const std::string& name, const std::string& bytes) {
        return dir.Write("文章/"_gbk + name, bytes);
    }
    std::string Result(const std::string& name) const { return ResultFolder(articles) + name; }

    TempDir dir;
    std::string articles;
    RecordingWindow window;
    web::WebClient web;
    JobDriver driver;
};

TEST_F(JobDriverTest, EmptyListingOnlyShowsItsMessage) {
    std::filesystem::create_directory(platform::NativePath(articles));
    window.edits[EditBox::ArticleFilter] = "*.txt";
    driver.StartOrStop(ListingMethod::FileSearch);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0],
              "在这个目录下‘"_gbk + articles + "’找不到‘*.txt’类型的文件！"_gbk);
    EXPECT_EQ(window.caption, StartCaption());
    EXPECT_EQ(window.LogLines("caption"), std::vector<std::string>{});
    EXPECT_FALSE(platform::PathExists(ResultFolder(articles)));
}

TEST_F(JobDriverTest, RunGoesThroughItsStatesAndCopiesEveryArticleWhole) {
    // A UTF-16 article holds zero bytes; it must come out whole.
    const std::string utf16("\xFF\xFE<\0i\0m\0g\0", 10);
    Article("a.htm", "<p>" + "中文"_gbk + "</p>");
    Article("b.htm", utf16);
    Article("c.txt", "not listed");
    window.answers = {MessageAnswer::Yes};
    driver.StartOrStop(ListingMethod::FileSearch);

    EXPECT_EQ(ReadFileOrMissing(Result("a.htm")), "<p>" + "中文"_gbk + "</p>");
    EXPECT_EQ(ReadFileOrMissing(Result("b.htm")), utf16);
    EXPECT_EQ(ReadFileOrMissing(Result("c.txt")), "<missing>");

    const std::vector<std::string> expected = {
        "caption 停止下载",
        "show progress",
        "show label",
        "disable NewPrefix",
        "disable ExcludedRanges",
        "disable OldPrefix",
        "disable ImageFolder",
        "maximum 2",
        "position 1",
        "label (2:1)a",
        "clear rows",  // each article's references start from an empty list
        "position 2",
        "label (2:2)b",
        "clear rows",
        "hide progress",
        "hide label",
        "enable NewPrefix",
        "enable ExcludedRanges",
        "enable OldPrefix",
        "enable ImageFolder",
        "caption 开始下载并替换图片地址",
        "clear rows",
        "message 处理完成。处理的结果保存在这个目录：" + text::Utf8FromGbk(ResultFolder(articles)) +
            "\r\n\r\n请问是否打开它？",
        "open " + text::Utf8FromGbk(ResultFolder(articles)),
    };
    EXPECT_EQ(window.log, expected);
    EXPECT_FALSE(driver.running());
}

TEST_F(JobDriverTest, NoOnTheQuestionOpensNothing) {
    Article("a.htm", "x");
    window.answers = {MessageAnswer::No};
    driver.StartOrStop(ListingMethod::FolderObject);
    EXPECT_EQ(window.messages.size(), 1u);
    EXPECT_TRUE(window.openedFolders.empty());
}

TEST_F(JobDriverTest, StopIsTakenAtOnceAndASecondRunClearsIt) {
    for (const char* name : {"1.htm", "2.htm", "3.htm", "4.htm", "5.htm"}) Article(name, name);
    // An earlier run's result of the article the stop cuts short stays as it was.
    dir.Write("文章/转存结果/3.htm"_gbk, "earlier result");
    // The user presses the button while the third article is being processed.
    window.onLog = [this](const std::string& line) {
        if (line == "label (5:3)3") driver.StartOrStop(ListingMethod::FileSearch);
    };
    driver.StartOrStop(ListingMethod::FileSearch);
    EXPECT_TRUE(driver.stopRequested());
    EXPECT_EQ(ReadFileOrMissing(Result("2.htm")), "2.htm");
    EXPECT_EQ(ReadFileOrMissing(Result("3.htm")), "earlier result");
    EXPECT_EQ(ReadFileOrMissing(Result("4.htm")), "<missing>");
    EXPECT_EQ(ReadFileOrMissing(Result("5.htm")), "<missing>");
    const auto captions = window.LogLines("caption");
    EXPECT_EQ(captions, (std::vector<std::string>{"caption 停止下载", "caption 正在停止中..",
                                                  "caption 开始下载并替换图片地址"}));
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(text::Utf8FromGbk(window.messages[0]), "已停止。处理的结果保存在这个目录：" +
                                                         text::Utf8FromGbk(ResultFolder(articles)) +
                                                         "\r\n\r\n请问是否打开它？");

    // The next run starts afresh.
    window.onLog = nullptr;
    driver.StartOrStop(ListingMethod::FileSearch);
    EXPECT_FALSE(driver.stopRequested());
    EXPECT_EQ(ReadFileOrMissing(Result("5.htm")), "5.htm");
}

TEST_F(JobDriverTest, PressesWhileListingAreIgnored) {
    Article("a.htm", "x");
    Article("b.htm", "y");
    int nested = 0;
    window.onProcessEvents = [&](int) {
        ++nested;
        driver.StartOrStop(ListingMethod::FileSearch);
    };
    driver.StartOrStop(ListingMethod::FileSearch);
    EXPECT_EQ(nested, 2);  // once per listed file
    EXPECT_FALSE(driver.stopRequested());
    EXPECT_EQ(window.LogLines("caption").size(), 2u);
    EXPECT_EQ(ReadFileOrMissing(Result("b.htm")), "y");
}

TEST_F(JobDriverTest, ResultFolderThatCannotBeMadeEndsTheRunAtOnce) {
    Article("a.htm", "x");
    // A file where the result folder should be.
    dir.Write("文章/转存结果"_gbk, "in the way");
    driver.StartOrStop(ListingMethod::FileSearch);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0], "无法创建结果目录："_gbk + ResultFolder(articles));
    EXPECT_TRUE(window.LogLines("label").empty());  // no article was read
    EXPECT_EQ(window.caption, StartCaption());
    EXPECT_FALSE(window.progressVisible);
    EXPECT_TRUE(window.enabled[EditBox::ImageFolder]);
}

TEST_F(JobDriverTest, FailedWritesAndUnreadableArticlesAreCounted) {
    Article("a.htm", "x");
    Article("b.htm", "y");
    Article("c.htm", "z");
    // b's result cannot be written: a folder stands at its name. c cannot be read.
    std::filesystem::create_directories(platform::NativePath(Result("b.htm")));
    std::filesystem::permissions(platform::NativePath(articles + "/c.htm"),
                                 std::filesystem::perms::none);
    text::Bytes probe;
    const bool rootReadsAnything = platform::ReadWholeFile(articles + "/c.htm", probe);
    driver.StartOrStop(ListingMethod::FileSearch);
    ASSERT_EQ(window.messages.size(), 1u);
    const std::string expectedCount = rootReadsAnything
                                          ? "有 1 篇文章未能写入。"
                                          : "有 1 篇文章无法读取。\r\n有 1 篇文章未能写入。";
    EXPECT_NE(text::Utf8FromGbk(window.messages[0])
                  .find("\r\n\r\n" + expectedCount + "\r\n请问是否打开它？"),
              std::string::npos)
        << text::Utf8FromGbk(window.messages[0]);
    EXPECT_EQ(ReadFileOrMissing(Result("a.htm")), "x");
    if (!rootReadsAnything) {
        EXPECT_EQ(ReadFileOrMissing(Result("c.htm")), "<missing>");
    }
}

TEST_F(JobDriverTest, ClosingDuringARunStopsWithoutTheQuestion) {
    Article("1.htm", "1");
    Article("2.htm", "2");
    window.onLog = [this](const std::string& line) {
        if (line == "label (2:2)2") driver.StopForClose();
    };
    driver.StartOrStop(ListingMethod::FileSearch);
    EXPECT_EQ(ReadFileOrMissing(Result("1.htm")), "1");
    EXPECT_EQ(ReadFileOrMissing(Result("2.htm")), "<missing>");  // cut short by the close
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(window.caption, StartCaption());
}

TEST_F(JobDriverTest, ARunWithNoOptionLeavesTheArticlesAndTheImageFolderAlone) {
    testing::HttpServer server;
    const std::string png = "\x89PNG\r\n\x1A\n stored";
    server.Set("/p.png", testing::Reply::Ok(png, "image/png"));
    web.CreateRequest();
    Article("a.htm", "<img src=\"" + server.Url("/p.png") + "\">");
    Article("b.htm", "no image");
    window.answers = {MessageAnswer::No};
    driver.StartOrStop(ListingMethod::FolderObject);
    std::vector<std::string> names;
    const std::string native = text::Utf8FromGbk(Result(""));
    for (const auto& e : std::filesystem::recursive_directory_iterator(native))
        names.push_back(e.path().string().substr(native.size()));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.htm", "b.htm", "files", "files/img",
                                               "files/img/" + ContentName(png) + ".png"}));
}

TEST_F(JobDriverTest, LookAlikeAnswersAreStoredAndTheCompletionMessageSaysSo) {
    testing::HttpServer server;
    const std::string placeholder = "GIF89a the same placeholder";
    for (const char* path : {"/1.gif", "/2.gif", "/3.gif"})
        server.Set(path, testing::Reply::Ok(placeholder, "image/gif"));
    server.Set("/own.png", testing::Reply::Ok("\x89PNG\r\n\x1A\n own", "image/png"));
    web.CreateRequest();
    Article("a.htm", "<img src=\"" + server.Url("/1.gif") + "\"><img src=\"" +
                         server.Url("/2.gif") + "\"><img src=\"" + server.Url("/own.png") + "\">");
    Article("b.htm", "<img src=\"" + server.Url("/3.gif") + "\">");
    const std::string line =
        "有 3 张图片与同一网站其他地址的内容完全相同，可能是防盗链占位图；"
        "可打开扩展选项“防盗链处理”后重试。\r\n"_gbk;
    window.answers = {MessageAnswer::No};
    driver.StartOrStop(ListingMethod::FolderObject);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0], "处理完成。处理的结果保存在这个目录："_gbk +
                                      ResultFolder(articles) + "\r\n\r\n" + line +
                                      "请问是否打开它？"_gbk);
    // Stored as described: one file, each article pointing at it.
    const std::string stored = "files/img/" + ContentName(placeholder) + ".gif";
    EXPECT_EQ(ReadFileOrMissing(Result(stored)), placeholder);
    EXPECT_NE(ReadFileOrMissing(Result("b.htm")).find("/" + stored), std::string::npos);

    // Under the hotlink option they are asked again and fail: no such line.
    ExtensionOptions options;
    options.hotlink = true;
    driver.SetOptions(options);
    window.messages.clear();
    window.answers = {MessageAnswer::No};
    driver.StartOrStop(ListingMethod::FolderObject);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].find(line), std::string::npos);
}

TEST_F(JobDriverTest, AResultFolderAnotherRunHoldsIsLeftAloneAndNamed) {
    Article("a.htm", "no image");
    ASSERT_TRUE(std::filesystem::create_directories(platform::NativePath(Result(""))));
    platform::FolderLock other;  // another run's hold on the folder
    ASSERT_EQ(other.Take(Result("")), platform::FolderLock::Result::Taken);
    driver.StartOrStop(ListingMethod::FolderObject);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0], "结果目录正在被另一次运行使用："_gbk + Result(""));
    EXPECT_EQ(window.caption, StartCaption());
    EXPECT_FALSE(driver.running());
    EXPECT_EQ(ReadFileOrMissing(Result("a.htm")), "<missing>");
}

TEST_F(JobDriverTest, TheReportOptionWritesEveryReferenceIntoTheResultFolder) {
    testing::HttpServer server;
    server.Set("/p.png", testing::Reply::Ok("\x89PNG\r\n\x1A\n stored", "image/png"));
    web.CreateRequest();
    Article("a.htm", "<img src=\"/rel.png\"><img src=\"http://127.0.0.1:9/gone.png\"><img src=\"" +
                         server.Url("/p.png") + "\">");
    // Off: the result folder holds the articles only.
    driver.StartOrStop(ListingMethod::FolderObject);
    EXPECT_EQ(ReadFileOrMissing(Result("转存报告.csv"_gbk)), "<missing>");

    ExtensionOptions options;
    options.writeReport = true;
    driver.SetOptions(options);
    window.messages.clear();
    driver.StartOrStop(ListingMethod::FolderObject);
    const std::string report = ReadFileOrMissing(Result("转存报告.csv"_gbk));  // UTF-8
    EXPECT_EQ(report.rfind("\xEF\xBB\xBF", 0), 0u);  // UTF-8 with its byte-order mark
    EXPECT_NE(report.find("/rel.png"), std::string::npos);
    EXPECT_NE(report.find("dropped"), std::string::npos);
    EXPECT_NE(report.find("http://127.0.0.1:9/gone.png"), std::string::npos);
    EXPECT_NE(report.find("failed"), std::string::npos);
    // The stored image is told as stored, from what the run did, not read again from the
    // rewritten article: its new address is no dropped source.
    std::vector<ReportRow> rows;
    std::string error;
    ASSERT_TRUE(ParseCsvReport(report, rows, error)) << error;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].outcome, "reused");  // stored by the run before, without the report
    EXPECT_EQ(rows[2].source, server.Url("/p.png"));
    EXPECT_EQ(rows[2].newAddress, "/" + rows[2].storedName);
    for (const ReportRow& row : rows) EXPECT_NE(row.source, rows[2].newAddress);
    // The reasons in English codes, each with the window's words beside it.
    EXPECT_NE(report.find(",reason,reason_words,article_result\r\n"), std::string::npos);
    EXPECT_EQ(rows[0].reason, "relative with no old prefix");
    EXPECT_EQ(rows[0].words, "相对地址，没有填写旧的域名前缀");
    EXPECT_EQ(rows[1].reason, "refused");
    EXPECT_EQ(rows[1].words, "连接被拒绝");
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_NE(window.messages[0].find("\r\n转存报告："_gbk + Result("转存报告.csv"_gbk) + "\r\n"),
              std::string::npos);
}

TEST_F(JobDriverTest, AFailedRowTellsItsReasonInItsTipAndKeepsItsText) {
    testing::HttpServer server;
    server.Set("/p.png", testing::Reply::Ok("\x89PNG\r\n\x1A\n stored", "image/png"));
    server.Set("/page.png", testing::Reply::Ok("<html>gone</html>", "text/html"));
    server.Set("/json.png", testing::Reply::Ok("{\"error\":1}", "application/json"));
    web.CreateRequest();
    Article("a.htm", "<img src=\"" + server.Url("/gone.png") + "\"><img src=\"" +
                         server.Url("/page.png") + "\"><img src=\"http://127.0.0.1:9/x.png\">" +
                         "<img src=\"" + server.Url("/p.png") + "\"><img src=\"" +
                         server.Url("/json.png") + "\">");
    driver.StartOrStop(ListingMethod::FolderObject);
    EXPECT_EQ(window.LogLines("tooltip"),
              (std::vector<std::string>{"tooltip 0 状态码 404", "tooltip 1 网页，不是图片",
                                        "tooltip 2 连接被拒绝", "tooltip 4 网页，不是图片"}));
    EXPECT_EQ(window.LogLines("cell 0,0 下载失败").size(), 1u);
    EXPECT_EQ(window.LogLines("cell 2,0 下载失败").size(), 1u);

    // The reasons no loopback answer gives.
    StatusRows rows(window, "img");
    const std::pair<FailReason, platform::TransferFailure> reasons[] = {
        {FailReason::NotAnImage, {}},
        {FailReason::CannotWrite, {}},
        {FailReason::NoAnswer, platform::TransferFailure::Certificate},
        {FailReason::NoAnswer, platform::TransferFailure::TimedOut}};
    for (std::size_t i = 0; i < std::size(reasons); ++i) {
        rows.ImageQueued(0, {});
        ImageRecord record;
        record.outcome = ImageOutcome::Failed;
        std::tie(record.reason, record.transfer) = reasons[i];
        rows.ImageSettled(0, record);
    }
    EXPECT_EQ(window.LogLines("tooltip 0").size(), 5u);
    EXPECT_EQ(text::Utf8FromGbk(window.rows[0].toolTip), "超时");
    EXPECT_EQ(text::Utf8FromGbk(window.rows[1].toolTip), "证书不受信任");
    EXPECT_EQ(text::Utf8FromGbk(window.rows[2].toolTip), "无法写入");
    EXPECT_EQ(text::Utf8FromGbk(window.rows[3].toolTip), "不是图片");
    EXPECT_EQ(window.rows[3].cells[0], FailedRowText(FailReason::NotAnImage));
}

TEST_F(JobDriverTest, StartsThatCannotGoWellSaySoAndLeaveTheWindowIdle) {
    // No such folder: said so, not "no files of that type".
    driver.StartOrStop(ListingMethod::FolderObject);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0], "文章目录不存在："_gbk + articles);

    // An image folder that would lead out of the result folder: nothing is listed or made.
    Article("a.htm", "<img src=\"http://127.0.0.1:9/a.png\">");
    for (const char* folder : {"..", "files/../../x", "a\\..\\..\\b"}) {
        window.edits[EditBox::ImageFolder] = folder;
        window.messages.clear();
        window.log.clear();
        driver.StartOrStop(ListingMethod::FolderObject);
        ASSERT_EQ(window.messages.size(), 1u) << folder;
        EXPECT_EQ(window.messages[0], "图片存放目录不能超出结果目录："_gbk + folder);
        EXPECT_TRUE(window.LogLines("caption").empty());
        EXPECT_FALSE(platform::PathExists(ResultFolder(articles)));
    }

    // A file manager that cannot be started is reported with the folder.
    window.edits[EditBox::ImageFolder] = "files..img";  // dots inside a name are fine
    window.messages.clear();
    window.answers = {MessageAnswer::Yes};
    window.fileManagerStarts = false;
    driver.StartOrStop(ListingMethod::FolderObject);
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[1], "无法打开文件管理器："_gbk + ResultFolder(articles));
}

}  // namespace
}  // namespace zembrat::ui

namespace zembrat::ui {
namespace {
using namespace job;

TEST_F(JobDriverTest, ClosingWhileTheArticlesAreListedStopsBeforeTheFirst) {
    Article("1.htm", "1");
    Article("2.htm", "2");
    window.onProcessEvents = [this](int call) {
        if (call == 1) driver.StopForClose();
    };
    driver.StartOrStop(ListingMethod::FileSearch);
    EXPECT_EQ(ReadFileOrMissing(Result("1.htm")), "<missing>");
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(window.caption, StartCaption());
    EXPECT_FALSE(driver.running());

    // A close before a run does not carry over into the next one.
    JobDriverTest::window.edits[EditBox::ArticleFilter] = "*.none";
    window.onProcessEvents = nullptr;
    driver.StopForClose();
    driver.StartOrStop(ListingMethod::FileSearch);
    EXPECT_EQ(window.messages.size(), 1u);  // a new run is no longer closing
}

}  // namespace
}  // namespace zembrat::ui
