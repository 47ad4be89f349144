// The hotlink option end to end: the real executable against a real nginx on 127.0.0.1 that
// guards its images the way the big content hosts do.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "child_process.h"
#include "config/config_store.h"
#include "job/extension_options.h"
#include "job/image_names.h"
#include "job/run_report.h"
#include "support/nginx_server.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "text/crc32.h"

namespace zembrat::testing {
namespace {
using namespace text::literals;
namespace fs = std::filesystem;

const std::string kProgram = ZEMBRAT_EXECUTABLE;
const std::string kPlaceholder = "GIF89a not allowed";
const char kPage[] = "http://news.example.com/a/1.html";

std::string Png(int n) {
    return "\x89PNG\r\n\x1a\n picture " + std::to_string(n);
}

// WeChat style (/wx/: a foreign Referer gets the placeholder), CSDN style (/csdn/: 403), a
// host that wants its own origin, one that wants the article's page, one that sends the
// placeholder to everybody (/always/), one that sends it to a request without a Referer
// (/guard/), and one picture at two addresses of a host that guards nothing (/same/).
const char kLocations[] = R"(
    location /wx/ { valid_referers none mp.weixin.qq.com; if ($invalid_referer) { rewrite ^ /ph.gif break; } }
    location /csdn/ { valid_referers none *.csdn.net; if ($invalid_referer) { return 403; } }
    location /origin/ { valid_referers ~^127\.0\.0\.1:@PORT@/$; if ($invalid_referer) { return 403; } }
    location /page/ { valid_referers ~^news\.example\.com/a/; if ($invalid_referer) { return 403; } }
    location /always/ { rewrite ^ /ph.gif break; }
    location /guard/ { valid_referers ~.; if ($invalid_referer) { rewrite ^ /ph.gif break; } }
)";

class HotlinkRunTest : public ::testing::Test {
  protected:
    HotlinkRunTest()
        : nginx({{"/ph.gif", kPlaceholder},
                 {"/wx/1.png", Png(1)},
                 {"/wx/2.png", Png(2)},
                 {"/wx/3.png", Png(3)},
                 {"/wx/4.png", Png(4)},
                 {"/csdn/5.png", Png(5)},
                 {"/origin/6.png", Png(6)},
                 {"/page/7.png", Png(7)},
                 {"/guard/8.png", Png(8)},
                 {"/guard/9.png", Png(9)},
                 {"/same/a.png", Png(10)},
                 {"/same/b.png", Png(10)}},
                kLocations) {}

    void SetUp() override { ASSERT_TRUE(nginx.started()) << nginx.error(); }

    // An article of the given image paths, with its canonical page; the run's report rows.
    std::vector<job::ReportRow> Run(const std::string& name, const std::vector<std::string>& paths,
                                    const std::vector<std::string>& extra,
                                    const std::map<std::string, std::string>& hotlinkKeys = {}) {
        std::string article = "<link rel=\"canonical\" href=\"" + std::string(kPage) + "\">";
        for (const std::string& p : paths) article += "<img src=\"" + nginx.Url(p) + "\">";
        dir.Write(name + "/a.htm", article);
        const std::string settings = dir / (name + ".ini");
        config::ConfigStore store;
        EXPECT_TRUE(store.Open(settings, config::DiskFile));
        store.SetSection("基本配置"_gbk);
        store.WriteText("图片存放目录"_gbk, "img");
        store.WriteText("新的域名前缀"_gbk, "new.site");
        store.SetSection(job::HotlinkSection());
        for (const auto& [key, value] : hotlinkKeys) store.WriteText(key, value);
        store.Close();
        std::vector<std::string> args = {"--run",  dir / name, "--settings",
                                         settings, "--report", dir / (name + ".csv"),
                                         "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::string out, err;
        RunToEnd(kProgram, args, dir.path(), &out, &err);
        std::vector<job::ReportRow> rows;
        std::string error;
        EXPECT_TRUE(job::ParseCsvReport(ReadFileOrMissing(dir / (name + ".csv")), rows, error))
            << error << err;
        return rows;
    }
    std::string Result(const std::string& name) {
        return ReadFileOrMissing(dir / (name + "/转存结果/a.htm"_gbk));
    }
    std::size_t RequestsSince(std::size_t& mark) {
        const std::size_t now = nginx.Requests().size(), count = now - mark;
        mark = now;
        return count;
    }

    NginxServer nginx;
    TempDir dir;
};

TEST_F(HotlinkRunTest, WeChatStyleArticleGetsItsFourImagesOnlyWithTheOption) {
    const std::vector<std::string> wx = {"/wx/1.png", "/wx/2.png", "/wx/3.png", "/wx/4.png"};
    std::size_t mark = 0;
    // Without the option: the plain request (its own address as Referer) gets the placeholder
    // four times, stored once and reused; each row tells the look-alike answer.
    auto rows = Run("plain", wx, {});
    ASSERT_EQ(rows.size(), 4u);
    const std::string ph = "img/" + job::ContentName(kPlaceholder) + ".png";  // named as asked
    for (const auto& r : rows) {
        EXPECT_EQ(r.storedName, ph);
        EXPECT_EQ(r.reason, "same bytes as another address of this host");
    }
    EXPECT_EQ(RequestsSince(mark), 4u);
    for (const auto& r : nginx.Requests()) {
        EXPECT_EQ(r.referer, nginx.Url(r.uri));
        EXPECT_EQ(r.userAgent, "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)");
    }

    rows = Run("hot", wx, {"--hotlink"});
    ASSERT_EQ(rows.size(), 4u);
    const std::string written = Result("hot");
    for (int i = 0; i < 4; ++i) {
        const std::string name = "img/" + job::ContentName(Png(i + 1)) + ".png";
        EXPECT_EQ(rows[i].outcome, "stored");
        EXPECT_EQ(rows[i].storedName, name);
        EXPECT_EQ(rows[i].reason, "identity: no referer");
        EXPECT_EQ(ReadFileOrMissing(dir / ("hot/转存结果/"_gbk + name)), Png(i + 1));
        EXPECT_NE(written.find("http://new.site/" + name), std::string::npos);
    }
    EXPECT_EQ(RequestsSince(mark), 4u);  // one request per image
    EXPECT_EQ(nginx.Requests().back().referer, "-");
    EXPECT_NE(nginx.Requests().back().userAgent.find("Chrome/"), std::string::npos);
}

TEST_F(HotlinkRunTest, ThreeLookAlikeAnswersAreStoredAndToldWithoutTheOption) {
    dir.Write("la/a.htm", "<img src=\"" + nginx.Url("/always/1.png") + "\"><img src=\"" +
                              nginx.Url("/always/2.png") + "\"><img src=\"" +
                              nginx.Url("/wx/1.png") + "\">");
    dir.Write("la/b.htm", "<img src=\"" + nginx.Url("/always/3.png") + "\">");
    const std::string ph = "files/img/" + job::ContentName(kPlaceholder) + ".png";
    dir.Write("la.ini", "[基本配置]\r\n");  // the defaults
    for (const bool hotlink : {false, true}) {
        SCOPED_TRACE(hotlink);
        std::vector<std::string> args = {"--run",        dir / "la", "--settings",
                                         dir / "la.ini", "--report", dir / "la.csv"};
        if (hotlink) args.push_back("--hotlink");
        std::string out, err;
        RunToEnd(kProgram, args, dir.path(), &out, &err);
        std::vector<job::ReportRow> rows;
        std::string error;
        ASSERT_TRUE(job::ParseCsvReport(ReadFileOrMissing(dir / "la.csv"), rows, error))
            << error << err;
        ASSERT_EQ(rows.size(), 4u);
        const std::string told =
            "with the same bytes as another address of the host, possibly "
            "hotlink placeholders: --hotlink asks for them again";
        if (!hotlink) {
            // Stored as ever, in one file; the wx image (its own Referer gets the placeholder
            // too) is the fourth look-alike. Each row and the summary say so.
            for (const auto& r : rows) {
                EXPECT_EQ(r.outcome == "stored" || r.outcome == "reused", true) << r.outcome;
                EXPECT_EQ(r.storedName, ph);
                EXPECT_EQ(r.reason, "same bytes as another address of this host");
            }
            EXPECT_NE(out.find("; 4 images " + told), std::string::npos) << out;
        } else {
            // The option asks again: the same picture at every identity is stored; nothing is
            // said of look-alikes.
            for (const std::size_t r : {0u, 1u, 3u}) {
                EXPECT_NE(rows[r].outcome, "failed") << r;
                EXPECT_EQ(rows[r].storedName, ph) << r;
            }
            EXPECT_EQ(rows[2].outcome, "stored");
            EXPECT_EQ(out.find(told), std::string::npos) << out;
        }
    }
}

TEST_F(HotlinkRunTest, RefusalsGoDownTheLadderAndLookAlikesAreAskedAtEach) {
    const std::vector<std::string> guarded = {"/csdn/5.png", "/origin/6.png", "/page/7.png"};
    std::size_t mark = 0;
    auto rows = Run("plain", guarded, {});
    for (const auto& r : rows) EXPECT_EQ(r.status, 403);
    EXPECT_EQ(RequestsSince(mark), 6u);  // each tried once more

    rows = Run("hot", guarded, {"--hotlink"});
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].reason, "identity: no referer");
    EXPECT_EQ(rows[1].reason, "identity: origin");
    EXPECT_EQ(rows[2].reason, "identity: page");
    for (const auto& r : rows) EXPECT_EQ(r.outcome, "stored");
    EXPECT_EQ(RequestsSince(mark), 6u);  // 1 + 2 + 3
    EXPECT_EQ(nginx.Requests().back().referer, kPage);

    // The same picture from three addresses at every identity: asked at each, then stored.
    const std::vector<std::string> always = {"/always/1.png", "/always/2.png", "/always/3.png"};
    rows = Run("look-alike", always, {"--hotlink"});
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& r : rows) {
        EXPECT_NE(r.outcome, "failed");
        EXPECT_EQ(r.storedName, "img/" + job::ContentName(kPlaceholder) + ".png");
    }
    EXPECT_EQ(Result("look-alike").find(nginx.Url("/always/")), std::string::npos);
    EXPECT_EQ(RequestsSince(mark), 9u);

    // A rule wins over the ladder (its cookie goes out, never into the report); a placeholder
    // the user marked is never stored.
    rows = Run("ruled", {"/wx/1.png", "/wx/2.png"}, {"--hotlink"},
               {{job::SiteRuleKey(0), "127.0.0.1|http://news.example.com/x|Agent/1|sid=secret"},
                {job::PlaceholdersKey(),
                 job::PlaceholderText({text::Crc32(kPlaceholder), kPlaceholder.size()})}});
    ASSERT_EQ(rows.size(), 2u);
    for (const auto& r : rows) EXPECT_EQ(r.reason, "suspected hotlink placeholder");
    EXPECT_EQ(RequestsSince(mark), 2u);
    EXPECT_EQ(nginx.Requests().back().referer, "http://news.example.com/x");
    EXPECT_EQ(nginx.Requests().back().userAgent, "Agent/1");
    EXPECT_EQ(nginx.Requests().back().cookie, "sid=secret");
    EXPECT_EQ(ReadFileOrMissing(dir / "ruled.csv").find("secret"), std::string::npos);
}

// A placeholder is proved by asking again: a body that changes with the identity was one, a
// picture identical at every identity is stored.
TEST_F(HotlinkRunTest, LookAlikesAreAskedAgainAndOnlyThoseThatChangeArePlaceholders) {
    struct Case {
        const char* name;
        std::vector<std::string> paths;
        std::vector<int> pictures;  // what each row stores
        const char* reason;
    };
    const std::vector<Case> cases = {
        // An unguarded host: one picture at two addresses, the same at every identity.
        {"genuine", {"/same/a.png", "/same/b.png"}, {10, 10}, "identity: page"},
        // A guarded host: the placeholder without a Referer, the images with one.
        {"guarded", {"/guard/8.png", "/guard/9.png"}, {8, 9}, "identity: origin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto rows = Run(c.name, c.paths, {"--hotlink"});
        ASSERT_EQ(rows.size(), c.paths.size());
        const std::string written = Result(c.name);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string name = "img/" + job::ContentName(Png(c.pictures[i])) + ".png";
            EXPECT_NE(rows[i].outcome, "failed") << i;
            EXPECT_EQ(rows[i].storedName, name) << i;
            EXPECT_EQ(rows[i].reason, c.reason) << i;
            EXPECT_EQ(ReadFileOrMissing(dir / (std::string(c.name) + "/转存结果/"_gbk + name)),
                      Png(c.pictures[i]));
            EXPECT_EQ(written.find(nginx.Url(c.paths[i])), std::string::npos) << written;
        }
    }
}

}  // namespace
}  // namespace zembrat::testing
