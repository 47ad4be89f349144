#include "job/ref_decisions.h"

#include <gtest/gtest.h>

#include "automation/regex_object.h"
#include "job/image_refs.h"
#include "support/recording_window.h"
#include "text/codec.h"

namespace zembrat::job {
namespace {
using namespace text::literals;

// Every kind of source the run meets: duplicates (also of blank-padded texts), site-relative,
// protocol-relative, other schemes, upper-case schemes, blanks, excluded ranges, GBK text.
const std::string kArticle =
    "<p>开头</p><img src=\"http://a.com/1.png\"><IMG SRC='/pic/2.jpg'>"
    "<img alt=x src=http://cdn.bad.com/3.gif><img src=\"https://a.com/4.png\">"
    "<img src=\"　http://a.com/5.png\"><img src=\"http://a.com/1.png\">"
    "<img src=\"ftp://a.com/6.png\"><img src=\"HTTP://A.COM/7.PNG\">"
    "<img src=\"http://a.com/图片/8.png\"><img src=\"//cdn.x/9.png\">"
    "<img src=\"http://ads.example/10.png\"><img src=\"/pic/2.jpg\"><img src=\"pic/11.png\">"_gbk;

std::vector<ImageRef> Kept(const std::vector<RefVerdict>& verdicts) {
    std::vector<ImageRef> kept;
    for (const RefVerdict& v : verdicts) {
        if (v.decision == RefDecision::Download) kept.push_back({v.sourceValue, v.address});
    }
    return kept;
}

std::vector<ImageRef> Collected(const std::string& oldPrefix, const std::string& ranges) {
    testing::RecordingWindow window;
    window.edits[EditBox::OldPrefix] = oldPrefix;
    window.edits[EditBox::ExcludedRanges] = ranges;
    automation::PatternMatcher tags, excludes;
    tags.SetPattern(ImageTagPattern());
    excludes.SetPattern(automation::PatternMatcher::WildcardToPattern(ranges));
    return CollectImageRefs(kArticle, tags, excludes, window, window);
}

TEST(RefDecisionsTest, KeptListEqualsTheRunsUnderEverySetting) {
    for (const auto& [prefix, ranges] : std::vector<std::pair<std::string, std::string>>{
             {"", ""},
             {"old.site", ""},
             {"old.site", "*cdn.bad.com*|*ads.example*"},
             {"", "*a.com/1*"},
             {"old.site", "*"}}) {
        SCOPED_TRACE(prefix + " / " + ranges);
        const std::vector<RefVerdict> verdicts = DecideImageRefs(kArticle, prefix, ranges);
        EXPECT_EQ(verdicts.size(), 13u);  // every tag found, in article order
        EXPECT_EQ(Kept(verdicts), Collected(prefix, ranges));
    }
}

TEST(RefDecisionsTest, EachDropSaysWhy) {
    const std::vector<RefVerdict> v =
        DecideImageRefs(kArticle, "old.site", "*cdn.bad.com*|*ads.example*");
    std::vector<std::string> texts;
    for (const RefVerdict& r : v) texts.push_back(DecisionText(r));
    EXPECT_EQ(texts,
              (std::vector<std::string>{"duplicate in the article",  // 1.png stands again later
                                        "duplicate in the article",  // /pic/2.jpg too
                                        "excluded by *cdn.bad.com*", "not http", "download",
                                        "download", "not http", "download", "download", "download",
                                        "excluded by *ads.example*", "download", "not http"}));
    EXPECT_EQ(v[4].address, "http://a.com/5.png");  // trimmed, source kept as found
    EXPECT_EQ(v[4].sourceValue, "　http://a.com/5.png"_gbk);
    EXPECT_EQ(v[9].address, "http://old.site//cdn.x/9.png");
    EXPECT_EQ(v[11].address, "http://old.site/pic/2.jpg");

    const std::vector<RefVerdict> noPrefix = DecideImageRefs(kArticle, "", "");
    EXPECT_EQ(DecisionText(noPrefix[11]), "relative with no old prefix");
    EXPECT_EQ(DecisionText(noPrefix[9]), "relative with no old prefix");
    EXPECT_EQ(DecisionText(DecideImageRefs("<img src=\"　\">"_gbk, "", "")[0]),
              "empty");  // a full-width blank
    EXPECT_TRUE(DecideImageRefs("<p>no images</p>", "", "").empty());
}

}  // namespace
}  // namespace zembrat::job
