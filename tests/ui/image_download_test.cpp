#include "job/download_walk.h"
#include "ui/job_driver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "automation/regex_object.h"
#include "job/image_names.h"
#include "job/result_folder.h"
#include "platform/files.h"
#include "support/http_server.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "web/fetch_group.h"
#include "web/web_client.h"

namespace zembrat::ui {
namespace {
using namespace job;
using namespace text::literals;
using testing::HttpServer;
using testing::ReadFileOrMissing;
using testing::RecordingWindow;
using testing::Reply;
using testing::TempDir;

const std::string kGif = std::string("GIF89a\x01\x00\x01\x00", 10) + "gif-bytes";
const std::string kPng = "\x89PNG\r\n\x1A\n png-bytes";
const std::string kJpg = "\xFF\xD8\xFF jpeg-bytes";

class DownloadImagesTest : public ::testing::Test {
  protected:
    DownloadImagesTest() {
        web.CreateRequest();
        web.SetEventPoints(window);
        result = dir.path() + "/result/";
        std::filesystem::create_directories(platform::NativePath(result));
    }
    std::string Tag(const std::string& path) { return "<img src=\"" + server.Url(path) + "\">"; }
    // Decides the references and runs the download walk over them, its rows in the window, as a
    // run does per article.
    std::string Run(const std::string& article) {
        const auto setting = [&](EditBox box) { return window.EditText(box); };
        job::ReferenceDecider decider(
            {setting(EditBox::OldPrefix), setting(EditBox::ExcludedRanges), options});
        StatusRows rows(window, setting(EditBox::ImageFolder));
        const std::vector<RefVerdict> verdicts = decider.Decide(article, markdown, window);
        rows.ReferencesDecided({}, verdicts);
        const std::vector<ImageRef> refs = KeptReferences(verdicts);
        for (std::size_t k = refs.size(); k-- > 0;) rows.ImageQueued(k, refs[k]);
        window.log.clear();
        eventsBeforeDownloads = window.processEventsCalls;
        std::string text = article;
        window.SetStopToken(stop.get_token());
        summary = DownloadImages(
            text, refs, {result, setting(EditBox::ImageFolder), setting(EditBox::NewPrefix)}, rows,
            web, window, options, CountSleep, group);
        return text;
    }
    // The retry wait's sleeps, added up instead of slept.
    static void CountSleep(std::chrono::milliseconds duration) { slept += duration; }
    static inline std::chrono::milliseconds slept{0};
    std::string Stored(const std::string& bytes, const std::string& ext) {
        return "files/img/" + ContentName(bytes) + "." + ext;
    }

    TempDir dir;
    HttpServer server;
    web::WebClient web;
    RecordingWindow window;
    std::string result;
    std::stop_source stop;
    DownloadSummary summary;
    ExtensionOptions options;
    bool markdown = false;
    int eventsBeforeDownloads = 0;
    web::FetchGroup* group = nullptr;  // set: downloads at once through it
};

TEST_F(DownloadImagesTest, ThreeImagesAreStoredByContentAndRewrittenInOrder) {
    server.Set("/1.gif", Reply::Ok(kGif, "image/gif"));
    server.Set("/2.PNG", Reply::Ok(kPng, "image/png"));
    server.Set("/3.jpeg", Reply::Ok(kJpg, "image/jpeg"));
    const std::string article = "前言"_gbk + Tag("/1.gif") + "中"_gbk + Tag("/2.PNG") +
                                Tag("/3.jpeg") + "<a href=\"" + server.Url("/1.gif") +
                                "\">原图</a>"_gbk;
    const std::string out = Run(article);

    EXPECT_EQ(out, "前言<img src=\"/"_gbk + Stored(kGif, "gif") + "\">" + "中"_gbk +
                       "<img src=\"/" + Stored(kPng, "png") + "\"><img src=\"/" +
                       Stored(kJpg, "jpg") + "\"><a href=\"/" + Stored(kGif, "gif") + "\">" +
                       "原图</a>"_gbk);
    EXPECT_EQ(ReadFileOrMissing(result + Stored(kGif, "gif")), kGif);
    EXPECT_EQ(ReadFileOrMissing(result + Stored(kPng, "png")), kPng);
    EXPECT_EQ(ReadFileOrMissing(result + Stored(kJpg, "jpg")), kJpg);
    // Each row goes queued -> downloading -> saved, the top row first.
    const std::vector<std::string> expected = {
        "scroll 0",
        "icon 0 3",
        "cell 0,0 正在下载到 files/img",
        "icon 0 0",
        "cell 0,0 " + Stored(kGif, "gif"),
        "scroll 1",
        "icon 1 3",
        "cell 1,0 正在下载到 files/img",
        "icon 1 0",
        "cell 1,0 " + Stored(kPng, "png"),
        "scroll 2",
        "icon 2 3",
        "cell 2,0 正在下载到 files/img",
        "icon 2 0",
        "cell 2,0 " + Stored(kJpg, "jpg"),
    };
    EXPECT_EQ(window.log, expected);
    EXPECT_EQ(window.rows[1].cells[1], server.Url("/2.PNG"));
    EXPECT_EQ(server.RequestCount(), 3u);
}

TEST_F(DownloadImagesTest, NewPrefixMakesAbsoluteAddresses) {
    server.Set("/1.gif", Reply::Ok(kGif));
    window.edits[EditBox::NewPrefix] = "www.my.cn";
    window.edits[EditBox::ImageFolder] = "pics\\2024";
    EXPECT_EQ(Run(Tag("/1.gif")),
              "<img src=\"http://www.my.cn/pics/2024/" + ContentName(kGif) + ".gif\">");
    EXPECT_EQ(ReadFileOrMissing(result + "pics/2024/" + ContentName(kGif) + ".gif"), kGif);
    EXPECT_EQ(window.rows[0].cells[0], "pics/2024/" + ContentName(kGif) + ".gif");

    // A scheme typed in the box: as described it is prefixed again; under the https option
    // it is taken as written.
    window.edits[EditBox::NewPrefix] = "https://www.my.cn";
    EXPECT_EQ(Run(Tag("/1.gif")),
              "<img src=\"http://https://www.my.cn/pics/2024/" + ContentName(kGif) + ".gif\">");
    options.https = true;
    EXPECT_EQ(Run(Tag("/1.gif")),
              "<img src=\"https://www.my.cn/pics/2024/" + ContentName(kGif) + ".gif\">");
}

TEST_F(DownloadImagesTest, OneRetryAfterASecondThenFailed) {
    Reply flaky = Reply::Ok(kGif);
    flaky.failFirst = 1;
    flaky.failStatus = 200;  // an empty body counts as nothing usable
    server.Set("/flaky.gif", flaky);
    server.Set("/gone.gif", Reply::Status(404, "<html>not found</html>"));
    server.Set("/broken.gif", Reply::Status(500, "<html>error</html>"));
    const std::string article = Tag("/flaky.gif") + Tag("/gone.gif") + Tag("/broken.gif");
    slept = {};
    const std::string out = Run(article);

    EXPECT_EQ(out,
              "<img src=\"/" + Stored(kGif, "gif") + "\">" + Tag("/gone.gif") + Tag("/broken.gif"));
    EXPECT_EQ(window.rows[0].icon, StatusIcon::Saved);
    EXPECT_EQ(window.rows[1].icon, StatusIcon::Failed);
    EXPECT_EQ(window.rows[1].cells[0], "下载失败 "_gbk);
    EXPECT_EQ(window.rows[2].icon, StatusIcon::Failed);
    // Every image was asked for twice but the one that worked the second time; each retry
    // waited a second, processing events 100 times.
    EXPECT_EQ(server.RequestsTo("/flaky.gif").size(), 2u);
    EXPECT_EQ(server.RequestsTo("/gone.gif").size(), 2u);
    EXPECT_EQ(server.RequestsTo("/broken.gif").size(), 2u);
    EXPECT_EQ(window.processEventsCalls - eventsBeforeDownloads, 300);
    EXPECT_EQ(slept, std::chrono::seconds(3));
    EXPECT_EQ(summary.stored, 1u);
    EXPECT_EQ(summary.failed, 2u);
    EXPECT_TRUE(summary.complete);
    EXPECT_FALSE(platform::PathExists(result + "files/img/" +
                                      ContentName("<html>not found</html>") + ".gif"));
}

TEST_F(DownloadImagesTest, StopIsCheckedBeforeEachImage) {
    std::string article;
    for (int i = 1; i <= 5; ++i) {
        const std::string path = "/" + std::to_string(i) + ".png";
        server.Set(path, Reply::Ok(kPng + std::to_string(i)));
        article += Tag(path);
    }
    window.onLog = [this](const std::string& line) {
        if (line == "icon 1 0")
            stop.request_stop();  // the press lands while the second image is stored
    };
    const std::string out = Run(article);
    // The third image's request went out once the second had fully arrived, so that it travels
    // while the second is stored; the stop abandons it (it may not have reached the server yet),
    // and nothing after it is asked for.
    EXPECT_EQ(server.RequestsTo("/1.png").size(), 1u);
    EXPECT_EQ(server.RequestsTo("/2.png").size(), 1u);
    EXPECT_LE(server.RequestsTo("/3.png").size(), 1u);
    EXPECT_TRUE(server.RequestsTo("/4.png").empty());
    EXPECT_TRUE(server.RequestsTo("/5.png").empty());
    for (int row = 2; row < 5; ++row) {
        EXPECT_EQ(window.rows[static_cast<std::size_t>(row)].icon, StatusIcon::Queued);
        EXPECT_EQ(window.rows[static_cast<std::size_t>(row)].cells[0], "队列中.."_gbk);
    }
    EXPECT_EQ(out.find(server.Url("/1.png")), std::string::npos);
    EXPECT_EQ(out.find(server.Url("/2.png")), std::string::npos);
    EXPECT_NE(out.find(server.Url("/3.png")), std::string::npos);
    EXPECT_FALSE(summary.complete);
    // A stop before the first image leaves the article as it was.
    window.onLog = nullptr;
    EXPECT_EQ(Run(article), article);
}

TEST_F(DownloadImagesTest, AStopDuringADownloadWaitAbandonsItWithoutRetry) {
    Reply held = Reply::Ok(kPng);
    held.delay = std::chrono::seconds(30);  // an answer that does not come
    server.Set("/held.png", held);
    server.Set("/next.png", Reply::Ok(kJpg));
    window.onKeepPainted = [this](int call) {
        if (call == 3) stop.request_stop();  // the press, taken inside the download's wait
    };
    const std::string article = Tag("/held.png") + Tag("/next.png");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(article), article);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(window.keepPaintedCalls, 3);  // the wait ended at the point that took the stop
    EXPECT_EQ(server.RequestCount(), 1u);   // no retry, no next image
    EXPECT_FALSE(summary.complete);
    EXPECT_EQ(summary.failed, 0u);
    EXPECT_EQ(window.rows[1].icon, StatusIcon::Queued);
}

TEST_F(DownloadImagesTest, SameBytesFromTwoAddressesShareOneFile) {
    server.Set("/a.jpg", Reply::Ok(kJpg));
    server.Set("/b.jpg", Reply::Ok(kJpg));
    const std::string out = Run(Tag("/a.jpg") + Tag("/b.jpg"));
    EXPECT_EQ(out, "<img src=\"/" + Stored(kJpg, "jpg") + "\"><img src=\"/" + Stored(kJpg, "jpg") +
                       "\">");
    std::size_t files = 0;
    for (auto& e :
         std::filesystem::directory_iterator(platform::NativePath(result + "files/img"))) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

TEST_F(DownloadImagesTest, AnotherPictureAtTheNameGetsTheNextFreeName) {
    server.Set("/a.gif", Reply::Ok(kGif));
    const std::string name = ContentName(kGif);
    const std::string taken = result + "files/img/" + name + ".gif";
    MakeFolders(taken);
    ASSERT_TRUE(platform::WriteWholeFile(taken, "another picture"));
    std::filesystem::create_directory(
        platform::NativePath(result + "files/img/" + name + "_2.gif"));
    EXPECT_EQ(Run(Tag("/a.gif")), "<img src=\"/files/img/" + name + "_3.gif\">");
    EXPECT_EQ(ReadFileOrMissing(taken), "another picture");
    EXPECT_EQ(ReadFileOrMissing(result + "files/img/" + name + "_3.gif"), kGif);
    // Next time the same bytes are found under that name and reused.
    EXPECT_EQ(Run(Tag("/a.gif")), "<img src=\"/files/img/" + name + "_3.gif\">");
    EXPECT_EQ(window.rows[0].cells[0], "files/img/" + name + "_3.gif");
}

TEST_F(DownloadImagesTest, ImagesThatCannotBeStoredKeepTheirReference) {
    server.Set("/a.gif", Reply::Ok(kGif));
    // The image folder's first level is a file.
    ASSERT_TRUE(platform::WriteWholeFile(result + "files", "in the way"));
    const std::string article = "中"_gbk + Tag("/a.gif");
    EXPECT_EQ(Run(article), article);
    EXPECT_EQ(window.rows[0].icon, StatusIcon::Failed);
    EXPECT_EQ(window.rows[0].cells[0], "保存失败 "_gbk);
}

TEST_F(DownloadImagesTest, DeepImageFoldersAreMade) {
    server.Set("/a.gif", Reply::Ok(kGif));
    window.edits[EditBox::ImageFolder] = "a/b/c/图片"_gbk;
    Run(Tag("/a.gif"));
    EXPECT_EQ(ReadFileOrMissing(result + "a/b/c/图片/"_gbk + ContentName(kGif) + ".gif"), kGif);
}

TEST_F(DownloadImagesTest, UntouchedBytesOfAGbkArticleStayIdentical) {
    server.Set("/1.gif", Reply::Ok(kGif));
    // Chinese text, a lone lead byte, invalid sequences and CR LF around the tag.
    const std::string before = "<p>中文，测试。\r\n\x81\x20\xFF</p><img alt=\"图\" src=\""_gbk;
    const std::string after = "\" title='说明'>\r\n尾\xB0"_gbk;
    const std::string out = Run(before + server.Url("/1.gif") + after);
    EXPECT_EQ(out, before + "/" + Stored(kGif, "gif") + after);
}

TEST_F(DownloadImagesTest, DownloadsAtOnceComeOutAsOneAtATime) {
    // Answers 50 ms late. One image fails once, one for good, one is a web page, two addresses
    // give the same bytes, and one address is the start of another.
    auto late = [](Reply reply) {
        reply.delay = std::chrono::milliseconds(50);
        return reply;
    };
    Reply flaky = late(Reply::Ok(kPng));
    flaky.failFirst = 1;
    server.Set("/a.jpg", late(Reply::Ok(kJpg)));
    server.Set("/flaky.png", flaky);
    server.Set("/gone.gif", late(Reply::Status(404, "gone")));
    server.Set("/page.gif", late(Reply::Ok("<html>图片不存在</html>"_gbk, "text/html")));
    Reply b = Reply::Ok(kGif);
    b.delay = std::chrono::milliseconds(150);  // c's equal bytes come first when at once
    server.Set("/b.gif", b);
    server.Set("/c.gif", Reply::Ok(kGif));
    const std::string article = "图"_gbk + Tag("/a.jpg") + Tag("/a.jpg?x=1") + Tag("/flaky.png") +
                                Tag("/gone.gif") + Tag("/page.gif") + Tag("/b.gif") +
                                Tag("/c.gif") + server.Url("/b.gif");

    const std::string oneAtATime = Run(article);
    const std::vector<RecordingWindow::Row> rows = window.rows;
    const DownloadSummary before = summary;
    const std::size_t requests = server.RequestCount();
    server.ClearRequests();
    server.Set("/flaky.png", flaky);  // fails once again

    result = dir.path() + "/again/";
    std::filesystem::create_directories(platform::NativePath(result));
    web::FetchGroup atOnce(web, 4);
    group = &atOnce;
    EXPECT_EQ(Run(article), oneAtATime);
    EXPECT_NE(oneAtATime, article);
    ASSERT_EQ(window.rows.size(), rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(window.rows[r].icon, rows[r].icon) << r;
        EXPECT_EQ(window.rows[r].cells, rows[r].cells) << r;
        EXPECT_EQ(summary.records[r].outcome, before.records[r].outcome) << r;
        EXPECT_EQ(summary.records[r].reason, before.records[r].reason) << r;
        EXPECT_EQ(summary.records[r].newAddress, before.records[r].newAddress) << r;
    }
    EXPECT_EQ(summary.stored, before.stored);
    EXPECT_EQ(summary.failed, before.failed);
    EXPECT_TRUE(summary.complete);
    // The same images asked for as often (each failure once more), several at a time but never
    // more than the group takes; the same files stored.
    EXPECT_EQ(server.RequestCount(), requests);
    EXPECT_EQ(server.RequestsTo("/gone.gif").size(), 2u);
    int most = 0;
    for (const auto& request : server.Requests()) most = std::max(most, request.inProgress);
    EXPECT_GT(most, 1);
    EXPECT_LE(most, 4);
    EXPECT_EQ(platform::ListFolder(result + "files/img").size(),
              platform::ListFolder(dir.path() + "/result/files/img").size());
    EXPECT_EQ(ReadFileOrMissing(result + Stored(kGif, "gif")), kGif);
}

TEST_F(DownloadImagesTest, AStopAbandonsEveryDownloadInFlightAtOnce) {
    std::string article;
    for (int i = 0; i < 5; ++i) {
        server.Set("/held" + std::to_string(i) + ".png", Reply::NeverAnswer());
        article += Tag("/held" + std::to_string(i) + ".png");
    }
    web::FetchGroup atOnce(web, 3);
    group = &atOnce;
    window.onKeepPainted = [this](int) {
        // The press, taken while three answers are held.
        if (server.RequestCount() == 3) stop.request_stop();
    };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run(article), article);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(summary.complete);
    EXPECT_EQ(atOnce.Running(), 0u);
    EXPECT_EQ(server.RequestCount(), 3u);  // none tried again, nothing more asked for
    for (std::size_t row = 0; row < 5; ++row) {
        EXPECT_EQ(window.rows[row].icon, row < 3 ? StatusIcon::Downloading : StatusIcon::Queued);
        EXPECT_EQ(summary.records[row].reason, row < 3 ? FailReason::Stopped : FailReason::None);
    }
}

}  // namespace
}  // namespace zembrat::ui
