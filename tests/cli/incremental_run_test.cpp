// Incremental runs on the command line: the real executable, a loopback server, the run record
// it keeps in the result folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <thread>

#include "child_process.h"
#include "config/config_store.h"
#include "job/image_names.h"
#include "job/run.h"
#include "job/run_report.h"
#include "platform/files.h"
#include "record/run_record.h"
#include "support/event_counter.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::testing {
namespace {
using namespace text::literals;
namespace fs = std::filesystem;

const std::string kProgram = ZEMBRAT_EXECUTABLE;
const std::string kRecord = ".zembrat-record.sqlite";
const std::string kPngA = "\x89PNG\r\n\x1a\n picture a";
const std::string kPngB = "\x89PNG\r\n\x1a\n picture b";
const std::string kPngS = "\x89PNG\r\n\x1a\n shared picture";
const std::string kPngB2 = "\x89PNG\r\n\x1a\n picture b, redrawn";

std::string Stored(const std::string& bytes) {
    return "files/img/" + job::ContentName(bytes) + ".png";
}

class IncrementalRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.started());
        server.Set("/a.png", Reply::Ok(kPngA, "image/png"));
        server.Set("/b.png", Reply::Ok(kPngB, "image/png"));
        server.Set("/s.png", Reply::Ok(kPngS, "image/png"));
        articles = dir / "articles";
        result = articles + "/转存结果/"_gbk;
        settings = dir / "Zembrat.ini";
        config::ConfigStore store;
        ASSERT_TRUE(store.Open(settings, config::DiskFile));
        store.SetSection("基本配置"_gbk);
        store.WriteText("新的域名前缀"_gbk, "new.site");
    }
    std::string Img(const std::string& path) const {
        return "<img src=\"" + server.Url(path) + "\">";
    }
    // Runs to the end with the settings file and a report; the report's rows by article name.
    int Run(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr) {
        args.insert(args.end(), {articles, "--settings", settings, "--report", dir / "r.csv"});
        return RunToEnd(kProgram, args, dir.path(), out, err);
    }
    std::vector<job::ReportRow> Rows(const std::string& name) const {
        std::vector<job::ReportRow> rows, all;
        std::string error;
        EXPECT_TRUE(job::ParseCsvReport(ReadFileOrMissing(dir / "r.csv"), all, error)) << error;
        for (const job::ReportRow& r : all) {
            if (r.article == text::Utf8FromGbk(articles) + "/" + name) rows.push_back(r);
        }
        return rows;
    }
    // The files of the result folder that are not the record's own.
    std::map<std::string, std::string> Results() const {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(platform::NativePath(result))) {
            if (e.is_regular_file() && !e.path().filename().string().starts_with(kRecord))
                files[e.path().string()] = ReadFileOrMissing(text::GbkFromUtf8(e.path().string()));
        }
        return files;
    }

    HttpServer server;
    TempDir dir;
    std::string articles, result, settings;
};

TEST_F(IncrementalRunTest, TheRecordIsKeptOnlyWhenAnOptionUsesItOrOneIsThere) {
    dir.Write("articles/1.htm", Img("/a.png"));
    dir.Write("articles/2.htm", Img("/b.png"));
    const auto files = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(platform::NativePath(result)))
            names.push_back(e.path().string().substr(text::Utf8FromGbk(result).size()));
        std::sort(names.begin(), names.end());
        return names;
    };
    std::vector<std::string> described = {"1.htm",     "2.htm",       "files",
                                          "files/img", Stored(kPngA), Stored(kPngB)};
    std::sort(described.begin(), described.end());
    // A run with no option leaves the articles and the image folder, and nothing else.
    std::string out, err;
    ASSERT_EQ(
        RunToEnd(kProgram, {"--run", articles, "--settings", settings}, dir.path(), &out, &err), 0)
        << err;
    EXPECT_EQ(files(), described);
    // A retry from the record, with none there, says how to get one.
    EXPECT_EQ(RunToEnd(kProgram, {"--retry-failed", articles, "--settings", settings}, dir.path(),
                       &out, &err),
              2);
    EXPECT_NE(err.find("no run record to retry from in " + text::Utf8FromGbk(result)),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("--incremental"), std::string::npos) << err;
    EXPECT_NE(err.find("--report"), std::string::npos) << err;
    EXPECT_EQ(files(), described);

    // Under the incremental option the record is made; a later run with no option keeps it up,
    // so that the next incremental run does not trust what it no longer says.
    ASSERT_EQ(Run({"--run", "--incremental"}), 0);
    EXPECT_TRUE(platform::PathExists(result + kRecord));
    dir.Write("articles/2.htm", Img("/s.png"));
    ASSERT_EQ(RunToEnd(kProgram, {"--run", articles, "--settings", settings}, dir.path()), 0);
    server.ClearRequests();
    ASSERT_EQ(Run({"--run", "--incremental"}, &out, &err), 0) << err;
    EXPECT_EQ(server.Requests().size(), 0u);  // 2.htm's new image was recorded by the plain run
    EXPECT_NE(out.find("2 unchanged articles skipped"), std::string::npos) << out;
}

TEST_F(IncrementalRunTest, ADryRunReadsTheRecordAsTheRunWillAndNeverWritesIt) {
    dir.Write("articles/1.htm", Img("/a.png") + Img("/s.png"));
    dir.Write("articles/2.htm", Img("/b.png"));
    ASSERT_EQ(Run({"--run", "--incremental"}), 0);
    const auto record = [&] {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(platform::NativePath(result))) {
            if (e.path().filename().string().starts_with(kRecord))
                files[e.path().string()] = ReadFileOrMissing(text::GbkFromUtf8(e.path().string()));
        }
        return files;
    };
    const auto before = record();
    ASSERT_EQ(before.size(), 1u);  // closed cleanly: no journal beside it

    // Unchanged: the dry run lists what the run does, nothing.
    std::string out, err;
    ASSERT_EQ(RunToEnd(kProgram, {"--dry-run", "--incremental", articles, "--settings", settings},
                       dir.path(), &out, &err),
              0)
        << err;
    EXPECT_NE(out.find("1.htm\n  unchanged: skipped\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Dry run: 2 articles, 0 images to download, 0 references dropped, 0 "
                       "reused, 2 unchanged articles skipped"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("download  "), std::string::npos) << out;
    // Without the option it previews a plain run, which downloads everything.
    ASSERT_EQ(
        RunToEnd(kProgram, {"--dry-run", articles, "--settings", settings}, dir.path(), &out, &err),
        0);
    EXPECT_NE(out.find("Dry run: 2 articles, 3 images to download"), std::string::npos) << out;

    // Changed: a known image is reused, one met in an earlier article too, a new one downloaded.
    dir.Write("articles/2.htm", Img("/s.png") + Img("/b.png") + Img("/n.png"));
    dir.Write("articles/3.htm", Img("/n.png"));
    server.Set("/n.png", Reply::Ok(kPngB2, "image/png"));
    ASSERT_EQ(RunToEnd(kProgram, {"--dry-run", "--incremental", articles, "--settings", settings},
                       dir.path(), &out, &err),
              0)
        << err;
    EXPECT_NE(out.find("2.htm\n  reused    " + server.Url("/s.png") + "\n  reused    " +
                       server.Url("/b.png") + "\n  download  " + server.Url("/n.png") + "\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("3.htm\n  reused    " + server.Url("/n.png") + "\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("1 images to download, 0 references dropped, 3 reused, 1 unchanged "
                       "article skipped"),
              std::string::npos)
        << out;
    EXPECT_EQ(record(), before);  // read, never written

    // The run does just that.
    server.ClearRequests();
    ASSERT_EQ(Run({"--run", "--incremental"}), 0);
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.RequestsTo("/n.png").size(), 1u);
}

TEST_F(IncrementalRunTest, SecondRunSkipsWhatIsUnchangedAndDownloadsOnlyWhatIsNew) {
    dir.Write("articles/1.htm", Img("/a.png") + Img("/s.png"));
    dir.Write("articles/2.htm", Img("/s.png") + Img("/b.png"));
    dir.Write("articles/3.htm", "<p>" + Img("/s.png"));

    // Without the option the run is as ever (the shared image once per article) and keeps no
    // record.
    std::string out, err;
    ASSERT_EQ(Run({"--run"}, &out, &err), 0) << err;
    EXPECT_EQ(server.RequestsTo("/s.png").size(), 3u);
    EXPECT_FALSE(platform::PathExists(result + kRecord));
    EXPECT_EQ(Rows("3.htm").at(0).status, 200);  // downloaded again, the file already there
    EXPECT_EQ(Rows("3.htm").at(0).reason, "");

    // Under the option, with the record forgotten (there is none to set aside) and downloads at
    // once: the shared image is downloaded once, its later rows reuse it.
    server.ClearRequests();
    ASSERT_EQ(Run({"--run", "--incremental", "--forget", "--jobs", "3"}, &out, &err), 0) << err;
    EXPECT_EQ(server.RequestsTo("/s.png").size(), 1u);
    EXPECT_EQ(server.RequestCount(), 3u);
    EXPECT_EQ(err.find("set aside"), std::string::npos) << err;
    const auto third = Rows("3.htm");
    ASSERT_EQ(third.size(), 1u);
    EXPECT_EQ(third[0].outcome, "reused");
    EXPECT_EQ(third[0].reason, "stored before");
    EXPECT_EQ(third[0].storedName, Stored(kPngS));
    EXPECT_EQ(ReadFileOrMissing(result + "3.htm"),
              "<p><img src=\"http://new.site/" + Stored(kPngS) + "\">");
    const auto before = Results();

    // Nothing changed: no request at all, every article skipped, the results as they were.
    for (const char* jobs : {"1", "4"}) {
        server.ClearRequests();
        ASSERT_EQ(Run({"--run", "--incremental", "--jobs", jobs}, &out, &err), 0) << err;
        EXPECT_EQ(server.RequestCount(), 0u) << jobs;
        EXPECT_NE(
            out.find(
                "Done: 0 of 3 articles written, 0 images stored, 0 reused, 0 failed, 0 dropped; "
                "3 unchanged articles skipped\n"),
            std::string::npos)
            << out;
        for (const char* name : {"1.htm", "2.htm", "3.htm"}) {
            ASSERT_EQ(Rows(name).size(), 1u);
            EXPECT_EQ(Rows(name)[0].articleEnd, "skipped");
        }
        EXPECT_EQ(Results(), before);
    }

    // One article changed, one new, a stored image deleted: only those are done, and only the
    // deleted image and the new one are asked for.
    dir.Write("articles/2.htm", "<p>changed</p>" + Img("/s.png") + Img("/b.png"));
    dir.Write("articles/4.htm", Img("/a.png") + Img("/n.png"));
    server.Set("/n.png", Reply::Ok(kPngB2, "image/png"));
    fs::remove(platform::NativePath(result + Stored(kPngA)));
    server.ClearRequests();
    ASSERT_EQ(Run({"--run", "--incremental"}, &out, &err), 0) << err;
    EXPECT_EQ(server.RequestsTo("/a.png").size(), 1u);
    EXPECT_EQ(server.RequestsTo("/n.png").size(), 1u);
    EXPECT_EQ(server.RequestCount(), 2u);
    EXPECT_EQ(Rows("1.htm").at(0).articleEnd, "written");  // its image was gone
    EXPECT_EQ(Rows("2.htm").at(0).outcome, "reused");
    EXPECT_EQ(Rows("2.htm").at(0).articleEnd, "written");
    EXPECT_EQ(Rows("3.htm").at(0).articleEnd, "skipped");
    EXPECT_EQ(ReadFileOrMissing(result + "2.htm"),
              "<p>changed</p><img src=\"http://new.site/" + Stored(kPngS) +
                  "\"><img src=\"http://new.site/" + Stored(kPngB) + "\">");
    EXPECT_EQ(ReadFileOrMissing(result + Stored(kPngA)), kPngA);

    // Another new prefix changes every article's result: none is skipped, nothing downloaded.
    server.ClearRequests();
    ASSERT_EQ(Run({"--run", "--incremental", "--new-prefix", "other.site"}, &out, &err), 0) << err;
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_EQ(ReadFileOrMissing(result + "3.htm"),
              "<p><img src=\"http://other.site/" + Stored(kPngS) + "\">");
}

TEST_F(IncrementalRunTest, RefreshAsksConditionallyAndRewritesWhatChanged) {
    server.Set("/a.png", Reply::Ok(kPngA, "image/png")
                             .Header("ETag", "\"a-1\"")
                             .Header("Last-Modified", "Mon, 07 Dec 2026 10:00:00 GMT"));
    server.Set("/b.png", Reply::Ok(kPngB, "image/png").Header("ETag", "W/\"b-1\""));
    dir.Write("articles/1.htm", Img("/a.png") + Img("/b.png"));
    dir.Write("articles/2.htm", Img("/b.png"));
    ASSERT_EQ(Run({"--run", "--incremental"}), 0);

    // The first is not modified, the second was redrawn.
    server.Set("/a.png", Reply::Status(304));
    server.Set("/b.png", Reply::Ok(kPngB2, "image/png").Header("ETag", "\"b-2\""));
    server.ClearRequests();
    std::string out, err;
    ASSERT_EQ(Run({"--run", "--incremental", "--refresh", "--jobs", "2"}, &out, &err), 0) << err;
    const auto a = server.RequestsTo("/a.png");
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].Header("If-None-Match"), "\"a-1\"");
    EXPECT_EQ(a[0].Header("If-Modified-Since"), "Mon, 07 Dec 2026 10:00:00 GMT");
    const auto b = server.RequestsTo("/b.png");
    ASSERT_EQ(b.size(), 1u);  // once for both articles
    EXPECT_EQ(b[0].Header("If-None-Match"), "W/\"b-1\"");
    EXPECT_FALSE(b[0].HasHeader("If-Modified-Since"));
    const auto rows = Rows("1.htm");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].outcome, "reused");
    EXPECT_EQ(rows[0].status, 304);
    EXPECT_EQ(rows[0].reason, "stored before");
    EXPECT_EQ(rows[1].outcome, "stored");
    EXPECT_EQ(ReadFileOrMissing(result + "1.htm"), "<img src=\"http://new.site/" + Stored(kPngA) +
                                                       "\"><img src=\"http://new.site/" +
                                                       Stored(kPngB2) + "\">");
    EXPECT_EQ(ReadFileOrMissing(result + "2.htm"),
              "<img src=\"http://new.site/" + Stored(kPngB2) + "\">");

    // The next refresh names the new validator. A 304 to a request that asked nothing
    // conditionally is no image: without the stored file the row fails.
    server.Set("/b.png", Reply::Status(304));
    fs::remove(platform::NativePath(result + Stored(kPngA)));
    server.ClearRequests();
    EXPECT_EQ(Run({"--run", "--incremental", "--refresh"}, &out, &err), 1) << err;
    EXPECT_EQ(server.RequestsTo("/b.png").at(0).Header("If-None-Match"), "\"b-2\"");
    EXPECT_FALSE(server.RequestsTo("/a.png").at(0).HasHeader("If-None-Match"));
    EXPECT_EQ(Rows("1.htm").at(0).outcome, "failed");
    EXPECT_EQ(Rows("1.htm").at(1).outcome, "reused");

    // A refresh that gets no usable answer keeps the image stored before.
    server.Set("/b.png", Reply::Status(500));
    EXPECT_EQ(Run({"--run", "--incremental", "--refresh"}, &out, &err), 1) << err;
    EXPECT_EQ(Rows("1.htm").at(1).outcome, "reused");
    EXPECT_EQ(Rows("1.htm").at(1).status, 500);
    EXPECT_EQ(Rows("2.htm").at(0).reason, "stored before");
    EXPECT_EQ(ReadFileOrMissing(result + "2.htm"),
              "<img src=\"http://new.site/" + Stored(kPngB2) + "\">");
}

TEST_F(IncrementalRunTest, KilledRunIsTakenUpWhereItEndedWithNothingDownloadedTwice) {
    dir.Write("articles/1.htm", Img("/a.png") + Img("/s.png"));
    dir.Write("articles/2.htm", Img("/b.png") + Img("/s.png"));
    dir.Write("articles/3.htm", Img("/held.png") + Img("/a.png"));
    const std::string third = "<img src=\"http://new.site/" + Stored(kPngB2) +
                              "\"><img src=\"http://new.site/" + Stored(kPngA) + "\">";
    // The record commits the articles that end within 100 ms of each other together: killed
    // once the first two are in the record, the next run takes up the third alone; killed as
    // soon as the third is asked for, the next run may do the first two again, and every
    // result ends whole either way.
    for (const bool recorded : {true, false}) {
        SCOPED_TRACE(recorded);
        fs::remove_all(platform::NativePath(result));
        server.Set("/held.png", Reply::NeverAnswer());
        server.ClearRequests();
        {
            ChildProcess child(
                kProgram, {"--run", "--incremental", articles, "--settings", settings}, dir.path());
            const auto start = std::chrono::steady_clock::now();
            const auto inRecord = [&] {
                record::RunRecord record;
                const auto second =
                    record.OpenToRead(result) ? record.Article("2.htm") : std::nullopt;
                return second && second->end == record::ArticleEnd::Written;
            };
            while ((server.RequestsTo("/held.png").empty() || (recorded && !inRecord())) &&
                   SecondsSince(start) < 20)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ASSERT_EQ(server.RequestsTo("/held.png").size(), 1u) << child.Err();
            child.Signal(SIGKILL);
            EXPECT_EQ(child.Wait(std::chrono::seconds(10)), 128 + SIGKILL);
        }
        EXPECT_EQ(server.RequestCount(), 4u);  // a, s, b, held
        EXPECT_EQ(ReadFileOrMissing(result + "3.htm"), "<missing>");

        server.Set("/held.png", Reply::Ok(kPngB2, "image/png"));
        server.ClearRequests();
        std::string out, err;
        ASSERT_EQ(Run({"--run", "--incremental"}, &out, &err), 0) << err;
        EXPECT_EQ(server.RequestsTo("/held.png").size(), 1u);
        EXPECT_EQ(ReadFileOrMissing(result + "3.htm"), third);
        EXPECT_EQ(ReadFileOrMissing(result + "1.htm"),
                  "<img src=\"http://new.site/" + Stored(kPngA) + "\"><img src=\"http://new.site/" +
                      Stored(kPngS) + "\">");
        if (!recorded) continue;
        EXPECT_EQ(server.RequestCount(), 1u);
        EXPECT_EQ(Rows("1.htm").at(0).articleEnd, "skipped");
        EXPECT_EQ(Rows("2.htm").at(0).articleEnd, "skipped");
        EXPECT_EQ(Rows("3.htm").at(1).reason, "stored before");
    }
}

TEST_F(IncrementalRunTest, DamagedRecordIsSetAsideAndRetryFailedReadsTheRecord) {
    dir.Write("articles/1.htm", Img("/a.png") + Img("/bad.png"));
    dir.Write("articles/2.htm", Img("/b.png"));
    dir.Write("articles/转存结果/"_gbk + kRecord, "this is no database, only some bytes");
    std::string out, err;
    EXPECT_EQ(Run({"--run"}, &out, &err), 1) << err;  // /bad.png is missing
    EXPECT_NE(err.find("zembrat: The run record "), std::string::npos) << err;
    EXPECT_NE(err.find("set aside"), std::string::npos) << err;
    std::size_t aside = 0;
    for (const auto& e : fs::directory_iterator(platform::NativePath(result))) {
        const std::string name = e.path().filename().string();
        if (name != kRecord && name.starts_with(kRecord)) {
            ++aside;
            EXPECT_EQ(ReadFileOrMissing(text::GbkFromUtf8(e.path().string())),
                      "this is no database, only some bytes");
        }
    }
    EXPECT_EQ(aside, 1u);
    EXPECT_EQ(ReadFileOrMissing(result + "1.htm"),
              "<img src=\"http://new.site/" + Stored(kPngA) + "\">" + Img("/bad.png"));

    // The retry from the record asks only for the failed image, and writes its article again.
    server.Set("/bad.png", Reply::Ok(kPngS, "image/png"));
    server.ClearRequests();
    for (const bool named : {false, true}) {
        std::vector<std::string> args{"--retry-failed"};
        if (named) args.push_back(result + kRecord);
        ASSERT_EQ(Run(args, &out, &err), 0) << err << out;
        if (named) {
            EXPECT_NE(out.find("Nothing to retry"), std::string::npos) << out;
            continue;
        }
        EXPECT_EQ(server.RequestsTo("/bad.png").size(), 1u);
        EXPECT_EQ(server.RequestCount(), 1u);
        EXPECT_EQ(ReadFileOrMissing(result + "1.htm"),
                  "<img src=\"http://new.site/" + Stored(kPngA) + "\"><img src=\"http://new.site/" +
                      Stored(kPngS) + "\">");
    }
    EXPECT_EQ(server.RequestCount(), 1u);
}

// Runs SQL on the record of the result folder, as another program (or an earlier version) would
// have left it.
void ChangeRecord(const std::string& file, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(text::Utf8FromGbk(file).c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << error;
    sqlite3_free(error);
    sqlite3_close(db);
}

// A skip is never taken on the record's word alone: an image changed in place at its size is
// read again, a record of the version before (without the files' times) is still read, and a
// record that cannot be written fails the run.
TEST_F(IncrementalRunTest, ADamagedImageOrAnUnwritableRecordIsNeverTakenForDone) {
    dir.Write("articles/1.htm", Img("/a.png"));
    std::string out, err;
    ASSERT_EQ(Run({"--run", "--incremental"}, &out, &err), 0) << err;
    const std::string image = result + Stored(kPngA);
    ASSERT_EQ(ReadFileOrMissing(image), kPngA);

    // Of the version before: the columns dropped; still read, the article still skipped.
    ChangeRecord(result + kRecord,
                 "ALTER TABLE images DROP COLUMN file_time; ALTER TABLE images DROP COLUMN "
                 "file_inode;");
    server.ClearRequests();
    ASSERT_EQ(RunToEnd(kProgram, {"--dry-run", "--incremental", articles, "--settings", settings},
                       dir.path(), &out, &err),
              0)
        << err;
    EXPECT_NE(out.find("unchanged: skipped"), std::string::npos) << out;
    ASSERT_EQ(Run({"--run", "--incremental"}, &out, &err), 0) << err;
    EXPECT_EQ(Rows("1.htm").at(0).articleEnd, "skipped");
    EXPECT_EQ(server.RequestCount(), 0u);

    // The stored image damaged in place at the same size: its bytes are read again, the image
    // downloaded again and the article written to point at the good copy.
    std::string damaged = kPngA;
    damaged.back() ^= 1;
    ASSERT_TRUE(platform::WriteWholeFile(image, damaged));
    ASSERT_EQ(Run({"--run", "--incremental"}, &out, &err), 0) << err;
    EXPECT_EQ(Rows("1.htm").at(0).articleEnd, "written");
    EXPECT_EQ(server.RequestsTo("/a.png").size(), 1u);
    const std::string stored = Rows("1.htm").at(0).storedName;
    EXPECT_EQ(ReadFileOrMissing(result + stored), kPngA);
    EXPECT_NE(ReadFileOrMissing(result + "1.htm").find(stored), std::string::npos);

    // A record that refuses every write: the run fails and says the next one redoes its work.
    ChangeRecord(result + kRecord,
                 "CREATE TRIGGER refuse BEFORE INSERT ON articles BEGIN SELECT RAISE(FAIL, "
                 "'refused'); END;");
    dir.Write("articles/1.htm", Img("/a.png") + "<p>changed</p>");
    EXPECT_EQ(Run({"--run", "--incremental"}, &out, &err), 1) << err;
    EXPECT_NE(err.find("the next run will redo the work"), std::string::npos) << err;
    EXPECT_EQ(Rows("1.htm").at(0).articleEnd, "written");
}

// A record a newer version wrote is left byte for byte as it is: a run that needs it (incremental,
// a publish after it) and a publish end with status 2 naming that version, before anything is
// read or sent; a default run goes on without it.
TEST_F(IncrementalRunTest, ARecordOfANewerVersionIsLeftAsItIsAndWhatNeedsItEndsWithStatus2) {
    dir.Write("articles/1.htm", Img("/a.png"));
    ASSERT_EQ(Run({"--run", "--incremental"}), 0);
    // The record's version (user_version, at byte 60 of the file's header) made 9.
    const std::string file = result + kRecord;
    std::string bytes = ReadFileOrMissing(file);
    ASSERT_GT(bytes.size(), 64u);
    bytes.replace(60, 4, std::string("\0\0\0\x09", 4));
    dir.Write("articles/转存结果/"_gbk + kRecord, bytes);
    fs::remove(platform::NativePath(result + "1.htm"));
    // Nobody listens there: the publish never gets as far as connecting.
    const std::string target = "dav://127.0.0.1:1/site/";
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"--run", "--incremental"}, 2},
        {{"--publish", target}, 2},
        {{"--run", "--publish", target}, 2},
        {{"--run"}, 0},  // needs no record
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        server.ClearRequests();
        std::string out, err;
        EXPECT_EQ(Run(c.args, &out, &err), c.status) << err;
        EXPECT_NE(
            err.find("newer version of Zembrat (record version 9; this one writes version 1)"),
            std::string::npos)
            << err;
        if (c.status == 2) {
            EXPECT_EQ(server.RequestCount(), 0u);
            EXPECT_EQ(ReadFileOrMissing(result + "1.htm"), "<missing>");
            if (c.args[0] == "--run") {
                EXPECT_NE(err.find("newer version (record version 9) and was left as it is: " +
                                   text::Utf8FromGbk(result + kRecord)),
                          std::string::npos)
                    << err;
            }
        } else {
            EXPECT_EQ(ReadFileOrMissing(result + "1.htm"),
                      "<img src=\"http://new.site/" + Stored(kPngA) + "\">");
        }
        EXPECT_EQ(ReadFileOrMissing(file), bytes);
        std::size_t beside = 0;
        for (const auto& e : fs::directory_iterator(platform::NativePath(result)))
            beside += e.path().filename().string().starts_with(kRecord);
        EXPECT_EQ(beside, 1u);
    }
}

}  // namespace
}  // namespace zembrat::testing
