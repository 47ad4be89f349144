#include "record/run_record.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/files.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::record {
namespace {
using namespace text::literals;

ImageEntry Image(std::string address, Outcome outcome, std::int64_t time = 1) {
    return {std::move(address), "files/img/1.png", 1234, 0xDEADBEEF, "\"e1\"", "", outcome, time};
}

ArticleEntry Article(std::string path, ArticleEnd end, std::vector<ReferenceEntry> refs) {
    return {std::move(path), "s", "i", "r", "h", end, std::move(refs), 7};
}

std::vector<std::string> Paths(const std::vector<ArticleEntry>& articles) {
    std::vector<std::string> out;
    for (const ArticleEntry& article : articles) out.push_back(article.path);
    return out;
}

TEST(RunRecord, EveryFieldRoundTripsAsItsBytesAndALaterEntryReplacesAnEarlierOne) {
    const testing::TempDir dir;
    const std::string folder = dir / "转存结果"_gbk;
    ASSERT_TRUE(platform::CreateOneFolder(folder));
    const std::string gbkAddress = "http://例子.cn/图片.png"_gbk;
    const std::string oddAddress("http://a/\xFF\x80\0z", 13);  // no valid UTF-8, a zero byte
    const ImageEntry image{
        gbkAddress, "files/img/图.png"_gbk,          5'000'000'000ULL, 0xFFFFFFFF,
        "W/\"x\"",  "Tue, 01 Dec 2026 10:00:00 GMT", Outcome::Stored,  1'800'000'000};
    const ArticleEntry article{
        "子目录/文章.htm"_gbk,
        std::string(64, 'a'),
        std::string(64, 'b'),
        "子目录/文章.htm"_gbk,
        std::string(64, 'c'),
        ArticleEnd::Written,
        {{gbkAddress, Outcome::Stored}, {oddAddress, Outcome::Failed}, {"", Outcome::Reused}},
        42};
    {
        RunRecord record;
        EXPECT_EQ(record.Open(folder), OpenResult::Created);
        EXPECT_TRUE(record.IsOpen());
        EXPECT_EQ(record.Message(), "");
        record.Begin();
        record.PutImage(image);
        record.PutImage(Image(oddAddress, Outcome::Failed));
        record.PutArticle(article);
        EXPECT_TRUE(record.Commit());
    }
    EXPECT_TRUE(platform::PathExists(folder + "/.zembrat-record.sqlite"));
    RunRecord record;
    EXPECT_EQ(record.Open(folder + "/"), OpenResult::Opened);
    EXPECT_EQ(record.Image(gbkAddress), image);
    EXPECT_EQ(record.Image(oddAddress), Image(oddAddress, Outcome::Failed));
    EXPECT_EQ(record.Article(article.path), article);
    // Keys are bytes: a prefix, a longer key, or the same text in UTF-8 is another key.
    EXPECT_FALSE(record.Image(oddAddress.substr(0, 12)));
    EXPECT_FALSE(record.Image(oddAddress + "x"));
    EXPECT_FALSE(record.Image(text::Utf8FromGbk(gbkAddress)));
    EXPECT_FALSE(record.Article("文章.htm"_gbk));

    // A later run's entries take the place of the earlier ones, references and all.
    record.Begin();
    record.PutImage(Image(gbkAddress, Outcome::Reused, 99));
    record.PutArticle(
        Article(article.path, ArticleEnd::NotWritten, {{oddAddress, Outcome::NotReached}}));
    EXPECT_TRUE(record.Commit());
    EXPECT_EQ(record.Image(gbkAddress), Image(gbkAddress, Outcome::Reused, 99));
    EXPECT_EQ(record.Article(article.path),
              Article(article.path, ArticleEnd::NotWritten, {{oddAddress, Outcome::NotReached}}));
}

TEST(RunRecord, ArticlesToRetryComeInTheOrderTheyWereLastRecorded) {
    const testing::TempDir dir;
    RunRecord record;
    ASSERT_EQ(record.Open(dir.path()), OpenResult::Created);
    EXPECT_TRUE(record.ArticlesToRetry().empty());
    auto put = [&](const ArticleEntry& entry) {
        record.Begin();
        record.PutArticle(entry);
        EXPECT_TRUE(record.Commit());
    };
    put(Article("a", ArticleEnd::Written, {{"x", Outcome::Stored}, {"y", Outcome::Reused}}));
    put(Article("b", ArticleEnd::Written, {{"x", Outcome::Stored}, {"z", Outcome::Failed}}));
    put(Article("c", ArticleEnd::CutShort, {}));
    put(Article("d", ArticleEnd::NotWritten, {{"x", Outcome::Stored}, {"w", Outcome::NotReached}}));
    put(Article("e", ArticleEnd::Unreadable, {}));
    EXPECT_EQ(Paths(record.ArticlesToRetry()), (std::vector<std::string>{"b", "c", "d"}));
    put(Article("b", ArticleEnd::Written,
                {{"x", Outcome::Stored}, {"z", Outcome::Failed}}));    // failed again: now last
    put(Article("c", ArticleEnd::Written, {{"v", Outcome::Stored}}));  // done: off the list
    put(Article("a", ArticleEnd::CutShort, {{"x", Outcome::Stored}}));
    const std::vector<ArticleEntry> retry = record.ArticlesToRetry();
    EXPECT_EQ(Paths(retry), (std::vector<std::string>{"d", "b", "a"}));
    ASSERT_EQ(retry[0].references.size(), 2u);
    EXPECT_EQ(retry[0].references[1].address, "w");
    // The order is kept in the file, not in the object.
    record.Close();
    ASSERT_EQ(record.Open(dir.path()), OpenResult::Opened);
    EXPECT_EQ(Paths(record.ArticlesToRetry()), (std::vector<std::string>{"d", "b", "a"}));
}

TEST(RunRecord, PublishedFilesAreKeptPerTargetAndPath) {
    const testing::TempDir dir;
    RunRecord record;
    ASSERT_EQ(record.Open(dir.path()), OpenResult::Created);
    EXPECT_TRUE(record.PutPublished({{"site", "img/图.png"_gbk, 10, std::string(32, '1'), 5},
                                     {"site", "img/b.png", 20, std::string(32, '2'), 6},
                                     {"mirror", "img/b.png", 30, std::string(32, '3'), 7}}));
    EXPECT_TRUE(record.PutPublished({{"site", "img/b.png", 21, std::string(32, '4'), 8}}));
    record.Close();
    ASSERT_EQ(record.Open(dir.path()), OpenResult::Opened);
    EXPECT_EQ(record.Published("site", "img/图.png"_gbk),
              (PublishedEntry{"site", "img/图.png"_gbk, 10, std::string(32, '1'), 5}));
    EXPECT_EQ(record.Published("site", "img/b.png"),
              (PublishedEntry{"site", "img/b.png", 21, std::string(32, '4'), 8}));
    EXPECT_EQ(record.Published("mirror", "img/b.png")->size, 30u);
    EXPECT_FALSE(record.Published("mirror", "img/图.png"_gbk));
}

// A child writes articles, each with three images, one transaction each, telling the parent
// each article it committed; the parent kills it with SIGKILL at some moment and then finds
// every committed article whole, and the one in progress whole or not at all.
TEST(RunRecord, AKillLosesAtMostTheArticleInProgress) {
    const testing::TempDir dir;
    // Where the child waits to be killed: after Begin, after an image, after the article; or it
    // does not wait and is killed wherever it is.
    for (const auto& [stopAfter, pausePoint] : {std::pair{1, 0}, {7, 1}, {40, 2}, {30, 3}}) {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeFds[0]);
            RunRecord record;
            if (record.Open(dir.path()) == OpenResult::Failed) ::_exit(2);
            for (int n = 0;; ++n) {
                const std::string name = std::to_string(stopAfter) + "-" + std::to_string(n);
                const bool last = n == stopAfter && pausePoint < 3;
                record.Begin();
                if (last && pausePoint == 0) ::pause();
                std::vector<ReferenceEntry> refs;
                for (int i = 0; i < 3; ++i) {
                    record.PutImage(Image(name + "/" + std::to_string(i), Outcome::Stored));
                    refs.push_back({name + "/" + std::to_string(i), Outcome::Stored});
                    if (last && pausePoint == 1) ::pause();
                }
                record.PutArticle(Article(name, ArticleEnd::Written, refs));
                if (last) ::pause();
                if (!record.Commit()) ::_exit(3);
                const char done = 1;
                if (::write(pipeFds[1], &done, 1) != 1) ::_exit(4);
            }
        }
        ::close(pipeFds[1]);
        int committed = 0;
        char byte = 0;
        while (committed < stopAfter && ::read(pipeFds[0], &byte, 1) == 1) ++committed;
        if (pausePoint < 3) ::usleep(20'000);  // the child reaches its pause
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ::close(pipeFds[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << stopAfter;

        RunRecord record;
        ASSERT_EQ(record.Open(dir.path()), OpenResult::Opened) << record.Message();
        const std::string prefix = std::to_string(stopAfter) + "-";
        bool before = true;
        for (int n = 0; n <= stopAfter + 100; ++n) {
            const std::string name = prefix + std::to_string(n);
            const bool present = record.Article(name).has_value();
            if (n < stopAfter || pausePoint < 3) {
                EXPECT_EQ(present, n < stopAfter) << name;
            }
            EXPECT_TRUE(before || !present) << name;  // none after one that is missing
            before = present;
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(record.Image(name + "/" + std::to_string(i)).has_value(), present);
            }
        }
        EXPECT_EQ(record.Article(prefix + "0")->references.size(), 3u);
        record.Begin();  // and the record takes new entries
        record.PutArticle(Article(prefix + "after", ArticleEnd::Written, {}));
        EXPECT_TRUE(record.Commit());
    }
}

}  // namespace
}  // namespace zembrat::record
