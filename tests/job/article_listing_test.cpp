#include "job/article_listing.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/event_points.h"
#include "platform/files.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::job {
namespace {
using namespace text::literals;
using testing::TempDir;
using V = std::vector<std::string>;

// Counts the event passes a listing takes.
struct CountingEvents : platform::EventPoints {
    void ProcessEvents() override { ++count; }
    int count = 0;
};

class FileSearchListingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name :
             {"a.htm", "B.HTM", "old.html", "note.txt", "c.htm.bak", "x1.htm", "xy1.htm"}) {
            dir.Write(name, "x");
        }
        std::filesystem::create_directory(platform::NativePath(dir / "images.htm"));
    }
    V List(std::string_view filter, std::string folder = "") {
        pumps.count = 0;
        return FileSearchListing(folder.empty() ? dir.path() : folder, filter, pumps);
    }
    std::string P(const std::string& name) const { return dir / name; }

    TempDir dir;
    CountingEvents pumps;
};

TEST_F(FileSearchListingTest, PatternsMatchWithoutCaseInNameOrder) {
    EXPECT_EQ(List("*.htm"), (V{P("a.htm"), P("B.HTM"), P("x1.htm"), P("xy1.htm")}));
    EXPECT_EQ(pumps.count, 4);  // once per name found
    EXPECT_EQ(List("x?.htm"), (V{P("x1.htm")}));
    EXPECT_EQ(List("*.TXT"), (V{P("note.txt")}));
    // The folder may end with a separator or not.
    EXPECT_EQ(List("a.*", dir.path() + "/"), (V{P("a.htm")}));
}

TEST_F(FileSearchListingTest, PiecesAreSearchedInTurnAndMayRepeatNames) {
    EXPECT_EQ(List("*.txt|a.*"), (V{P("note.txt"), P("a.htm")}));
    EXPECT_EQ(List("a.htm|*.htm"),
              (V{P("a.htm"), P("a.htm"), P("B.HTM"), P("x1.htm"), P("xy1.htm")}));
    EXPECT_EQ(List("|note.txt|"), (V{P("note.txt")}));  // empty pieces match nothing
}

TEST_F(FileSearchListingTest, EmptyFilterListsEveryFileButNoFolder) {
    const V all = List("");
    EXPECT_EQ(all, (V{P("a.htm"), P("B.HTM"), P("c.htm.bak"), P("note.txt"), P("old.html"),
                      P("x1.htm"), P("xy1.htm")}));
}

TEST_F(FileSearchListingTest, MissingFolderGivesNothing) {
    EXPECT_EQ(List("*.htm", dir / "missing"), V{});
    EXPECT_EQ(pumps.count, 0);
}

TEST(ListArticles, ChineseNamesComeBackAsTheyAre) {
    TempDir dir;
    dir.Write("新闻.htm"_gbk, "x");
    EXPECT_EQ(
        ListArticles(dir.path(), "*.htm", ListingMethod::FileSearch, platform::NoEventPoints()),
        V{dir / "新闻.htm"_gbk});
}

}  // namespace
}  // namespace zembrat::job

namespace zembrat::job {
namespace {

class FolderObjectListingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"a.htm", "B.HTM", "old.html", "mynews1.htm", "news.html",
                                 "news2.htm.bak", "note.txt", "x.htmx"}) {
            dir.Write(name, "x");
        }
        std::filesystem::create_directory(platform::NativePath(dir / "news-images.htm"));
    }
    V List(std::string_view filter) {
        pumps.count = 0;
        return FolderObjectListing(dir.path(), filter, pumps);
    }
    std::string P(const std::string& name) const { return dir / name; }

    TempDir dir;
    CountingEvents pumps;
};

TEST_F(FolderObjectListingTest, ExtensionModeComparesTheEndWithoutCase) {
    EXPECT_EQ(List("*.htm"), (V{P("a.htm"), P("B.HTM"), P("mynews1.htm")}));
    EXPECT_EQ(pumps.count, 8);  // once per file examined, listed or not; the folder is not one
    EXPECT_EQ(List("*.HTML"), (V{P("news.html"), P("old.html")}));
}

TEST_F(FolderObjectListingTest, PatternModeMatchesAnywhereInTheName) {
    EXPECT_EQ(List("news*.htm"), (V{P("mynews1.htm"), P("news.html"), P("news2.htm.bak")}));
    // A second "*" makes it pattern mode: every name containing .htm or .txt.
    EXPECT_EQ(List("*.htm|*.txt"),
              (V{P("a.htm"), P("B.HTM"), P("mynews1.htm"), P("news.html"), P("news2.htm.bak"),
                 P("note.txt"), P("old.html"), P("x.htmx")}));
    // "?" stands for zero or one character here.
    EXPECT_EQ(List("a?.htm"), (V{P("a.htm")}));
}

TEST_F(FolderObjectListingTest, AllNamesForStarsAndEmptyFilters) {
    const V all = {P("a.htm"),         P("B.HTM"),    P("mynews1.htm"), P("news.html"),
                   P("news2.htm.bak"), P("note.txt"), P("old.html"),    P("x.htmx")};
    EXPECT_EQ(List(""), all);
    EXPECT_EQ(List("*"), all);
    EXPECT_EQ(List("*.*"), all);
}

TEST(FolderObjectListing, MissingFolderAndChineseNames) {
    TempDir dir;
    EXPECT_EQ(FolderObjectListing(dir / "missing", "*.htm", platform::NoEventPoints()), V{});
    dir.Write("新闻.HTM"_gbk, "x");
    EXPECT_EQ(ListArticles(dir.path() + "/", "*.htm", ListingMethod::FolderObject,
                           platform::NoEventPoints()),
              V{dir / "新闻.HTM"_gbk});
}

}  // namespace
}  // namespace zembrat::job
