// The trash on the command line: the real executable over a loopback server and the run record
// an incremental run keeps; a dry run, a prune, a restore, an emptied trash and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <regex>

#include "child_process.h"
#include "config/config_store.h"
#include "job/image_names.h"
#include "platform/files.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::testing {
namespace {
using namespace text::literals;
namespace fs = std::filesystem;

const std::string kProgram = ZEMBRAT_EXECUTABLE;
const std::string kPngA = "\x89PNG\r\n\x1a\n picture a";
const std::string kPngB = "\x89PNG\r\n\x1a\n picture b";
const std::string kPngS = "\x89PNG\r\n\x1a\n shared picture";

std::string Stored(const std::string& bytes) {
    return "files/img/" + job::ContentName(bytes) + ".png";
}

class PruneRunTest : public ::testing::Test {
  public:
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
        // Three images stored: a and s by 1.htm, b by 2.htm.
        dir.Write("articles/1.htm", Img("/a.png") + Img("/s.png"));
        dir.Write("articles/2.htm", Img("/b.png"));
        ASSERT_EQ(Zembrat({"--run", "--incremental"}), 0) << err;
    }
    std::string Img(const std::string& path) const {
        return "<img src=\"" + server.Url(path) + "\">";
    }
    int Zembrat(std::vector<std::string> args) {
        args.insert(args.end(), {articles, "--settings", settings});
        return RunToEnd(kProgram, args, dir.path(), &out, &err);
    }
    bool Has(const std::string& below) const { return platform::PathExists(result + below); }
    // The trashes of the result folder.
    std::vector<std::string> Trashes() const {
        std::vector<std::string> names;
        const fs::path trash = platform::NativePath(result + ".zembrat-trash");
        if (!fs::exists(trash)) return names;
        for (const auto& e : fs::directory_iterator(trash))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // 1.htm drops s, and a run records it.
    void DropS() {
        dir.Write("articles/1.htm", Img("/a.png"));
        ASSERT_EQ(Zembrat({"--run", "--incremental"}), 0) << err;
    }

    HttpServer server;
    TempDir dir;
    std::string articles, result, settings, out, err;
};

TEST_F(PruneRunTest, DryRunPruneRestoreAndEmptiedTrash) {
    DropS();
    // The dry run lists s and moves nothing.
    ASSERT_EQ(Zembrat({"--dry-run", "--prune"}), 0) << err;
    EXPECT_NE(out.find("unused    " + Stored(kPngS)), std::string::npos) << out;
    EXPECT_NE(out.find("Dry run of the prune: 1 of 3 images unused, 2 in use"), std::string::npos)
        << out;
    EXPECT_TRUE(Has(Stored(kPngS)));
    EXPECT_TRUE(Trashes().empty());

    // The prune moves s, and s only, into a trash of the same layout, and reports it.
    const std::string report = text::Utf8FromGbk(dir / "prune.csv");
    ASSERT_EQ(Zembrat({"--prune", "--report", report}), 0) << err;
    ASSERT_EQ(Trashes().size(), 1u);
    const std::string stamp = Trashes()[0];
    EXPECT_TRUE(std::regex_match(stamp, std::regex("[0-9]{8}-[0-9]{6}"))) << stamp;
    const std::string inTrash = ".zembrat-trash/" + stamp + "/" + Stored(kPngS);
    EXPECT_FALSE(Has(Stored(kPngS)));
    EXPECT_EQ(ReadFileOrMissing(result + inTrash), kPngS);
    EXPECT_TRUE(Has(Stored(kPngA)));
    EXPECT_TRUE(Has(Stored(kPngB)));
    EXPECT_NE(out.find("moved     " + Stored(kPngS) + " -> " + inTrash), std::string::npos) << out;
    EXPECT_NE(out.find("Pruned: 1 of 3 images moved to"), std::string::npos) << out;
    EXPECT_NE(ReadFileOrMissing(report).find("prune," + stamp + "," + Stored(kPngS) + "," +
                                             inTrash + ",moved," + std::to_string(kPngS.size())),
              std::string::npos)
        << ReadFileOrMissing(report);
    // Nothing more is unused: a second prune moves nothing and makes no trash.
    ASSERT_EQ(Zembrat({"--prune"}), 0) << err;
    EXPECT_EQ(Trashes().size(), 1u);

    // The restore brings it back where it was and leaves no empty trash.
    ASSERT_EQ(Zembrat({"--restore"}), 0) << err;
    EXPECT_EQ(ReadFileOrMissing(result + Stored(kPngS)), kPngS);
    EXPECT_NE(out.find("Restored 1 file from"), std::string::npos) << out;
    EXPECT_TRUE(Trashes().empty());
    // A named trash that is not there is told.
    EXPECT_EQ(Zembrat({"--restore", "20200101-000000"}), 1);
    EXPECT_NE(err.find("no trash 20200101-000000"), std::string::npos) << err;

    // A trash younger than the days given stays; 0 days empties it.
    ASSERT_EQ(Zembrat({"--prune"}), 0) << err;
    ASSERT_EQ(Zembrat({"--empty-trash"}), 0) << err;
    EXPECT_EQ(Trashes().size(), 1u);
    EXPECT_NE(out.find("Emptied 0 trashes older than 30 days"), std::string::npos) << out;
    ASSERT_EQ(Zembrat({"--empty-trash", "0"}), 0) << err;
    EXPECT_TRUE(Trashes().empty());
    EXPECT_NE(out.find("Emptied 1 trash older than 0 days: 1 file deleted"), std::string::npos)
        << out;
    EXPECT_FALSE(Has(Stored(kPngS)));
    EXPECT_TRUE(Has(Stored(kPngA)));
}

TEST_F(PruneRunTest, RefusedPrunesMoveNothingAndSayWhy) {
    struct Case {
        const char* name;
        std::function<void(PruneRunTest&)> before;
        std::vector<std::string> args;
        int status;
        std::string said;
    };
    const std::vector<Case> cases = {
        {"over the bound: two of three images",
         [](PruneRunTest& t) {
             t.dir.Write("articles/1.htm", "no image");
             ASSERT_EQ(t.Zembrat({"--run", "--incremental"}), 0) << t.err;
         },
         {"--prune"},
         1,
         "2 of 3 images are unused: more than 256 or more than half of them are not moved in one "
         "go; --force moves them"},
        {"a stale record: an article edited after the run",
         [](PruneRunTest& t) { t.dir.Write("articles/1.htm", t.Img("/a.png")); },
         {"--prune"},
         1,
         "the article 1.htm changed after the last run"},
        {"a new article the record does not know",
         [](PruneRunTest& t) { t.dir.Write("articles/3.htm", "new"); },
         {"--prune"},
         1,
         "the article 3.htm changed after the last run"},
        {"an article the readers cannot take whole",
         [](PruneRunTest& t) {
             t.dir.Write("articles/3.htm", "<img src=" + std::string(20000, 'a') + " \n>");
             EXPECT_EQ(t.Zembrat({"--run", "--incremental"}), 1) << t.err;
         },
         {"--prune"},
         1,
         "the article 3.htm cannot be read whole, so not all its images are known"},
        {"a damaged record",
         [](PruneRunTest& t) {
             t.dir.Write("articles/转存结果/.zembrat-record.sqlite"_gbk, "junk");
         },
         {"--prune"},
         1,
         "cannot be read"},
        {"no record",
         [](PruneRunTest& t) {
             fs::remove(platform::NativePath(t.result + ".zembrat-record.sqlite"));
         },
         {"--prune"},
         2,
         "no run record in"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        fs::remove_all(platform::NativePath(articles));
        SetUp();
        c.before(*this);
        EXPECT_EQ(Zembrat(c.args), c.status) << out << err;
        EXPECT_NE(err.find(c.said), std::string::npos) << err;
        EXPECT_TRUE(Trashes().empty());
        for (const std::string& png : {kPngA, kPngB, kPngS}) EXPECT_TRUE(Has(Stored(png)));
    }
    // Past the bound with --force.
    TearDown();
    fs::remove_all(platform::NativePath(articles));
    SetUp();
    cases[0].before(*this);
    ASSERT_EQ(Zembrat({"--prune", "--force"}), 0) << err;
    EXPECT_NE(out.find("Pruned: 2 of 3 images moved"), std::string::npos) << out;
}

TEST_F(PruneRunTest, ARestoreNeverReplacesAFileThatCameBackWithOtherBytes) {
    DropS();
    ASSERT_EQ(Zembrat({"--prune"}), 0) << err;
    dir.Write("articles/转存结果/"_gbk + Stored(kPngS), "other bytes");
    EXPECT_EQ(Zembrat({"--restore"}), 1) << out;
    EXPECT_NE(out.find("refused   " + Stored(kPngS) +
                       ": a file of that name came back meanwhile with other bytes"),
              std::string::npos)
        << out;
    EXPECT_EQ(ReadFileOrMissing(result + Stored(kPngS)), "other bytes");
    ASSERT_EQ(Trashes().size(), 1u);
    EXPECT_EQ(ReadFileOrMissing(result + ".zembrat-trash/" + Trashes()[0] + "/" + Stored(kPngS)),
              kPngS);
    // The same bytes back count as restored, and the trash goes.
    dir.Write("articles/转存结果/"_gbk + Stored(kPngS), kPngS);
    EXPECT_EQ(Zembrat({"--restore"}), 0) << out;
    EXPECT_TRUE(Trashes().empty());
}

TEST_F(PruneRunTest, TheTrashActionsStandAlone) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--prune", "--run"}, "--prune is an action of its own"},
        {{"--prune", "--restore"}, "cannot be combined"},
        {{"--restore", "--dry-run"}, "--restore cannot be given with --dry-run"},
        {{"--force", "--run"}, "--force goes with --prune"},
        {{"--empty-trash", "x"}, "--empty-trash takes a whole number of days from 0 to 36500"},
        {{"--prune", "--report", "r.json"}, "must end in .csv"},
    };
    for (const auto& [args, said] : cases) {
        EXPECT_EQ(Zembrat(args), 2) << args[0];
        EXPECT_NE(err.find(said), std::string::npos) << err;
    }
    // A target the mirror cannot open refuses before anything moves.
    DropS();
    EXPECT_EQ(Zembrat({"--prune", "--publish", "sftp://127.0.0.1:1/x/"}), 1);
    EXPECT_TRUE(Has(Stored(kPngS)));
}

}  // namespace
}  // namespace zembrat::testing
