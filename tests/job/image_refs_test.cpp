#include "job/image_refs.h"

#include <gtest/gtest.h>

#include "automation/regex_object.h"
#include "support/recording_window.h"
#include "text/codec.h"

namespace zembrat::job {
namespace {
using namespace text::literals;
using testing::RecordingWindow;
using Refs = std::vector<ImageRef>;

class CollectImageRefsTest : public ::testing::Test {
  protected:
    CollectImageRefsTest() { tags.SetPattern(ImageTagPattern()); }
    Refs Collect(const std::string& article) {
        excludes.SetPattern(automation::PatternMatcher::WildcardToPattern(
            window.EditText(EditBox::ExcludedRanges)));
        return CollectImageRefs(article, tags, excludes, window, window);
    }
    std::vector<std::string> RowAddresses() const {
        std::vector<std::string> out;
        for (const auto& row : window.rows) {
            EXPECT_EQ(row.icon, StatusIcon::Queued);
            EXPECT_EQ(row.cells[0], "队列中.."_gbk);
            out.push_back(row.cells[1]);
        }
        return out;
    }

    RecordingWindow window;
    automation::PatternMatcher tags, excludes;
};

TEST_F(CollectImageRefsTest, TagFormsYieldTheBareSourceValue) {
    const Refs refs = Collect(
        "<IMG SRC='http://a.com/1.gif'>"
        "<img src=http://a.com/2.png alt=x>"
        "<img class=\"x\" width=3 src=\"http://a.com/3.jpg\" />"
        "<img src = \"http://a.com/4.jpg\">"     // spaces around "=": no match
        "<img\nsrc=\"http://a.com/5.jpg\">"      // line break after the name
        "<img\tsrc=\"http://a.com/6.jpg\">"      // tab after the name
        "<img src=\"http://a.com/my pic.jpg\">"  // cut at the space
        "<img alt=\"no source\">");
    EXPECT_EQ(refs, (Refs{{"http://a.com/1.gif", "http://a.com/1.gif"},
                          {"http://a.com/2.png", "http://a.com/2.png"},
                          {"http://a.com/3.jpg", "http://a.com/3.jpg"},
                          {"http://a.com/my", "http://a.com/my"}}));
    EXPECT_EQ(RowAddresses(), (std::vector<std::string>{"http://a.com/1.gif", "http://a.com/2.png",
                                                        "http://a.com/3.jpg", "http://a.com/my"}));
}

TEST_F(CollectImageRefsTest, DuplicatesGiveOneReferenceAtTheLastOccurrence) {
    const Refs refs = Collect(
        "<img src=\"http://a/x.gif\"><img src=\"http://a/y.gif\">"
        "<img src=\"http://a/x.gif\"><img src=\"http://a/x.gif\">");
    EXPECT_EQ(refs,
              (Refs{{"http://a/y.gif", "http://a/y.gif"}, {"http://a/x.gif", "http://a/x.gif"}}));
    EXPECT_EQ(window.rows.size(), 2u);
    // The list was emptied before the rows were queued, and the window kept processing events.
    window.rows.push_back({StatusIcon::Saved, {"old", "old"}});
    Collect("<img src=\"http://a/z.gif\">");
    EXPECT_EQ(window.rows.size(), 1u);
    EXPECT_GT(window.processEventsCalls, 0);
}

TEST_F(CollectImageRefsTest, OldPrefixCompletesSiteRelativeSources) {
    const std::string article =
        "<img src=\"/pic/1.jpg\"><img src=\"//cdn.x/2.jpg\"><img src=\"pic/3.jpg\">";
    EXPECT_EQ(Collect(article), Refs{});  // no old prefix: all dropped
    EXPECT_TRUE(window.rows.empty());
    window.edits[EditBox::OldPrefix] = "old.example.com";
    EXPECT_EQ(Collect(article), (Refs{{"/pic/1.jpg", "http://old.example.com/pic/1.jpg"},
                                      {"//cdn.x/2.jpg", "http://old.example.com//cdn.x/2.jpg"}}));
}

TEST_F(CollectImageRefsTest, OnlyPlainHttpAddressesSurvive) {
    const Refs refs = Collect(
        "<img src=\"https://a/1.jpg\"><img src=\"data:image/png;base64,AAAA\">"
        "<img src=\"ftp://a/2.jpg\"><img src=\"HTTP://A.COM/X.GIF\">"
        "<img src=\"\xA1\xA1http://a/3.jpg\">");
    // Capitals are kept as written; a full-width space is trimmed from the address only.
    EXPECT_EQ(refs, (Refs{{"HTTP://A.COM/X.GIF", "HTTP://A.COM/X.GIF"},
                          {"\xA1\xA1http://a/3.jpg", "http://a/3.jpg"}}));
}

TEST_F(CollectImageRefsTest, ExcludedRangesMatchAnywhereWithoutCase) {
    const std::string article =
        "<img src=\"http://Img.A.com/1.jpg\"><img src=\"http://b.net/2.jpg\">"
        "<img src=\"http://c.org/static/3.jpg\"><img src=\"http://c.org/4.jpg\">"
        "<img src=\"http://d.org/x/cdn/5.jpg\"><img src=\"http://e.org/6.jpg\">";
    window.edits[EditBox::ExcludedRanges] = "a.COM|b.net";
    EXPECT_EQ(Collect(article).size(), 4u);
    window.edits[EditBox::ExcludedRanges] = "c.org/static|*cdn*";
    const Refs refs = Collect(article);
    std::vector<std::string> kept;
    for (const auto& r : refs) kept.push_back(r.address);
    EXPECT_EQ(kept, (std::vector<std::string>{"http://Img.A.com/1.jpg", "http://b.net/2.jpg",
                                              "http://c.org/4.jpg", "http://e.org/6.jpg"}));
    // A "." in a range is a plain point, not any character.
    window.edits[EditBox::ExcludedRanges] = "e.org";
    window.edits[EditBox::OldPrefix] = "";
    EXPECT_EQ(Collect("<img src=\"http://eXorg/1.jpg\">").size(), 1u);
}

TEST_F(CollectImageRefsTest, ChineseTextAroundTheTagsLeavesTheSourceBytesExact) {
    const std::string src = "http://a.com/图片/一.jpg"_gbk;
    const Refs refs = Collect("中文<img alt=\"说明\" src=\""_gbk + src + "\">文字"_gbk);
    ASSERT_EQ(refs.size(), 1u);
    EXPECT_EQ(refs[0].sourceValue, src);
}

TEST(RemoveDuplicates, LastOccurrencesInTheirOrder) {
    using V = std::vector<std::string>;
    testing::RecordingWindow events;
    EXPECT_EQ(RemoveDuplicates({"a", "b", "a", "c", "b", "a"}, events), (V{"c", "b", "a"}));
    EXPECT_EQ(events.processEventsCalls, 6);
    EXPECT_EQ(RemoveDuplicates({"A", "a"}, events), (V{"A", "a"}));  // letter case counts
    events.processEventsCalls = 0;
    EXPECT_EQ(RemoveDuplicates({"x"}, events), (V{"x"}));
    EXPECT_EQ(RemoveDuplicates({}, events), V{});
    EXPECT_EQ(events.processEventsCalls, 0);
}

}  // namespace
}  // namespace zembrat::job
