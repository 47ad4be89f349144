// Articles' changes grouped into one transaction per commit window, as another reader of the
// record file sees them.
#include "record/commit_group.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "platform/files.h"
#include "record/run_record.h"
#include "support/temp_dir.h"

namespace zembrat::record {
namespace {

class CommitGroupTest : public ::testing::Test {
  protected:
    CommitGroupTest() : folder(dir / "result") {
        EXPECT_TRUE(platform::CreateOneFolder(folder));
        EXPECT_EQ(record.Open(folder), OpenResult::Created);
    }
    // One article with its image, kept as a run keeps it.
    void Keep(CommitGroup& group, const std::string& path) {
        const auto held = group.Hold();
        group.BeginArticle(held);
        record.PutImage({"http://a/" + path, "files/img/1.png", 1, 2, "", "", Outcome::Stored, 1});
        record.PutArticle({path, "s", "i", "r", "h", ArticleEnd::Written, {}, 1});
        group.EndArticle(held);
    }
    // What a reader of the file sees of the article and its image.
    bool Seen(const std::string& path) const {
        RunRecord reader;
        if (!reader.OpenToRead(folder)) return false;
        const bool article = reader.Article(path).has_value();
        EXPECT_EQ(reader.Image("http://a/" + path).has_value(), article) << path;
        return article;
    }

    testing::TempDir dir;
    std::string folder;
    RunRecord record;
};

TEST_F(CommitGroupTest, ArticlesAreCommittedByTheWindowWhileTheRunWaitsAndAllAtAFlush) {
    CommitGroup group(record, std::chrono::milliseconds(100));
    Keep(group, "1.htm");
    Keep(group, "2.htm");
    // Nothing more ends: the window's end commits both, with no further call.
    const auto start = std::chrono::steady_clock::now();
    while (!Seen("2.htm") && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(Seen("1.htm"));
    EXPECT_TRUE(Seen("2.htm"));
    // A flush (a stop, the end) commits what is open at once.
    CommitGroup waiting(record, std::chrono::hours(1));
    Keep(waiting, "3.htm");
    waiting.Flush();
    EXPECT_TRUE(Seen("3.htm"));
}

TEST_F(CommitGroupTest, TheGroupIsCommittedWhenItGoesEvenUnflushed) {
    {
        CommitGroup group(record, std::chrono::hours(1));
        Keep(group, "1.htm");
        Keep(group, "2.htm");
    }
    EXPECT_TRUE(Seen("1.htm"));
    EXPECT_TRUE(Seen("2.htm"));
}

}  // namespace
}  // namespace zembrat::record
