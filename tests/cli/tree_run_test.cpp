// Folder trees and an output folder on the command line: the real executable, a loopback server.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "child_process.h"
#include "job/image_names.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::testing {
namespace {
using namespace text::literals;
namespace fs = std::filesystem;

const std::string kProgram = ZEMBRAT_EXECUTABLE;

TEST(TreeRun, TheTreeKeepsItsPathsInAnOutputFolderThatTheRetryTakesUpAndALinkIsRefused) {
    HttpServer server;
    TempDir dir;
    const std::string png = "\x89PNG\r\n\x1a\n tree", img = "<img src=\"" + server.Url("/p.png");
    server.Set("/p.png", Reply::Ok(png, "image/png"));
    Reply flaky = Reply::Ok(png, "image/png");
    flaky.failFirst = 2;  // the run's request and its retry
    server.Set("/f.png", flaky);
    const std::string ini = dir.Write("s.ini", "[基本配置]\r\n新的域名前缀=n.site\r\n"_gbk);
    const std::string folder = text::Utf8FromGbk(dir / "文章"_gbk), report = dir / "r.csv";
    const std::string stored = "<img src=\"http://n.site/files/img/" + job::ContentName(png);
    dir.Write("文章/a.htm"_gbk, "顶层"_gbk + img + "\">");
    dir.Write("文章/子目录/深层/b.htm"_gbk, "\xEF\xBB\xBF" + img + "\"><img src=\"/f.png\">");
    for (const char* never : {"文章/.草稿/h.htm", "文章/public/old.htm", "外面/o.htm"})
        dir.Write(text::GbkFromUtf8(never), img + "\">");
    fs::create_directory_symlink("../外面", fs::path(folder) / "链接");
    const std::vector<std::string> tree = {"--settings", ini, "--recursive", "--old-prefix",
                                           server.Url("").substr(7)};
    auto run = [&](std::vector<std::string> args, std::string* out = nullptr) {
        args.insert(args.end(), tree.begin(), tree.end());
        std::string o, e;
        const int status = RunToEnd("/usr/bin/env", args, dir.path(), &o, &e);
        if (out) *out = o + e;
        return status;
    };

    std::string out;
    // A relative output folder is taken from the current folder; here it lies in the tree.
    EXPECT_EQ(
        run({"-C", dir.path(), kProgram, "--dry-run", folder, "--output", "文章/public"}, &out), 0);
    EXPECT_EQ(out.find("a.htm\n  download"), 0u) << out;
    EXPECT_NE(out.find("\n子目录/深层/b.htm\n  download"), std::string::npos) << out;
    EXPECT_NE(out.find("Dry run: 2 articles, 3 images"), std::string::npos) << out;
    EXPECT_EQ(run({"-C", dir.path(), kProgram, "--run", folder, "--output", "文章/public",
                   "--report", report},
                  &out),
              1);
    EXPECT_NE(out.find("[2/2] 子目录/深层/b.htm: written, 1 stored, 1 failed"), std::string::npos)
        << out;
    const std::string site = dir / "文章/public/"_gbk;
    const std::string native = text::Utf8FromGbk(site);
    std::vector<std::string> written;
    for (const auto& e : fs::recursive_directory_iterator(native))
        if (e.is_regular_file()) written.push_back(e.path().string().substr(native.size()));
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written,
              (std::vector<std::string>{"a.htm", "files/img/" + job::ContentName(png) + ".png",
                                        "old.htm", "子目录/深层/b.htm"}));
    EXPECT_EQ(ReadFileOrMissing(site + "a.htm"), "顶层"_gbk + stored + ".png\">");
    EXPECT_NE(ReadFileOrMissing(report).find("\r\n子目录/深层/b.htm,"), std::string::npos);
    // The retry reads the deep article's earlier result from there; its links are the top one's.
    EXPECT_EQ(run({kProgram, "--retry-failed", report, folder, "--output", text::Utf8FromGbk(site)},
                  &out),
              0)
        << out;
    EXPECT_EQ(ReadFileOrMissing(site + "子目录/深层/b.htm"_gbk),
              "\xEF\xBB\xBF" + stored + ".png\">" + stored + ".png\">");

    fs::create_directory_symlink("外面", dir / "ln");
    EXPECT_EQ(run({kProgram, "--run", folder, "--output", dir / "ln"}, &out), 1);
    EXPECT_NE(out.find("the result folder cannot be made: " + dir / "ln/"), std::string::npos)
        << out;
    EXPECT_EQ(ReadFileOrMissing(dir / "外面/a.htm"_gbk), "<missing>");
    // In the settings file it is kept as given, and must be absolute.
    dir.Write("s.ini", "[扩展选项]\r\n结果目录=站点\r\n"_gbk);
    EXPECT_EQ(run({kProgram, "--run", folder}, &out), 1);
    EXPECT_NE(out.find("the result folder must be an absolute path: 站点"), std::string::npos)
        << out;
}

// A page bundle (an article named index.* or _index.* and the files beside it) is carried into
// the output folder; a folder of a plain article is not, nor a link, nor another run's file.
TEST(TreeRun, APageBundleIsCarriedIntoTheOutputFolder) {
    HttpServer server;
    TempDir dir;
    const std::string png = "\x89PNG\r\n\x1a\n bundle";
    server.Set("/p.png", Reply::Ok(png, "image/png"));
    const std::string ini = dir.Write("s.ini", "[基本配置]\r\n新的域名前缀=n.site\r\n"_gbk);
    const std::string img = "<img src=\"" + server.Url("/p.png") + "\">";
    dir.Write("articles/posts/trip/index.htm", img + "<img src=\"local.jpg\">");
    dir.Write("articles/posts/trip/local.jpg", "local picture");
    dir.Write("articles/posts/trip/gallery/2.png", "gallery picture");
    dir.Write("articles/posts/trip/more.htm",
              img);  // an article of the bundle's folder: written as one
    dir.Write("articles/news/_index.htm", img);
    dir.Write("articles/news/banner.png", "banner");
    dir.Write("articles/plain/a.htm", img);
    dir.Write("articles/plain/side.jpg", "not a bundle's");
    dir.Write("outside.jpg", "outside");
    fs::create_symlink(dir / "outside.jpg", dir / "articles/posts/trip/link.jpg");
    // Another run left other bytes at one of the bundle's names: they stay.
    dir.Write("site/posts/trip/gallery/2.png", "another run's");
    const std::string site = dir / "site/";
    const std::vector<std::string> run = {"--run", dir / "articles", "--settings", ini,
                                          "--recursive"};

    std::vector<std::string> output = run;
    output.insert(output.end(), {"--output", site});
    std::string out, err;
    ASSERT_EQ(RunToEnd(kProgram, output, dir.path(), &out, &err), 0) << err;
    const std::map<std::string, std::string> expected = {
        {"posts/trip/local.jpg", "local picture"},
        {"posts/trip/gallery/2.png", "another run's"},
        {"news/banner.png", "banner"},
        {"plain/side.jpg", "<missing>"},
        {"posts/trip/link.jpg", "<missing>"},
        {"outside.jpg", "<missing>"},
    };
    for (const auto& [name, bytes] : expected)
        EXPECT_EQ(ReadFileOrMissing(site + name), bytes) << name;
    EXPECT_NE(ReadFileOrMissing(site + "posts/trip/index.htm").find("<img src=\"local.jpg\">"),
              std::string::npos);
    EXPECT_NE(ReadFileOrMissing(site + "posts/trip/more.htm").find("http://n.site/"),
              std::string::npos);

    // Without --output the result folder holds the articles and the images, as ever.
    EXPECT_EQ(RunToEnd(kProgram, run, dir.path(), nullptr, nullptr), 0);
    EXPECT_NE(ReadFileOrMissing(dir / "articles/转存结果/posts/trip/index.htm"_gbk), "<missing>");
    EXPECT_EQ(ReadFileOrMissing(dir / "articles/转存结果/posts/trip/local.jpg"_gbk), "<missing>");
}

}  // namespace
}  // namespace zembrat::testing
