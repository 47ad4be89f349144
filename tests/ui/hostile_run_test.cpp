// A whole run over an article whose images come from broken and hostile servers: each image
// that brings nothing usable ends in a failed row and keeps its reference in the article.
#include <gtest/gtest.h>

#include <filesystem>

#include "job/image_names.h"
#include "job/result_folder.h"
#include "platform/files.h"
#include "support/http_server.h"
#include "support/raw_server.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "ui/job_driver.h"
#include "web/web_client.h"

namespace zembrat::ui {
namespace {
using namespace job;
using namespace text::literals;
using testing::HttpServer;
using testing::RawConnection;
using testing::RawServer;
using testing::ReadFileOrMissing;
using testing::RecordingWindow;
using testing::Reply;
using testing::TempDir;

void Misbehave(RawConnection& c) {
    const std::string head = c.ReadRequestHead();
    if (head.find(" /garbage") != std::string::npos) {
        c.Send("SPEAKING NO HTTP AT ALL\r\n\r\n<img>");
    } else if (head.find(" /reset") != std::string::npos) {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: 4000\r\n\r\n" + std::string(1000, 'x'));
        c.Reset();
    } else if (head.find(" /headers") != std::string::npos) {
        std::string headers = "HTTP/1.1 200 OK\r\n";
        while (headers.size() < (1 << 20))
            headers += "X-Filler: " + std::string(1000, 'h') + "\r\n";
        c.Send(headers + "Content-Length: 3\r\n\r\nGIF");
    }
}

TEST(HostileRun, FailedImagesKeepTheirReferencesAndTheRunEnds) {
    TempDir dir;
    HttpServer server;
    RawServer raw(Misbehave);
    ASSERT_TRUE(server.started() && raw.started());
    server.Set("/good.gif", Reply::Ok("GIF good"));
    server.Set("/endless.gif",
               Reply::Endless(std::string(64 * 1024, 'e'), std::chrono::milliseconds(0)));
    server.Set("/loop.gif", Reply::Redirect(server.Url("/loop.gif")));
    server.Set("/file.gif", Reply::Redirect("file:///etc/passwd"));
    server.Set("/ftp.gif", Reply::Redirect("ftp://127.0.0.1:1/x.gif"));
    server.Set("/missing.gif", Reply::Status(404, "<html>not here</html>"));
    server.Set("/page.gif", Reply::Ok("<html>an error page</html>", "text/html"));

    const std::vector<std::string> failing = {
        server.Url("/endless.gif"), server.Url("/loop.gif"),    server.Url("/file.gif"),
        server.Url("/ftp.gif"),     server.Url("/missing.gif"), raw.Url("/garbage"),
        raw.Url("/reset"),          raw.Url("/headers"),        server.Url("/cr\r\nlf.gif"),
    };
    std::string article = "<p>"_gbk + "开头"_gbk + "</p>";
    for (const auto& url : failing) article += "<img src=\"" + url + "\">";
    article += "<img src=\"" + server.Url("/good.gif") + "\"><img src=\"" +
               server.Url("/page.gif") + "\">";
    const std::string articles = dir / "文章"_gbk;
    dir.Write("文章/a.htm"_gbk, article);

    web::WebClient web;
    web.CreateRequest();
    RecordingWindow window;
    window.edits[EditBox::ArticleFolder] = articles;
    std::vector<RecordingWindow::Row> finalRows;
    window.onLog = [&](const std::string& line) {
        if (line == "hide progress") finalRows = window.rows;
    };
    JobDriver driver(window, web, window);
    driver.StartOrStop(ListingMethod::FolderObject);

    ASSERT_EQ(window.messages.size(), 1u);
    ASSERT_EQ(finalRows.size(), failing.size() + 2);
    for (std::size_t i = 0; i < failing.size(); ++i) {
        EXPECT_EQ(finalRows[i].icon, StatusIcon::Failed) << failing[i];
        EXPECT_EQ(finalRows[i].cells[0], "下载失败 "_gbk) << failing[i];
    }
    EXPECT_EQ(finalRows[failing.size()].icon, StatusIcon::Saved);
    // A page delivered with 200 for an image address is no image: asked for twice, then failed.
    EXPECT_EQ(finalRows[failing.size() + 1].icon, StatusIcon::Failed);
    EXPECT_EQ(server.RequestsTo("/page.gif").size(), 2u);

    std::string expected = "<p>"_gbk + "开头"_gbk + "</p>";
    for (const auto& url : failing) expected += "<img src=\"" + url + "\">";
    expected += "<img src=\"/files/img/" + ContentName("GIF good") + ".gif\"><img src=\"" +
                server.Url("/page.gif") + "\">";
    EXPECT_EQ(ReadFileOrMissing(ResultFolder(articles) + "a.htm"), expected);
    EXPECT_EQ(ReadFileOrMissing(articles + "/a.htm"), article);
    // Nothing reached file:// or the ftp port; nothing from the broken answers was stored.
    std::size_t stored = 0;
    for (const auto& e : platform::ListFolder(ResultFolder(articles) + "files/img"))
        stored += e.isFolder ? 0 : 1;
    EXPECT_EQ(stored, 1u);
    EXPECT_NE(text::Utf8FromGbk(window.messages[0]).find("有 10 张图片未能转存。"),
              std::string::npos);
}

}  // namespace
}  // namespace zembrat::ui
