// Folder trees and an output folder on the command line: the real executable, a loopback
// server, real folders with Chinese names.
#include <gtest/gtest.h>

#include <filesystem>

#include "child_process.h"
#include "job/image_names.h"
#include "job/run_report.h"
#include "platform/files.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::testing {
namespace {
using namespace text::literals;
namespace fs = std::filesystem;

const std::string kProgram = ZEMBRAT_EXECUTABLE;
const std::string kPng = "\x89PNG\r\n\x1a\n tree picture";

class TreeRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.started());
        server.Set("/p.png", Reply::Ok(kPng, "image/png"));
        articles = dir / "文章"_gbk;
        folder = text::Utf8FromGbk(articles);
        settings = dir.Write("Zembrat.ini", "[基本配置]\r\n新的域名前缀=new.site\r\n"_gbk);
        stored = "files/img/" + job::ContentName(kPng) + ".png";
        // A GBK article on top, a UTF-8 one two folders down, each with the same picture.
        dir.Write("文章/a.htm"_gbk, "<p>顶层</p><img src=\""_gbk + Url("/p.png") + "\">");
        dir.Write("文章/子目录/深层/b.htm"_gbk,
                  "\xEF\xBB\xBF<p>深层</p><img src=\"" + Url("/p.png") + "\">");
        dir.Write("文章/子目录/c.txt"_gbk, "not an article");
        // Never listed: a hidden folder, a link to a folder outside, an earlier result.
        dir.Write("文章/.草稿/h.htm"_gbk, "<img src=\"" + Url("/p.png") + "\">");
        dir.Write("外面/o.htm"_gbk, "<img src=\"" + Url("/p.png") + "\">");
        fs::create_directory_symlink("../外面", platform::NativePath(articles + "/链接"_gbk));
        dir.Write("文章/转存结果/old.htm"_gbk, "<img src=\"" + Url("/p.png") + "\">");
    }
    std::string Url(const std::string& path) const { return server.Url(path); }

    HttpServer server;
    TempDir dir;
    std::string articles, settings, stored;
    std::string folder;  // the article folder as typed on the command line (UTF-8)
};

TEST_F(TreeRunTest, TheTreeKeepsItsPathsAndLeavesOutHiddenLinkedAndResultFolders) {
    std::string out, err;
    ASSERT_EQ(RunToEnd(kProgram, {"--dry-run", folder, "--settings", settings, "--recursive"},
                       dir.path(), &out, &err),
              0)
        << err;
    EXPECT_EQ(out.substr(0, out.find("  ")), "a.htm\n");
    EXPECT_NE(out.find("\n子目录/深层/b.htm\n  download  " + Url("/p.png")), std::string::npos)
        << out;
    EXPECT_NE(out.find("Dry run: 2 articles, 2 images"), std::string::npos) << out;
    EXPECT_EQ(server.RequestCount(), 0u);

    const std::string report = dir / "r.csv";
    ASSERT_EQ(RunToEnd(kProgram,
                       {"--run", folder, "--settings", settings, "--recursive", "--report", report},
                       dir.path(), &out, &err),
              0)
        << err;
    const std::string result = articles + "/转存结果/"_gbk;
    const std::string b = result + "子目录/深层/b.htm"_gbk;
    EXPECT_EQ(ReadFileOrMissing(result + "a.htm"),
              "<p>顶层</p><img src=\"http://new.site/"_gbk + stored + "\">");
    // The deep article's link is the top one's: site-relative, whatever the depth.
    EXPECT_EQ(ReadFileOrMissing(b),
              "\xEF\xBB\xBF<p>深层</p><img src=\"http://new.site/" + stored + "\">");
    EXPECT_EQ(ReadFileOrMissing(result + stored), kPng);
    EXPECT_FALSE(platform::PathExists(result + "子目录/深层/files"_gbk));
    for (const char* never : {".草稿", "链接", "转存结果", "子目录/c.txt"})
        EXPECT_FALSE(platform::PathExists(result + text::GbkFromUtf8(never))) << never;
    EXPECT_EQ(server.RequestCount(), 2u);

    std::vector<job::ReportRow> rows;
    std::string error;
    ASSERT_TRUE(job::ParseCsvReport(ReadFileOrMissing(report), rows, error)) << error;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].article, "a.htm");
    EXPECT_EQ(rows[1].article, "子目录/深层/b.htm");

    // Without the option the run is the plain one: the top folder only.
    ASSERT_EQ(
        RunToEnd(kProgram,
                 {"--dry-run", folder, "--settings", settings, "--recursive", "--no-recursive"},
                 dir.path(), &out),
        0);
    EXPECT_EQ(out.find(text::Utf8FromGbk(articles) + "/a.htm\n"), 0u) << out;
    EXPECT_NE(out.find("Dry run: 1 articles"), std::string::npos) << out;
}

TEST_F(TreeRunTest, AnOutputFolderElsewhereIsWrittenAndRetriedThereAndALinkIsRefused) {
    Reply flaky = Reply::Ok(kPng, "image/png");
    flaky.failFirst = 2;  // the first run's request and its retry
    server.Set("/flaky.png", flaky);
    dir.Write("文章/子目录/深层/b.htm"_gbk, "<img src=\"" + Url("/flaky.png") + "\">");
    // Relative on the command line: from the current folder.
    const std::string report = dir / "r.csv";
    std::string out, err;
    EXPECT_EQ(RunToEnd("/usr/bin/env",
                       {"-C", dir.path(), kProgram, "--run", folder, "--settings", settings,
                        "--recursive", "--output", "站点/public", "--report", report},
                       dir.path(), &out, &err),
              1)
        << err;
    const std::string site = dir / "站点/public/"_gbk;
    EXPECT_NE(out.find("Result folder: " + text::Utf8FromGbk(site) + "\n"), std::string::npos)
        << out;
    EXPECT_EQ(ReadFileOrMissing(site + "a.htm"),
              "<p>顶层</p><img src=\"http://new.site/"_gbk + stored + "\">");
    EXPECT_EQ(ReadFileOrMissing(site + "子目录/深层/b.htm"_gbk),
              "<img src=\"" + Url("/flaky.png") + "\">");
    EXPECT_FALSE(platform::PathExists(articles + "/转存结果/a.htm"_gbk));

    // The retry reads the earlier result from the output folder and writes it back there.
    server.ClearRequests();
    EXPECT_EQ(RunToEnd(kProgram,
                       {"--retry-failed", report, folder, "--settings", settings, "--recursive",
                        "--output", text::Utf8FromGbk(site)},
                       dir.path(), &out, &err),
              0)
        << err << out;
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(ReadFileOrMissing(site + "子目录/深层/b.htm"_gbk),
              "<img src=\"http://new.site/" + stored + "\">");

    // An output folder that is a link is refused before anything is read or written.
    const std::string target = dir / "别处"_gbk;
    fs::create_directory(platform::NativePath(target));
    fs::create_directory_symlink(platform::NativePath(target), platform::NativePath(dir / "ln"));
    EXPECT_EQ(RunToEnd(kProgram, {"--run", folder, "--settings", settings, "--output", dir / "ln"},
                       dir.path(), &out, &err),
              1);
    EXPECT_NE(err.find("无法创建结果目录：" + text::Utf8FromGbk(dir / "ln/")), std::string::npos)
        << err;
    EXPECT_TRUE(fs::is_empty(platform::NativePath(target)));

    // In the settings file it is kept as given, and must be absolute.
    const std::string relative = dir.Write(
        "rel.ini", "[基本配置]\r\n新的域名前缀=new.site\r\n[扩展选项]\r\n结果目录=站点\r\n"_gbk);
    server.ClearRequests();
    EXPECT_EQ(RunToEnd(kProgram, {"--run", folder, "--settings", relative}, dir.path(), &out, &err),
              1);
    EXPECT_NE(err.find("结果目录必须是绝对路径：站点"), std::string::npos) << err;
    EXPECT_EQ(server.RequestCount(), 0u);
    const std::string absolute =
        dir.Write("abs.ini", "[扩展选项]\r\n结果目录="_gbk + dir.path() + "/绝对\r\n"_gbk);
    EXPECT_EQ(RunToEnd(kProgram, {"--run", folder, "--settings", absolute}, dir.path()), 0);
    EXPECT_NE(ReadFileOrMissing(dir / "绝对/a.htm"_gbk), "<missing>");
    // --no-output gives the usual folder back.
    EXPECT_EQ(
        RunToEnd(kProgram, {"--run", folder, "--settings", relative, "--no-output"}, dir.path()),
        0);
    EXPECT_NE(ReadFileOrMissing(articles + "/转存结果/a.htm"_gbk), "<missing>");
}

}  // namespace
}  // namespace zembrat::testing
