// The command line end to end: the real executable, a loopback server, real folders.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "child_process.h"
#include "config/config_store.h"
#include "job/image_names.h"
#include "job/run_report.h"
#include "platform/files.h"
#include "support/event_counter.h"
#include "support/http_server.h"
#include "support/raw_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::testing {
namespace {
using namespace text::literals;
namespace fs = std::filesystem;

const std::string kProgram = ZEMBRAT_EXECUTABLE;
const std::string kPng1 = "\x89PNG\r\n\x1a\n first picture";
const std::string kJpg2 = "\xFF\xD8\xFF second picture";

// Writes the six settings the way the window saves them.
void WriteSettings(const std::string& file, const std::map<std::string, std::string>& utf8) {
    config::ConfigStore store;
    ASSERT_TRUE(store.Open(file, config::DiskFile));
    store.SetSection("基本配置"_gbk);
    for (const auto& [key, value] : utf8)
        ASSERT_EQ(store.WriteText(text::GbkFromUtf8(key), text::GbkFromUtf8(value)),
                  config::WriteResult::kWritten);
}

std::vector<job::ReportRow> ReadReport(const std::string& file) {
    const std::string bytes = ReadFileOrMissing(file);
    EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
    std::vector<job::ReportRow> rows;
    std::string error;
    EXPECT_TRUE(job::ParseCsvReport(bytes, rows, error)) << error;
    return rows;
}

std::vector<job::ReportRow> RowsOf(const std::vector<job::ReportRow>& rows,
                                   const std::string& article) {
    std::vector<job::ReportRow> out;
    for (const auto& r : rows) {
        if (r.article == article) out.push_back(r);
    }
    return out;
}

// Every file below a folder with its bytes.
std::map<std::string, std::string> Tree(const std::string& folder) {
    std::map<std::string, std::string> tree;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        std::ifstream in(e.path(), std::ios::binary);
        tree[e.path().string()] =
            e.is_regular_file() ? std::string(std::istreambuf_iterator<char>(in), {}) : "<dir>";
    }
    return tree;
}

class CliRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.started());
        server.Set("/ok1.png", Reply::Ok(kPng1, "image/png"));
        server.Set("/ok2.jpg", Reply::Ok(kJpg2, "image/jpeg"));
        articles = dir / "articles";
        result = articles + "/转存结果"_gbk;
        settings = dir / "Zembrat.ini";
        WriteSettings(settings, {{"文章目录", "/nowhere"},
                                 {"文章过滤", "*.htm"},
                                 {"图片存放目录", "files/img"},
                                 {"新的域名前缀", "new.site"},
                                 {"排除地址范围", "*ads.example*"}});
    }
    std::string Url(const std::string& path) const { return server.Url(path); }
    // Waits until path was asked for count times, or until seconds after start.
    void AwaitRequests(const std::string& path, std::size_t count,
                       std::chrono::steady_clock::time_point start, double seconds) {
        while (server.RequestsTo(path).size() < count && SecondsSince(start) < seconds)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    HttpServer server;
    TempDir dir;
    std::string articles, result, settings;
};

TEST_F(CliRunTest, WholeRunWritesResultsReportAndStatus) {
    dir.Write("articles/a.htm", "<p>一</p>"_gbk + "<img src=\"" + Url("/ok1.png") +
                                    "\"><img src=\"/rel.png\"><img src=\"" + Url("/missing.png") +
                                    "\"><img src='ftp://x/y.png'><img src=\"" + Url("/ok1.png") +
                                    "\"><img src=http://ads.example/z.png>");
    dir.Write("articles/文章二.htm"_gbk,
              "<img src=\"" + Url("/ok2.jpg") + "\"><img src=\"" + Url("/ok1.png") + "\">");
    dir.Write("articles/skip.txt", "<img src=\"" + Url("/ok2.jpg") + "\">");
    const std::string settingsBefore = ReadFileOrMissing(settings);
    const std::string report = dir / "report.csv";

    std::string out, err;
    const int status =
        RunToEnd(kProgram, {"--run", articles, "--settings", settings, "--report", report},
                 dir.path(), &out, &err);
    EXPECT_EQ(status, 1) << err;  // one image failed
    EXPECT_EQ(ReadFileOrMissing(settings), settingsBefore);

    const std::string n1 = "files/img/" + job::ContentName(kPng1) + ".png";
    const std::string n2 = "files/img/" + job::ContentName(kJpg2) + ".jpg";
    EXPECT_EQ(ReadFileOrMissing(result + "/" + n1), kPng1);
    EXPECT_EQ(ReadFileOrMissing(result + "/" + n2), kJpg2);
    const std::string writtenA = ReadFileOrMissing(result + "/a.htm");
    EXPECT_EQ(writtenA.find(Url("/ok1.png")), std::string::npos);
    EXPECT_NE(writtenA.find("\"http://new.site/" + n1 + "\""), std::string::npos);
    EXPECT_NE(writtenA.find(Url("/missing.png")), std::string::npos);
    EXPECT_EQ(ReadFileOrMissing(result + "/skip.txt"), "<missing>");
    EXPECT_EQ(server.RequestsTo("/missing.png").size(), 2u);  // the one retry
    EXPECT_EQ(server.RequestsTo("/ok1.png").size(), 2u);      // once per article

    // Standard error is no terminal here: one line per article; the summary on standard output.
    EXPECT_NE(err.find("[1/2] "), std::string::npos) << err;
    EXPECT_NE(err.find("[2/2] "), std::string::npos) << err;
    EXPECT_NE(out.find("2 of 2 articles written, 2 images stored, 1 reused, 1 failed, 4 dropped; "
                       "failed: status 404: 1\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(text::Utf8FromGbk(result)), std::string::npos) << out;

    const auto rows = ReadReport(report);
    ASSERT_EQ(rows.size(), 8u);
    const auto ra = RowsOf(rows, text::Utf8FromGbk(articles) + "/a.htm");
    ASSERT_EQ(ra.size(), 6u);
    EXPECT_EQ(ra[0].outcome, "dropped");
    EXPECT_EQ(ra[0].reason, "duplicate in the article");
    EXPECT_EQ(ra[1].outcome, "dropped");
    EXPECT_EQ(ra[1].reason, "relative with no old prefix");
    EXPECT_EQ(ra[1].source, "/rel.png");
    EXPECT_EQ(ra[2].outcome, "failed");
    EXPECT_EQ(ra[2].reason, "status");
    EXPECT_EQ(ra[2].status, 404);
    EXPECT_EQ(ra[2].address, Url("/missing.png"));
    EXPECT_EQ(ra[2].storedName, "");
    EXPECT_EQ(ra[3].reason, "not http");
    EXPECT_EQ(ra[4].outcome, "stored");
    EXPECT_EQ(ra[4].status, 200);
    EXPECT_EQ(ra[4].bytes, kPng1.size());
    EXPECT_EQ(ra[4].storedName, n1);
    EXPECT_EQ(ra[4].newAddress, "http://new.site/" + n1);
    EXPECT_EQ(ra[5].outcome, "dropped");
    EXPECT_EQ(ra[5].reason, "excluded by *ads.example*");
    for (const auto& r : ra) EXPECT_EQ(r.articleEnd, "written");
    const auto rb = RowsOf(rows, text::Utf8FromGbk(articles) + "/文章二.htm");
    ASSERT_EQ(rb.size(), 2u);
    EXPECT_EQ(rb[0].outcome, "stored");
    EXPECT_EQ(rb[0].storedName, n2);
    EXPECT_EQ(rb[1].outcome, "reused");
    EXPECT_EQ(rb[1].storedName, n1);

    // The same run with every image answered and three downloads at once: status 0, a JSON
    // report.
    server.Set("/missing.png", Reply::Ok(kPng1, "image/png"));
    const std::string json = dir / "report.json";
    EXPECT_EQ(RunToEnd(kProgram,
                       {"--run", articles, "--settings", settings, "--report", json, "--quiet",
                        "--jobs", "3"},
                       dir.path(), &out, &err),
              0)
        << err;
    EXPECT_EQ(ReadFileOrMissing(result + "/a.htm"),
              text::ReplaceAll(writtenA, Url("/missing.png"), "http://new.site/" + n1));
    EXPECT_EQ(err, "");  // --quiet: only the summary, on standard output
    const std::string j = ReadFileOrMissing(json);
    EXPECT_EQ(j.substr(0, 4), "[\n  ");
    EXPECT_NE(j.find("\"outcome\": \"reused\", \"http_status\": 200"), std::string::npos) << j;
    EXPECT_NE(j.find("\"article\": \"" + text::Utf8FromGbk(articles) + "/文章二.htm\""),
              std::string::npos);
}

TEST_F(CliRunTest, UsageVersionAndUnreadableSettings) {
    std::string out, err;
    EXPECT_EQ(RunToEnd(kProgram, {"--version"}, dir.path(), &out), 0);
    EXPECT_EQ(out, "zembrat 1.03\n");
    EXPECT_EQ(RunToEnd(kProgram, {"--help"}, dir.path(), &out), 0);
    EXPECT_NE(out.find("--retry-failed REPORT"), std::string::npos);
    EXPECT_EQ(RunToEnd(kProgram, {"--run", "--timeout", "0"}, dir.path(), &out, &err), 2);
    EXPECT_NE(err.find("--timeout"), std::string::npos);
    EXPECT_EQ(RunToEnd(kProgram, {"--run", "--jobs", "65"}, dir.path(), &out, &err), 2);
    EXPECT_NE(err.find("--jobs"), std::string::npos);
    EXPECT_EQ(RunToEnd(kProgram, {"--run", "--bogus"}, dir.path()), 2);
    EXPECT_EQ(RunToEnd(kProgram, {"--filter", "*.htm"}, dir.path()), 2);  // no --run
    EXPECT_EQ(RunToEnd(kProgram, {"--run", "--report", dir / "r.txt"}, dir.path()), 2);
    EXPECT_EQ(RunToEnd(kProgram, {"--run", "--settings", dir / "none.ini"}, dir.path()), 2);
    EXPECT_EQ(RunToEnd(kProgram, {"--run", "--settings", dir.path()}, dir.path()), 2);
    // A folder that is not there: the job says so, and the run failed.
    EXPECT_EQ(RunToEnd(kProgram, {"--run", dir / "absent", "--settings", settings}, dir.path(),
                       &out, &err),
              1);
    EXPECT_NE(err.find("the article folder does not exist: "), std::string::npos) << err;
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(CliRunTest, DryRunPrintsAddressesInTheArticlesEncoding) {
    // A UTF-8 article's dropped address is its own UTF-8 text; a GBK article's is converted.
    dir.Write("articles/u.htm", "\xEF\xBB\xBF<img src=\"ftp://a.example/\xE5\x9B\xBE.png\">");
    dir.Write("articles/g.htm", "<img src=\"ftp://a.example/\xD6\xD0\xCE\xC4.png\">");
    std::string out, err;
    EXPECT_EQ(
        RunToEnd(kProgram, {"--dry-run", articles, "--settings", settings}, dir.path(), &out, &err),
        0)
        << err;
    EXPECT_NE(
        out.find(articles + "/u.htm\n  dropped   not http: ftp://a.example/\xE5\x9B\xBE.png\n"),
        std::string::npos)
        << out;
    EXPECT_NE(
        out.find(articles +
                 "/g.htm\n  dropped   not http: ftp://a.example/\xE4\xB8\xAD\xE6\x96\x87.png\n"),
        std::string::npos)
        << out;
}

TEST_F(CliRunTest, DryRunWritesNothingAndSendsNothing) {
    dir.Write("articles/a.htm", "<img src=\"" + Url("/ok1.png") + "\"><img src=\"/rel.png\">" +
                                    "<img src=\"http://ads.example/1.png\">");
    dir.Write("articles/b.htm", "<img src=\"/p/2.png\"><img src=\"/p/2.png\">");
    const auto before = Tree(dir.path());
    std::string out, err;
    EXPECT_EQ(RunToEnd(kProgram,
                       {"--dry-run", articles, "--settings", settings, "--old-prefix", "old.site"},
                       dir.path(), &out, &err),
              0)
        << err;
    // Only the child's two output files are new.
    auto after = Tree(dir.path());
    after.erase(dir / "stdout.txt");
    after.erase(dir / "stderr.txt");
    EXPECT_EQ(after, before);
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_NE(out.find("  download  " + Url("/ok1.png") + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  download  http://old.site/rel.png\n"), std::string::npos) << out;
    EXPECT_NE(out.find("  dropped   excluded by *ads.example*: http://ads.example/1.png\n"),
              std::string::npos);
    EXPECT_NE(out.find(articles + "/b.htm\n  dropped   duplicate in the article: /p/2.png\n"
                                  "  download  http://old.site/p/2.png\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Dry run: 2 articles, 3 images to download, 2 references dropped"),
              std::string::npos);

    // Without --settings, the settings beside a copy of the program that was not installed.
    const std::string bin = dir / "bin";
    fs::create_directories(bin);
    fs::copy_file(kProgram, bin + "/zembrat");
    WriteSettings(bin + "/Zembrat.ini", {{"文章目录", articles}, {"文章过滤", "b.htm"}});
    EXPECT_EQ(RunToEnd(bin + "/zembrat", {"--dry-run"}, dir.path(), &out, &err), 0) << err;
    EXPECT_NE(out.find("Dry run: 1 articles, 0 images to download, 2 references dropped"),
              std::string::npos)
        << out;
    EXPECT_FALSE(platform::PathExists(result));
}

TEST_F(CliRunTest, DryRunRefusesWhatTheRunRefuses) {
    dir.Write("articles/a.htm", "<img src=\"" + Url("/ok1.png") + "\">");
    const auto before = Tree(dir.path());
    // An image folder that would leave the result folder (either separator), and the article
    // folder as the output folder: each refused alike by the run and by its preview.
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--images", "files/../../out"},
         "the image folder cannot leave the result folder: files/../../out"},
        {{"--images", "..\\up"}, "the image folder cannot leave the result folder: ..\\up"},
        {{"--output", articles}, "the result folder cannot be the article folder: " + articles},
    };
    for (const auto& [args, message] : refused) {
        for (const std::string mode : {"--dry-run", "--run"}) {
            std::vector<std::string> all = {mode, articles, "--settings", settings};
            all.insert(all.end(), args.begin(), args.end());
            std::string out, err;
            EXPECT_EQ(RunToEnd(kProgram, all, dir.path(), &out, &err), 1) << mode << " " << err;
            EXPECT_NE(err.find(message), std::string::npos) << mode << " " << err;
            EXPECT_EQ(out.find("download"), std::string::npos) << mode << " " << out;
        }
    }
    auto after = Tree(dir.path());
    after.erase(dir / "stdout.txt");
    after.erase(dir / "stderr.txt");
    EXPECT_EQ(after, before);
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(CliRunTest, DryRunUnderTheOptionsListsWhatTheRunFetchesAndDrops) {
    // A settings file written by hand on Linux: UTF-8 and LF line ends, with an option on.
    dir.Write("hand.ini",
              "[基本配置]\n文章目录=/nowhere\n文章过滤=*.htm\n排除地址范围=*ads.example*\n"
              "[扩展选项]\n识别延迟加载和响应式图片=1\n");
    const std::string hand = dir / "hand.ini";
    dir.Write("articles/a.htm", "<img data-original=\"" + Url("/ok1.png") +
                                    "\" src=\"data:image/gif;base64,R0\"><img src=\"/rel.png\">"
                                    "<img src=http://ads.example/z.png><img src=\"" +
                                    Url("/ok2.jpg") + "\"><img src=\"" + Url("/ok2.jpg") + "\">");
    std::string out, err;
    ASSERT_EQ(
        RunToEnd(kProgram, {"--dry-run", articles, "--settings", hand}, dir.path(), &out, &err), 0)
        << err;
    EXPECT_EQ(server.RequestCount(), 0u);
    std::vector<std::string> planned;
    for (std::size_t at = out.find("\n  "); at != std::string::npos; at = out.find("\n  ", at + 1))
        planned.push_back(out.substr(at + 1, out.find('\n', at + 1) - at - 1));

    // The run with the same inputs fetches and drops exactly that, in that order.
    const std::string report = dir / "r.csv";
    EXPECT_EQ(RunToEnd(kProgram, {"--run", articles, "--settings", hand, "--report", report},
                       dir.path(), &out, &err),
              0)
        << err;
    const auto rows = ReadReport(report);
    std::vector<std::string> done;
    for (const auto& r : rows)
        done.push_back(r.outcome == "dropped" ? "  dropped   " + r.reason + ": " + r.source
                                              : "  download  " + r.address);
    EXPECT_EQ(planned, done);
    // The placeholder src that data-original takes the place of is neither fetched nor dropped.
    ASSERT_EQ(planned.size(), 5u);
    for (const std::string& line : planned) EXPECT_EQ(line.find("data:"), std::string::npos);
    EXPECT_EQ(planned[0], "  download  " + Url("/ok1.png"));  // read under the lazy option
    EXPECT_EQ(server.RequestsTo("/ok1.png").size(), 1u);

    // A switch turns off what the settings file turns on; --run and --dry-run do not go together.
    EXPECT_EQ(RunToEnd(kProgram, {"--dry-run", articles, "--settings", hand, "--no-lazy"},
                       dir.path(), &out, &err),
              0);
    EXPECT_EQ(out.find("  download  " + Url("/ok1.png")), std::string::npos) << out;
    EXPECT_EQ(RunToEnd(kProgram, {"--run", "--dry-run", articles, "--settings", hand}, dir.path()),
              2);

    // A file with no known key is named in a warning, and the defaults are the window's.
    dir.Write("other.ini", "[其他]\r\nx=1\r\n");
    EXPECT_EQ(
        RunToEnd(kProgram, {"--dry-run", "--settings", dir / "other.ini"}, dir.path(), &out, &err),
        1);
    EXPECT_NE(err.find("no setting found in " + dir / "other.ini"), std::string::npos) << err;
    // (the child's home folder is the test's folder)
    EXPECT_NE(err.find("the article folder does not exist: " + dir.path() + "/文章目录"),
              std::string::npos)
        << err;
}

TEST_F(CliRunTest, CtrlCStopsTheHeldDownloadAndLeavesTheArticleUnwritten) {
    server.Set("/held.png", Reply::NeverAnswer());
    dir.Write("articles/a.htm", "<img src=\"" + Url("/held.png") + "\">");
    const std::string report = dir / "report.csv";
    ChildProcess child(kProgram, {"--run", articles, "--settings", settings, "--report", report},
                       dir.path());
    const auto start = std::chrono::steady_clock::now();
    AwaitRequests("/held.png", 1, start, 20);
    ASSERT_EQ(server.RequestsTo("/held.png").size(), 1u) << child.Err();
    const auto signalled = std::chrono::steady_clock::now();
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(std::chrono::seconds(10)), 130) << child.Err();
    EXPECT_LT(SecondsSince(signalled), 3.0);
    EXPECT_TRUE(platform::IsFolder(result));
    EXPECT_EQ(ReadFileOrMissing(result + "/a.htm"), "<missing>");
    EXPECT_NE(child.Out().find("Stopped: 0 of 1 articles written"), std::string::npos)
        << child.Out();
    const auto rows = ReadReport(report);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].outcome, "not reached");
    EXPECT_EQ(rows[0].reason, "stopped");
    EXPECT_EQ(rows[0].articleEnd, "cut short");
    EXPECT_EQ(server.RequestsTo("/held.png").size(), 1u);  // abandoned, not tried again

    // Two Ctrl+C in a row end it just as well, with the same status.
    ChildProcess again(kProgram, {"--run", articles, "--settings", settings}, dir.path());
    AwaitRequests("/held.png", 2, start, 40);
    again.Signal(SIGINT);
    again.Signal(SIGINT);
    EXPECT_EQ(again.Wait(std::chrono::seconds(10)), 130);

    // With downloads at once, one Ctrl+C abandons every download in flight.
    dir.Write("more/b.htm",
              "<img src=\"" + Url("/held.png?b") + "\"><img src=\"" + Url("/held.png?c") + "\">");
    const std::size_t asked = server.RequestsTo("/held.png").size();
    ChildProcess atOnce(kProgram, {"--run", dir / "more", "--settings", settings, "--jobs", "4"},
                        dir.path());
    AwaitRequests("/held.png", asked + 2, start, 60);
    ASSERT_EQ(server.RequestsTo("/held.png").size(), asked + 2) << atOnce.Err();
    const auto stopped = std::chrono::steady_clock::now();
    atOnce.Signal(SIGINT);
    EXPECT_EQ(atOnce.Wait(std::chrono::seconds(10)), 130) << atOnce.Err();
    EXPECT_LT(SecondsSince(stopped), 3.0);
    EXPECT_EQ(server.RequestsTo("/held.png").size(), asked + 2);  // none tried again
    EXPECT_EQ(ReadFileOrMissing(dir / "more/转存结果/b.htm"_gbk), "<missing>");
}

TEST_F(CliRunTest, SigtermStopsAsCtrlCDoesAndTheRetryTakesUpWhatItCutShort) {
    server.Set("/held.png", Reply::NeverAnswer());
    dir.Write("articles/a.htm",
              "<img src=\"" + Url("/ok1.png") + "\"><img src=\"" + Url("/held.png") + "\">");
    const std::string report = dir / "report.csv";
    ChildProcess child(kProgram, {"--run", articles, "--settings", settings, "--report", report},
                       dir.path());
    const auto start = std::chrono::steady_clock::now();
    AwaitRequests("/held.png", 1, start, 20);
    ASSERT_EQ(server.RequestsTo("/held.png").size(), 1u) << child.Err();
    const auto signalled = std::chrono::steady_clock::now();
    child.Signal(SIGTERM);
    EXPECT_EQ(child.Wait(std::chrono::seconds(10)), 143) << child.Err();
    EXPECT_LT(SecondsSince(signalled), 3.0);
    EXPECT_EQ(ReadFileOrMissing(result + "/a.htm"), "<missing>");
    EXPECT_NE(child.Out().find("Stopped: 0 of 1 articles written"), std::string::npos)
        << child.Out();
    const auto rows = ReadReport(report);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].outcome, "stored");
    EXPECT_EQ(rows[1].outcome, "not reached");
    EXPECT_EQ(rows[1].reason, "stopped");
    EXPECT_EQ(rows[0].articleEnd, "cut short");
    EXPECT_EQ(server.RequestsTo("/held.png").size(), 1u);

    // Nothing failed, yet the article was never written: the retry takes it up from the
    // original (its earlier result is missing), every image of it, and says so.
    server.Set("/held.png", Reply::Ok(kJpg2, "image/jpeg"));
    const std::string second = dir / "second.csv";
    std::string out, err;
    EXPECT_EQ(
        RunToEnd(kProgram,
                 {"--retry-failed", report, articles, "--settings", settings, "--report", second},
                 dir.path(), &out, &err),
        0)
        << err << out;
    EXPECT_EQ(ReadFileOrMissing(result + "/a.htm"),
              "<img src=\"http://new.site/files/img/" + job::ContentName(kPng1) +
                  ".png\"><img src=\"http://new.site/files/img/" + job::ContentName(kJpg2) +
                  ".png\">");
    EXPECT_NE(
        out.find("Done: 1 of 1 articles written, 1 images stored, 1 reused, 0 failed, 0 dropped; 1 "
                 "article with the earlier result missing: rewritten from the original\n"),
        std::string::npos)
        << out;
    const auto again = ReadReport(second);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[1].outcome, "stored");
    EXPECT_EQ(again[1].articleEnd, "written (earlier result missing: rewritten from the original)");

    // A row with an https:// address waits for --https, and the retry says so.
    job::ReportRow https = again[1];
    https.outcome = "failed";
    https.address = "HTTPS://127.0.0.1:1/x.png";
    dir.Write("https.csv", job::CsvReport({https}));
    EXPECT_EQ(
        RunToEnd(kProgram, {"--retry-failed", dir / "https.csv", articles, "--settings", settings},
                 dir.path(), &out, &err),
        1);
    EXPECT_NE(err.find("1 image with an https:// address not retried: --https retries them"),
              std::string::npos)
        << err;
}

TEST_F(CliRunTest, AStopThenEitherRetryWritesEveryArticleTheRunNeverReached) {
    server.Set("/held.png", Reply::NeverAnswer());
    const std::string out1 = dir / "site";
    // Under --output, with a record kept (a publish after the run or the incremental option
    // keeps it; here the incremental option), and with a report.
    for (const bool fromRecord : {false, true}) {
        SCOPED_TRACE(fromRecord);
        server.Set("/held.png", Reply::NeverAnswer());
        fs::remove_all(platform::NativePath(out1));
        dir.Write("articles/a.htm", "<img src=\"" + Url("/held.png") + "\">");
        dir.Write("articles/b.htm", "<img src=\"" + Url("/ok1.png") + "\">");
        dir.Write("articles/c.htm", "no image");
        const std::string report = dir / "report.csv";
        const std::size_t asked = server.RequestsTo("/held.png").size();
        ChildProcess child(kProgram,
                           {"--run", articles, "--settings", settings, "--report", report,
                            "--output", out1, "--incremental"},
                           dir.path());
        AwaitRequests("/held.png", asked + 1, std::chrono::steady_clock::now(), 20);
        ASSERT_EQ(server.RequestsTo("/held.png").size(), asked + 1) << child.Err();
        child.Signal(SIGINT);
        EXPECT_EQ(child.Wait(std::chrono::seconds(10)), 130) << child.Err();
        EXPECT_NE(child.Out().find("Stopped: 0 of 3 articles written"), std::string::npos)
            << child.Out();
        const auto rows = ReadReport(report);
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[0].articleEnd, "cut short");
        EXPECT_EQ(rows[1].article, articles + "/b.htm");
        EXPECT_EQ(rows[1].articleEnd, "not reached");
        EXPECT_EQ(rows[2].article, articles + "/c.htm");
        EXPECT_EQ(rows[2].articleEnd, "not reached");

        // The retry, from the report or from the record under the same --output, takes every
        // one of them up.
        server.Set("/held.png", Reply::Ok(kJpg2, "image/jpeg"));
        std::vector<std::string> retry = {"--retry-failed", articles,   "--settings",
                                          settings,         "--output", out1};
        if (!fromRecord) retry[1] = report, retry.insert(retry.begin() + 2, articles);
        std::string out, err;
        EXPECT_EQ(RunToEnd(kProgram, retry, dir.path(), &out, &err), 0) << err << out;
        EXPECT_NE(out.find("Done: 3 of 3 articles written"), std::string::npos) << out;
        EXPECT_EQ(ReadFileOrMissing(out1 + "/b.htm"),
                  "<img src=\"http://new.site/files/img/" + job::ContentName(kPng1) + ".png\">");
        EXPECT_EQ(ReadFileOrMissing(out1 + "/c.htm"), "no image");
        EXPECT_EQ(ReadFileOrMissing(out1 + "/a.htm"),
                  "<img src=\"http://new.site/files/img/" + job::ContentName(kJpg2) + ".png\">");
        // Nothing is left to retry.
        EXPECT_EQ(RunToEnd(kProgram,
                           {"--retry-failed", articles, "--settings", settings, "--output", out1},
                           dir.path(), &out, &err),
                  0)
            << err;
        EXPECT_NE(out.find("Nothing to retry"), std::string::npos) << out;
    }
}

TEST_F(CliRunTest, ControlCharactersInNamesAndAddressesArePrintedEscaped) {
    const std::string titled = "a\x1b]0;pwned\x07.htm";
    const std::string fake = "b\nDone: 99 of 99 articles written.htm";
    dir.Write("articles/" + titled, "<img src=\"" + Url("/ok1.png") + "\">");
    dir.Write("articles/" + fake, "<img src=\"" + Url("/x\x1b[2J.png") + "\">");
    const std::string report = dir / "r.csv";
    const auto raw = [](const std::string& text) {
        return text.find_first_of("\x1b\x07") != std::string::npos ||
               text.find("\nDone: 99") != std::string::npos;
    };
    std::string out, err;
    RunToEnd(kProgram, {"--run", articles, "--settings", settings, "--report", report}, dir.path(),
             &out, &err);
    EXPECT_FALSE(raw(out)) << out;
    EXPECT_FALSE(raw(err)) << err;
    EXPECT_NE(err.find("/a\\x1b]0;pwned\\x07.htm: written"), std::string::npos) << err;
    EXPECT_NE(err.find("/b\\nDone: 99 of 99 articles written.htm: written"), std::string::npos)
        << err;
    EXPECT_NE(out.find("Done: 2 of 2 articles written"), std::string::npos) << out;
    // The report keeps the names as they are, quoted.
    const auto rows = ReadReport(report);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].article, articles + "/" + titled);
    EXPECT_EQ(rows[1].article, articles + "/" + fake);
    EXPECT_NE(ReadFileOrMissing(report).find("\"" + articles + "/" + fake + "\""),
              std::string::npos);

    ASSERT_EQ(
        RunToEnd(kProgram, {"--dry-run", articles, "--settings", settings}, dir.path(), &out, &err),
        0)
        << err;
    EXPECT_FALSE(raw(out)) << out;
    EXPECT_NE(out.find(articles + "/b\\nDone: 99 of 99 articles written.htm\n  download  " +
                       Url("/x") + "\\x1b[2J.png\n"),
              std::string::npos)
        << out;
    // A refusal naming the folder is escaped too.
    RunToEnd(kProgram, {"--run", articles, "--settings", settings, "--images", "../\x1b[2J"},
             dir.path(), &out, &err);
    EXPECT_FALSE(raw(err)) << err;
    EXPECT_NE(err.find("the image folder cannot leave the result folder: ../\\x1b[2J"),
              std::string::npos)
        << err;
}

TEST_F(CliRunTest, ASecondRunOnAResultFolderInUseEndsAtOnceTouchingNothing) {
    server.Set("/held.png", Reply::NeverAnswer());
    dir.Write("articles/a.htm", "<img src=\"" + Url("/held.png") + "\">");
    dir.Write("articles/b.htm", "<img src=\"" + Url("/ok1.png") + "\">");
    ChildProcess first(kProgram, {"--run", articles, "--settings", settings}, dir.path());
    AwaitRequests("/held.png", 1, std::chrono::steady_clock::now(), 20);
    ASSERT_EQ(server.RequestsTo("/held.png").size(), 1u) << first.Err();
    auto before = Tree(dir.path());
    for (const char* name : {"stdout.txt", "stderr.txt"}) before.erase(dir / name);
    const std::size_t asked = server.RequestCount();

    for (const std::string mode : {"--run", "--retry-failed"}) {
        SCOPED_TRACE(mode);
        std::vector<std::string> args = {mode, articles, "--settings", settings};
        if (mode == "--retry-failed") {
            job::ReportRow row;
            row.article = articles + "/b.htm";
            row.address = Url("/ok1.png");
            row.outcome = "failed";
            row.articleEnd = "written";
            dir.Write("r.csv", job::CsvReport({row}));
            args = {mode, dir / "r.csv", articles, "--settings", settings};
        }
        const auto start = std::chrono::steady_clock::now();
        std::string out, err;
        EXPECT_EQ(RunToEnd(kProgram, args, dir.path(), &out, &err), 1) << err;
        EXPECT_LT(SecondsSince(start), 5.0);  // it does not wait for the first
        EXPECT_NE(err.find("the result folder is in use by another run: " +
                           text::Utf8FromGbk(result) + "/"),
                  std::string::npos)
            << err;
    }
    auto after = Tree(dir.path());
    for (const char* name : {"stdout.txt", "stderr.txt", "r.csv"}) after.erase(dir / name);
    EXPECT_EQ(after, before);
    EXPECT_EQ(server.RequestCount(), asked);

    first.Signal(SIGINT);
    EXPECT_EQ(first.Wait(std::chrono::seconds(10)), 130);
    // Once it has ended, the folder is free again.
    server.Set("/held.png", Reply::Ok(kJpg2, "image/jpeg"));
    EXPECT_EQ(RunToEnd(kProgram, {"--run", articles, "--settings", settings}, dir.path()), 0);
}

TEST_F(CliRunTest, RetryReadsAndWritesOnlyPlainArticlesOfTheArticleFolder) {
    dir.Write("articles/a.htm", "<img src=\"" + Url("/ok1.png") + "\">");
    dir.Write("victim/x.txt", "<img src=\"" + Url("/ok1.png") + "\">");
    dir.Write("articles/notes.txt", "<img src=\"" + Url("/ok1.png") + "\">");  // not *.htm
    auto row = [&](const std::string& article) {
        job::ReportRow r;
        r.article = article;
        r.source = r.address = Url("/ok1.png");
        r.outcome = "failed";
        r.articleEnd = "written";
        return r;
    };
    const std::string good = text::Utf8FromGbk(articles) + "/a.htm";
    struct Case {
        std::vector<job::ReportRow> rows;
        std::size_t line;
    };
    job::ReportRow multiLine = row(good);
    multiLine.source = "a\nb\nc";
    const Case cases[] = {
        {{row(good), row(text::Utf8FromGbk(articles) + "/sub/../../victim/x.txt")}, 3},
        {{row("a.htm")}, 2},
        {{multiLine, row(text::Utf8FromGbk(articles) + "/./a.htm")}, 5},
        {{row(text::Utf8FromGbk(dir.path()) + "/victim/x.txt")}, 2},
        {{row(good), row(text::Utf8FromGbk(articles) + "/notes.txt")}, 3},
    };
    const auto before = Tree(dir.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows.back().article);
        dir.Write("hostile.csv", job::CsvReport(c.rows));
        std::string out, err;
        EXPECT_EQ(
            RunToEnd(kProgram,
                     {"--retry-failed", dir / "hostile.csv", articles, "--settings", settings},
                     dir.path(), &out, &err),
            2);
        EXPECT_NE(err.find("hostile.csv, line " + std::to_string(c.line) + ": "), std::string::npos)
            << err;
    }
    auto after = Tree(dir.path());
    after.erase(dir / "stdout.txt");
    after.erase(dir / "stderr.txt");
    after.erase(dir / "hostile.csv");
    EXPECT_EQ(after, before);
    EXPECT_EQ(server.RequestCount(), 0u);

    // The plain row is taken, in the folder given; without one, the settings' folder decides.
    dir.Write("plain.csv", job::CsvReport({row(good)}));
    EXPECT_EQ(RunToEnd(kProgram, {"--retry-failed", dir / "plain.csv", "--settings", settings},
                       dir.path()),
              2);
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_EQ(
        RunToEnd(kProgram,
                 {"--retry-failed", dir / "plain.csv", articles + "/", "--settings", settings},
                 dir.path()),
        0);
    EXPECT_EQ(ReadFileOrMissing(result + "/a.htm"),
              "<img src=\"http://new.site/files/img/" + job::ContentName(kPng1) + ".png\">");
}

TEST_F(CliRunTest, RetryFailedDownloadsOnlyTheFailedAndKeepsTheEarlierRewrites) {
    Reply flaky = Reply::Ok(kJpg2, "image/jpeg");
    flaky.failFirst = 2;  // the first run's request and its retry
    server.Set("/flaky.jpg", flaky);
    dir.Write("articles/a.htm",
              "<img src=\"" + Url("/ok1.png") + "\"><img src=\"" + Url("/flaky.jpg") + "\">");
    dir.Write("articles/b.htm", "<img src=\"" + Url("/ok1.png") + "\">");
    const std::string report = dir / "first.csv";
    EXPECT_EQ(RunToEnd(kProgram, {"--run", articles, "--settings", settings, "--report", report},
                       dir.path()),
              1);
    const auto first = ReadReport(report);
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[1].outcome, "failed");
    EXPECT_EQ(first[1].status, 503);
    const std::string bBefore = ReadFileOrMissing(result + "/b.htm");
    server.ClearRequests();

    const std::string second = dir / "second.csv";
    std::string out, err;
    EXPECT_EQ(
        RunToEnd(kProgram,
                 {"--retry-failed", report, articles, "--settings", settings, "--report", second},
                 dir.path(), &out, &err),
        0)
        << err;
    // Only the failed image was asked for, in the one article that had it.
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0].path, "/flaky.jpg");
    const std::string a = ReadFileOrMissing(result + "/a.htm");
    EXPECT_EQ(a, "<img src=\"http://new.site/files/img/" + job::ContentName(kPng1) +
                     ".png\"><img src=\"http://new.site/files/img/" + job::ContentName(kJpg2) +
                     ".jpg\">");
    EXPECT_EQ(ReadFileOrMissing(result + "/b.htm"), bBefore);
    EXPECT_NE(out.find("1 of 1 articles written, 1 images stored, 0 reused, 0 failed"),
              std::string::npos)
        << out;
    const auto rows = ReadReport(second);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].outcome, "stored");
    EXPECT_EQ(rows[0].address, Url("/flaky.jpg"));

    // A report with nothing failed leaves nothing to do.
    EXPECT_EQ(RunToEnd(kProgram, {"--retry-failed", second, articles, "--settings", settings},
                       dir.path(), &out),
              0);
    EXPECT_NE(out.find("Nothing to retry"), std::string::npos);
    EXPECT_EQ(server.RequestCount(), 1u);
}

// What refused is named: the image's host, or the proxy in between (the host never reached).
TEST_F(CliRunTest, AProxyThatRefusesIsNamedAsTheProxy) {
    const int closedPort = RawServer([](RawConnection&) {}).port();
    const std::string closed = "http://127.0.0.1:" + std::to_string(closedPort);
    dir.Write("articles/a.htm",
              "<img src=\"" + closed + "/x.png\"><img src=\"" + Url("/ok1.png") + "\">");
    const ScopedEnv noProxy("no_proxy", nullptr), noProxyUpper("NO_PROXY", nullptr);
    struct Case {
        const char* proxy;  // nullptr: none
        std::vector<std::string> reasons;
    };
    for (const Case& c :
         {Case{nullptr, {"refused", ""}}, Case{"dead", {"proxy refused", "proxy refused"}}}) {
        SCOPED_TRACE(c.proxy ? c.proxy : "direct");
        const ScopedEnv proxy("http_proxy", c.proxy ? closed.c_str() : nullptr);
        std::string out, err;
        EXPECT_EQ(RunToEnd(kProgram,
                           {"--run", articles, "--settings", settings, "--report", dir / "r.csv",
                            "--quiet"},
                           dir.path(), &out, &err),
                  1);
        const auto rows = ReadReport(dir / "r.csv");
        ASSERT_EQ(rows.size(), 2u);
        for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].reason, c.reasons[i]) << i;
        EXPECT_NE(out.find("failed: " + c.reasons[0] + ": "), std::string::npos) << out;
    }
}

// Under --check-content only a body whose first bytes are an image format is stored, whatever
// type it was sent as.
TEST_F(CliRunTest, TheContentCheckRefusesWhatIsNoImageWhateverItsType) {
    const std::vector<std::pair<std::string, std::string>> bodies = {
        {"/json.png", "{\"error\": \"no such image\"}"},
        {"/utf16.png", std::string("\xFF\xFE<\0h\0t\0m\0l\0>\0", 12)},
        {"/text.png", "Not Found"},
    };
    std::string article;
    for (const auto& [path, body] : bodies) {
        server.Set(path, Reply::Ok(body, "image/png"));
        article += "<img src=\"" + Url(path) + "\">";
    }
    dir.Write("articles/a.htm", article + "<img src=\"" + Url("/ok1.png") + "\">");
    std::string out, err;
    EXPECT_EQ(RunToEnd(kProgram,
                       {"--run", articles, "--settings", settings, "--report", dir / "r.csv",
                        "--check-content", "--quiet"},
                       dir.path(), &out, &err),
              1);
    const auto rows = ReadReport(dir / "r.csv");
    ASSERT_EQ(rows.size(), 4u);
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        EXPECT_EQ(rows[i].outcome, "failed") << bodies[i].first;
        EXPECT_EQ(rows[i].reason, "not an image") << bodies[i].first;
    }
    EXPECT_EQ(rows[3].outcome, "stored");
    std::size_t images = 0;
    for (const auto& e : fs::directory_iterator(platform::NativePath(result + "/files/img"))) {
        ++images;
        EXPECT_EQ(ReadFileOrMissing(text::GbkFromUtf8(e.path().string())), kPng1);
    }
    EXPECT_EQ(images, 1u);
}

}  // namespace
}  // namespace zembrat::testing
