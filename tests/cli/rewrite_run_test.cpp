// The rewrite under the readers' options, through the built executable against a loopback
// server: each address replaced where a reader found it, code, comments and text left as they
// are; the plain rules replacing a stored address wherever it stands, as they always have.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "child_process.h"
#include "config/config_store.h"
#include "job/image_names.h"
#include "support/http_server.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::testing {
namespace {
using namespace text::literals;

const std::string kProgram = ZEMBRAT_EXECUTABLE;
const std::string kPng = "\x89PNG\r\n\x1a\n a picture";
const std::string kJpg = "\xFF\xD8\xFF the full picture";

class RewriteRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.started());
        server.Set("/a.png", Reply::Ok(kPng, "image/png"));
        server.Set("/full.jpg", Reply::Ok(kJpg, "image/jpeg"));
        server.Set("/lazy.gif", Reply::Ok("GIF89a placeholder", "image/gif"));
        config::ConfigStore store;
        ASSERT_TRUE(store.Open(dir / "Zembrat.ini", config::DiskFile));
        store.SetSection("基本配置"_gbk);
        for (const auto& [key, value] : std::map<std::string, std::string>{
                 {"文章过滤", "*.htm|*.md"}, {"图片存放目录", "img"}, {"新的域名前缀", "new.site"}})
            ASSERT_EQ(store.WriteText(text::GbkFromUtf8(key), value),
                      config::WriteResult::kWritten);
    }
    // The text with @A, @F and @L written as the server's addresses of the picture, the full
    // picture and a placeholder, and @a and @f as the new addresses of the first two.
    std::string Spelled(std::string_view shape) const {
        const std::vector<std::pair<std::string, std::string>> words = {
            {"@A", server.Url("/a.png")},
            {"@F", server.Url("/full.jpg")},
            {"@L", server.Url("/lazy.gif")},
            {"@a", "http://new.site/img/" + job::ContentName(kPng) + ".png"},
            {"@f", "http://new.site/img/" + job::ContentName(kJpg) + ".jpg"}};
        std::string out(shape);
        for (const auto& [word, address] : words) out = text::ReplaceAll(out, word, address);
        return out;
    }
    // Runs on one article; the article as written, and the status.
    std::pair<std::string, int> RunOn(const std::string& name, const std::string& article,
                                      const std::vector<std::string>& options) {
        dir.Write("articles/" + name, article);
        std::vector<std::string> args = {"--run", dir / "articles", "--settings",
                                         dir / "Zembrat.ini"};
        args.insert(args.end(), options.begin(), options.end());
        std::string out, err;
        const int status = RunToEnd(kProgram, args, dir.path(), &out, &err);
        return {ReadFileOrMissing(dir / "articles" + "/" + "转存结果"_gbk + "/" + name), status};
    }

    HttpServer server;
    TempDir dir;
};

TEST_F(RewriteRunTest, EachReaderRewritesWhereItFoundTheImage) {
    struct Case {
        const char* what;
        std::vector<std::string> options;
        const char* name;
        std::string_view article, written;  // shapes (see Spelled)
    };
    // Every letter outside the shapes' addresses is lower case or punctuation, so that Spelled
    // leaves it alone.
    const std::vector<Case> cases = {
        {"html rules: a comment, code and a script keep the address",
         {"--html-rules"},
         "c.htm",
         "<img src=\"@A\"><!-- <img src=\"@A\"> --><pre><code>&lt;img src=\"@A\"&gt;</code></pre>"
         "<script>var u = '@A';</script>",
         "<img src=\"@a\"><!-- <img src=\"@A\"> --><pre><code>&lt;img src=\"@A\"&gt;</code></pre>"
         "<script>var u = '@A';</script>"},
        {"plain rules: a stored address is replaced wherever it stands",
         {},
         "p.htm",
         "<img src=\"@A\"><!-- <img src=\"@A\"> --><p>@A</p>",
         "<img src=\"@a\"><!-- <img src=\"@a\"> --><p>@a</p>"},
        {"markdown: code blocks, code spans, comments and links keep the address",
         {"--markdown"},
         "m.md",
         "![x](@A)\n\n    ![y](@A)\n\n```\n![z](@A)\n```\n\n`@A` and [the link](@A)\n\n<!-- @A "
         "-->\n",
         "![x](@a)\n\n    ![y](@A)\n\n```\n![z](@A)\n```\n\n`@A` and [the link](@A)\n\n<!-- @A "
         "-->\n"},
        {"markdown: a reference image is rewritten at its definition",
         {"--markdown"},
         "r.md",
         "![logo]\n\n[logo]: @A \"title\"\n\n~~~\n[logo]: @A\n~~~\n",
         "![logo]\n\n[logo]: @a \"title\"\n\n~~~\n[logo]: @A\n~~~\n"},
        {"markdown: a linked image's target that is a picture is re-hosted too",
         {"--markdown"},
         "l.md",
         "[![thumb](@A)](@F) and [![t](@A)](http://x.example/page.html)\n",
         "[![thumb](@a)](@f) and [![t](@a)](http://x.example/page.html)\n"},
        {"lazy: the placeholder is not fetched, the real picture goes into src",
         {"--lazy"},
         "z.htm",
         "<img src=\"@L\" data-src=\"@A\"><!-- <img data-src=\"@A\"> -->",
         "<img src=\"@a\" data-src=\"@a\"><!-- <img data-src=\"@A\"> -->"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto [written, status] = RunOn(c.name, Spelled(c.article), c.options);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(written, Spelled(c.written));
        std::filesystem::remove(dir / "articles" + "/" + c.name);
    }
    // No placeholder was asked for (nor counted as a failure: every run ended with status 0).
    EXPECT_TRUE(server.RequestsTo("/lazy.gif").empty());
}

TEST_F(RewriteRunTest, DryRunPrintsAUtf8MarkdownArticlesAddressesAsUtf8) {
    // No byte-order mark: the article's own bytes tell its encoding.
    dir.Write("articles/u.md",
              "# \xE6\xA0\x87\xE9\xA2\x98\n\n![x](ftp://a.example/\xE5\x9B\xBE.png)\n");
    std::string out, err;
    ASSERT_EQ(
        RunToEnd(kProgram,
                 {"--dry-run", dir / "articles", "--settings", dir / "Zembrat.ini", "--markdown"},
                 dir.path(), &out, &err),
        0)
        << err;
    EXPECT_NE(out.find("  dropped   not http: ftp://a.example/\xE5\x9B\xBE.png\n"),
              std::string::npos)
        << out;
}

}  // namespace
}  // namespace zembrat::testing
