// A result folder published as a run left it, onto a real WebDAV server (nginx) on 127.0.0.1:
// only what the run wrote is read and sent, whatever was put in its place since.
#include "publish/result_publish.h"

#include "publish/public_copies.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

#include "platform/files.h"
#include "record/run_record.h"
#include "support/dav_server.h"
#include "support/http_server.h"
#include "support/s3_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "text/crc32.h"
#include "text/digest.h"

namespace zembrat::publish {
namespace {
using namespace text::literals;
namespace fs = std::filesystem;

const std::string kPng = "\x89PNG\r\n\x1a\n the picture";
const std::string kArticle = "<img src=\"http://img.example.com/files/img/a.png\">";
const std::string kImage = "files/img/a.png";  // as the record names it

// Everything a publish listed, by remote path: its outcome and message.
struct Rows : PublishObserver {
    void ItemsListed(const std::vector<PublishItem>& listed, const Target&) override {
        items = &listed;
    }
    void ItemSettled(std::size_t index, const PublishRow& row) override {
        settled[(*items)[index].remotePath] = row;
    }
    const std::vector<PublishItem>* items = nullptr;
    std::map<std::string, PublishRow> settled;
};

// One way a result can differ from what its run wrote, and the file that then fails (its remote
// path) with a reason holding `why`.
struct Tampering {
    const char* name;
    std::function<void(class ResultPublishTest&)> make;
    std::string refused;
    std::string why;
};

void PrintTo(const Tampering& tampering, std::ostream* out) {
    *out << tampering.name;
}

class ResultPublishTest : public ::testing::TestWithParam<Tampering> {
  public:
    void SetUp() override {
        ASSERT_TRUE(dav.started()) << dav.error();
        // The run's result, with its record, made in a folder of its own and then put (or
        // linked) where the article folder's result folder is.
        real = dir / "run"_gbk;
        dir.Write("run/" + kImage, kPng);
        dir.Write("run/一.htm"_gbk, kArticle);
        record::RunRecord record;
        ASSERT_NE(record.Open(real), record::OpenResult::Failed) << record.Message();
        record.Begin();
        record.PutImage(
            {kAddress, kImage, kPng.size(), text::Crc32(kPng), "", "", record::Outcome::Stored, 1});
        record::ArticleEntry article;
        article.path = "一.htm"_gbk;
        article.resultPath = "一.htm"_gbk;
        article.resultHash = text::Sha256Hex(kArticle);
        article.end = record::ArticleEnd::Written;
        article.references = {{kAddress, record::Outcome::Stored}};
        record.PutArticle(article);
        ASSERT_TRUE(record.Commit());
        record.Close();
        fs::create_directories(platform::NativePath(dir / "文章"_gbk));
        result = dir / "文章/转存结果"_gbk;
    }

    // The run's result where the article folder's result folder is.
    void Settle() { fs::rename(Native(real), Native(result)); }
    // The result folder made, with the run's record and article in it, and a link at "files".
    void LinkFolder(const std::string& linked) {
        fs::create_directories(Native(result + "/" + linked).parent_path());
        for (const std::string& piece : {std::string(".zembrat-record.sqlite"), "一.htm"_gbk})
            fs::rename(Native(real + "/" + piece), Native(result + "/" + piece));
        fs::create_symlink(Native(real + "/" + linked), Native(result + "/" + linked));
    }
    // The file at relative below the result folder moved outside, and a link left in its place.
    void LinkFile(const std::string& relative) {
        Settle();
        fs::rename(Native(result + "/" + relative), Native(dir / "id_ed25519"));
        fs::create_symlink(Native(dir / "id_ed25519"), Native(result + "/" + relative));
    }
    // One more image in the run's record.
    void Record(const std::string& storedPath, const std::string& bytes) {
        record::RunRecord record;
        ASSERT_NE(record.Open(result), record::OpenResult::Failed) << record.Message();
        record.Begin();
        record.PutImage({"http://web.example.com/" + storedPath, storedPath, bytes.size(),
                         text::Crc32(bytes), "", "", record::Outcome::Stored, 1});
        ASSERT_TRUE(record.Commit());
    }

    // One more article in the run's record, written at relative below the result folder.
    void RecordArticle(const std::string& relative, const std::string& bytes) {
        dir.Write("文章/转存结果/"_gbk + relative, bytes);
        record::RunRecord record;
        ASSERT_NE(record.Open(result), record::OpenResult::Failed) << record.Message();
        record::ArticleEntry article;
        article.path = article.resultPath = relative;
        article.resultHash = text::Sha256Hex(bytes);
        article.end = record::ArticleEnd::Written;
        record.Begin();
        record.PutArticle(article);
        ASSERT_TRUE(record.Commit());
    }

    // The server's folder as a target URL: "dav://user@127.0.0.1:port" + path.
    std::string Dav(const std::string& path) const {
        return "dav://" + dav.user() + "@127.0.0.1:" + std::to_string(dav.port()) + path;
    }
    // Publishes the article folder's result, the articles too, onto the target (by default the
    // server's /site/).
    ResultPublish PublishIt(std::string target = {}) {
        ResultPublishRequest request;
        request.resultFolder = result;
        request.target = target.empty() ? Dav("/site/") : target;
        request.articles = true;
        request.credentials.home = dir.path();
        request.credentials.password = dav.password();
        rows = Rows{};
        return PublishResult(request, rows, {});
    }
    // Every file the server holds, by its path below what it serves (but the one it starts
    // with).
    std::map<std::string, std::string> OnServer() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(dav.root()))
            if (entry.is_regular_file() && entry.path().filename() != ".keep")
                files[fs::relative(entry.path(), dav.root()).string()] =
                    testing::ReadFileOrMissing(platform::GbkFromNative(entry.path()));
        return files;
    }
    static fs::path Native(const std::string& gbk) { return platform::NativePath(gbk); }

    static inline const std::string kAddress = "http://web.example.com/a.png";
    testing::DavServer dav{testing::DavKind::Nginx};
    testing::TempDir dir;
    std::string real, result;
    Rows rows;
};

TEST_F(ResultPublishTest, WhatTheRunWroteIsSentWhole) {
    Settle();
    const ResultPublish published = PublishIt();
    ASSERT_EQ(published.end, ResultPublishEnd::Published) << published.message;
    EXPECT_EQ(published.summary.Count(PublishOutcome::Uploaded), 2u);
    EXPECT_EQ(OnServer(), (std::map<std::string, std::string>{{"site/" + kImage, kPng},
                                                              {"site/一.htm", kArticle}}));
}

// What was published is kept per place: a second place on the same host, even under the same
// name, gets every file; the same place under another name (or spelt otherwise) asks nothing.
TEST_F(ResultPublishTest, WhatWasPublishedIsKeptPerPlaceNotPerName) {
    Settle();
    const std::string port = std::to_string(dav.port());
    ASSERT_EQ(PublishIt(Dav("/site/?name=blog")).summary.Count(PublishOutcome::Uploaded), 2u);
    const ResultPublish second = PublishIt(Dav("/site2/?name=blog"));
    EXPECT_EQ(second.summary.Count(PublishOutcome::Uploaded), 2u);
    EXPECT_EQ(OnServer().count("site2/" + kImage), 1u);
    for (const std::string& same :
         {Dav("/site/?name=renamed"), "dav://" + dav.user() + "@127.0.0.1:" + port + "/site",
          "DAV://" + dav.user() + "@127.0.0.1:" + port + "/site/?public=https://img.example.com"}) {
        const ResultPublish again = PublishIt(same);
        EXPECT_EQ(again.summary.Count(PublishOutcome::Published), 2u) << same;
    }
    // Another port is another place (here: nobody listens, so nothing is taken as published).
    const ResultPublish elsewhere = PublishIt("dav://127.0.0.1:1/site/?name=blog");
    EXPECT_EQ(elsewhere.summary.Count(PublishOutcome::Published), 0u);
}

// Each object as a web server should serve it, read back from a real S3 server: the image by its
// kind and cached for a year (its bytes never change under its name), each article for minutes
// and with the charset it is read in (GBK, or UTF-8 for an article in UTF-8).
TEST_F(ResultPublishTest, EachObjectCarriesItsMediaTypeAndHowLongItMayBeCached) {
    testing::S3Server s3;
    ASSERT_TRUE(s3.started()) << s3.error();
    testing::ScopedEnv key{"AWS_ACCESS_KEY_ID", s3.accessKey().c_str()};
    testing::ScopedEnv secret{"AWS_SECRET_ACCESS_KEY", s3.secretKey().c_str()};
    Settle();
    RecordArticle("二.htm"_gbk, "<p>中文</p>" + kArticle);  // UTF-8
    RecordArticle("三.md"_gbk, "中文"_gbk + kArticle);
    const ResultPublish published =
        PublishIt("s3://" + s3.bucket() + "/p/?endpoint=" + s3.endpoint() + "&region=us-east-1");
    ASSERT_EQ(published.summary.Count(PublishOutcome::Uploaded), 4u) << published.summary.message;
    EXPECT_EQ(s3.ObjectHeader("p/" + kImage, "Content-Type"), "image/png");
    EXPECT_EQ(s3.ObjectHeader("p/" + kImage, "Cache-Control"),
              "public, max-age=31536000, immutable");
    const std::pair<std::string, std::string> articles[] = {
        {"一.htm", "text/html; charset=GBK"},
        {"二.htm", "text/html; charset=UTF-8"},
        {"三.md", "text/markdown; charset=GBK"},
    };
    for (const auto& [name, type] : articles) {
        EXPECT_EQ(s3.ObjectHeader("p/" + name, "Content-Type"), type) << name;
        EXPECT_EQ(s3.ObjectHeader("p/" + name, "Cache-Control"), "public, max-age=300") << name;
    }
}

// The public copies checked by content, from a CDN in front of the site: the same bytes, a
// changed copy, a missing one and a web page in an image's place are each told with why.
TEST_F(ResultPublishTest, PublicCopiesAreCheckedByTheirContent) {
    testing::HttpServer cdn;
    ASSERT_TRUE(cdn.started());
    Settle();
    const std::map<std::string, std::string> images = {{"files/img/b.png", kPng + "b"},
                                                       {"files/img/c.png", kPng + "c"},
                                                       {"files/img/d.png", kPng + "d"}};
    for (const auto& [path, bytes] : images) {
        dir.Write("文章/转存结果/"_gbk + path, bytes);
        Record(path, bytes);
    }
    const std::string target = Dav("/site/?public=" + cdn.Url("/site/"));
    ASSERT_EQ(PublishIt(target).summary.Count(PublishOutcome::Uploaded), 5u);
    cdn.Set("/site/" + kImage, testing::Reply::Ok(kPng, "image/png"));
    cdn.Set("/site/files/img/b.png", testing::Reply::Ok("a stale object", "image/png"));
    cdn.Set("/site/files/img/d.png", testing::Reply::Ok("<html>placeholder</html>", "text/html"));

    ResultPublishRequest request;
    request.resultFolder = result;
    request.target = target;
    std::vector<std::string> told;
    const PublicCopies copies = CheckPublicCopies(
        request, 4, [&](const CopyCheck& copy) { told.push_back(copy.remotePath); }, {});
    ASSERT_EQ(copies.end, ResultPublishEnd::Published) << copies.message;
    ASSERT_EQ(copies.copies.size(), 4u);  // the images, not the article
    EXPECT_EQ(told.size(), 4u);
    std::map<std::string, CopyCheck> by;
    for (const CopyCheck& copy : copies.copies) by[copy.remotePath] = copy;
    EXPECT_EQ(by[kImage].outcome, CopyOutcome::Same) << by[kImage].why;
    EXPECT_EQ(by[kImage].address, cdn.Url("/site/" + kImage));
    EXPECT_EQ(by["files/img/b.png"].outcome, CopyOutcome::Different);
    EXPECT_NE(by["files/img/b.png"].why.find("14 bytes"), std::string::npos)
        << by["files/img/b.png"].why;
    EXPECT_EQ(by["files/img/c.png"].outcome, CopyOutcome::Missing);
    EXPECT_NE(by["files/img/c.png"].why.find("404"), std::string::npos);
    EXPECT_EQ(by["files/img/d.png"].outcome, CopyOutcome::NotAnImage);
    EXPECT_NE(by["files/img/d.png"].why.find("text/html"), std::string::npos);

    // Nothing published to another place: nothing to check there.
    request.target = Dav("/elsewhere/?public=" + cdn.Url("/"));
    EXPECT_EQ(CheckPublicCopies(request, 4, {}, {}).end, ResultPublishEnd::NothingToPublish);
    request.target = Dav("/site/");
    EXPECT_NE(CheckPublicCopies(request, 4, {}, {}).message.find("no public address"),
              std::string::npos);
}

// Each file behind the tampering fails with its reason and nothing of it reaches the server (a
// link always leads to the very bytes the run wrote, so only the rule against links can tell);
// the rest is sent.
TEST_P(ResultPublishTest, WhatIsNotTheRunsOwnFailsWithItsReasonAndIsNotSent) {
    GetParam().make(*this);
    const ResultPublish published = PublishIt();
    ASSERT_EQ(published.end, ResultPublishEnd::Published) << published.message;
    const std::string& refused = GetParam().refused;
    ASSERT_TRUE(rows.settled.contains(refused)) << refused;
    EXPECT_EQ(rows.settled[refused].outcome, PublishOutcome::Failed);
    EXPECT_NE(rows.settled[refused].message.find(GetParam().why), std::string::npos)
        << rows.settled[refused].message;
    std::size_t refusedCount = 0;
    for (const auto& [path, row] : rows.settled)
        refusedCount += row.outcome == PublishOutcome::Failed;
    EXPECT_EQ(published.summary.Count(PublishOutcome::Uploaded),
              rows.settled.size() - refusedCount);
    // Only the run's own bytes, and only below the target's folder.
    for (const auto& [path, bytes] : OnServer()) {
        EXPECT_TRUE(path == "site/" + kImage || path == "site/一.htm") << path;
        EXPECT_EQ(bytes, path.ends_with(".png") ? kPng : kArticle) << path;
    }
    EXPECT_EQ(OnServer().size(), rows.settled.size() - refusedCount);
}

const std::string kSecret = "the user's private key";

INSTANTIATE_TEST_SUITE_P(
    Tamperings, ResultPublishTest,
    ::testing::Values(
        Tampering{
            "LinkAtTheResultFolder",
            [](ResultPublishTest& t) { fs::create_symlink(t.Native(t.real), t.Native(t.result)); },
            kImage, "link"},
        Tampering{"LinkAtTheFolderAboveTheImageFolder",
                  [](ResultPublishTest& t) { t.LinkFolder("files"); }, kImage, "link"},
        Tampering{"LinkAtTheImageFolder", [](ResultPublishTest& t) { t.LinkFolder("files/img"); },
                  kImage, "link"},
        Tampering{"LinkAtTheStoredImage", [](ResultPublishTest& t) { t.LinkFile(kImage); }, kImage,
                  "link"},
        Tampering{"LinkAtTheWrittenArticle", [](ResultPublishTest& t) { t.LinkFile("一.htm"_gbk); },
                  "一.htm", "link"},
        Tampering{"RecordRowLeavingTheResultFolder",
                  [](ResultPublishTest& t) {
                      t.Settle();
                      t.dir.Write("x", kSecret);
                      t.Record("../../x", kSecret);
                  },
                  "../../x", "no plain path"},
        Tampering{"RecordRowWithAnAbsolutePath",
                  [](ResultPublishTest& t) {
                      t.Settle();
                      t.Record("/etc/passwd", testing::ReadFileOrMissing("/etc/passwd"));
                  },
                  "/etc/passwd", "no plain path"},
        Tampering{"ImageWithOtherBytesOfItsSize",
                  [](ResultPublishTest& t) {
                      t.Settle();
                      std::string other = kPng;
                      other.back() ^= 1;
                      t.dir.Write("文章/转存结果/"_gbk + kImage, other);
                  },
                  kImage, "CRC-32"},
        Tampering{"ImageOfAnotherSize",
                  [](ResultPublishTest& t) {
                      t.Settle();
                      t.dir.Write("文章/转存结果/"_gbk + kImage, kPng + "more");
                  },
                  kImage, "bytes, not the"},
        Tampering{"ArticleChangedSinceTheRun",
                  [](ResultPublishTest& t) {
                      t.Settle();
                      t.dir.Write("文章/转存结果/一.htm"_gbk, kArticle + "<p>edited</p>");
                  },
                  "一.htm", "not the file the run wrote"}),
    [](const ::testing::TestParamInfo<Tampering>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zembrat::publish
