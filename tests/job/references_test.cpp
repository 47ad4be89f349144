#include "job/references.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "automation/regex_object.h"
#include "job/article_images.h"
#include "support/event_counter.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::job {
namespace {
using namespace text::literals;
using Refs = std::vector<ImageRef>;

// Every kind of source a run meets: duplicates (also of blank-padded texts), site-relative,
// network-path, other schemes, upper-case schemes, blanks, excluded ranges, GBK text.
const std::string kArticle =
    "<p>开头</p><img src=\"http://a.com/1.png\"><IMG SRC='/pic/2.jpg'>"
    "<img alt=x src=http://cdn.bad.com/3.gif><img src=\"https://a.com/4.png\">"
    "<img src=\"　http://a.com/5.png\"><img src=\"http://a.com/1.png\">"
    "<img src=\"ftp://a.com/6.png\"><img src=\"HTTP://A.COM/7.PNG\">"
    "<img src=\"http://a.com/图片/8.png\"><img src=\"//cdn.x/9.png\">"
    "<img src=\"http://ads.example/10.png\"><img src=\"/pic/2.jpg\"><img src=\"pic/11.png\">"_gbk;

std::vector<RefVerdict> Decide(const std::string& article, const std::string& oldPrefix,
                               const std::string& ranges, const ExtensionOptions& options = {},
                               bool markdown = false) {
    ReferenceDecider decider({oldPrefix, ranges, options});
    return decider.Decide(article, markdown, platform::NoEventPoints());
}

Refs Kept(const std::string& article, const std::string& oldPrefix = "",
          const std::string& ranges = "") {
    return KeptReferences(Decide(article, oldPrefix, ranges));
}

// The plain rules written out by hand, as an oracle: the tag pattern's sources, each kept at its
// last occurrence, trimmed, "//" given the scheme, "/" the old prefix, only "http://" kept, and
// the excluded ranges (plain substrings here) dropped.
Refs Oracle(const std::string& article, const std::string& oldPrefix,
            const std::vector<std::string>& substrings) {
    // The article above is built so that every tag has a source, in src=" ... ", src=' ... ' or
    // unquoted up to a space or ">".
    std::vector<std::string> sources;
    std::string lower = text::AsciiLower(article);
    for (std::size_t at = lower.find("src="); at != std::string::npos;
         at = lower.find("src=", at + 4)) {
        std::size_t from = at + 4;
        std::string stop = " >";
        if (article[from] == '"' || article[from] == '\'') stop = std::string(1, article[from++]);
        sources.push_back(article.substr(from, article.find_first_of(stop, from) - from));
    }
    std::unordered_map<std::string, std::size_t> last;
    for (std::size_t i = 0; i < sources.size(); ++i) last[sources[i]] = i;
    Refs refs;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (last[sources[i]] != i) continue;
        std::string a = text::Trim(sources[i]);
        if (a.starts_with("//"))
            a = "http:" + a;
        else if (a.starts_with("/")) {
            if (oldPrefix.empty()) continue;
            a = "http://" + oldPrefix + a;
        }
        if (text::AsciiLower(a.substr(0, 7)) != "http://") continue;
        bool excluded = false;
        for (const std::string& s : substrings)
            excluded = excluded || text::AsciiLower(a).find(s) != std::string::npos;
        if (!excluded) refs.push_back({sources[i], a});
    }
    return refs;
}

TEST(References, KeptListEqualsThePlainRulesUnderEverySetting) {
    for (const auto& [prefix, ranges, substrings] :
         std::vector<std::tuple<std::string, std::string, std::vector<std::string>>>{
             {"", "", {}},
             {"old.site", "", {}},
             {"old.site", "*cdn.bad.com*|*ads.example*", {"cdn.bad.com", "ads.example"}},
             {"", "*a.com/1*", {"a.com/1"}},
             {"old.site", "*", {""}}}) {
        SCOPED_TRACE(prefix + " / " + ranges);
        const std::vector<RefVerdict> verdicts = Decide(kArticle, prefix, ranges);
        EXPECT_EQ(verdicts.size(), 13u);  // every tag found, in article order
        EXPECT_EQ(KeptReferences(verdicts), Oracle(kArticle, prefix, substrings));
    }
}

TEST(References, EachDropSaysWhy) {
    const std::vector<RefVerdict> v = Decide(kArticle, "old.site", "*cdn.bad.com*|*ads.example*");
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
    // A network-path reference takes the scheme, never the old prefix.
    EXPECT_EQ(v[9].address, "http://cdn.x/9.png");
    EXPECT_EQ(v[11].address, "http://old.site/pic/2.jpg");

    const std::vector<RefVerdict> noPrefix = Decide(kArticle, "", "");
    EXPECT_EQ(DecisionText(noPrefix[11]), "relative with no old prefix");
    EXPECT_EQ(DecisionText(noPrefix[9]), "download");
    EXPECT_EQ(DecisionText(Decide("<img src=\"　\">"_gbk, "", "")[0]), "empty");
    EXPECT_TRUE(Decide("<p>no images</p>", "", "").empty());
}

TEST(References, TagFormsAndCaseAsThePlainRulesReadThem) {
    EXPECT_EQ(Kept("<IMG SRC='http://a.com/1.gif'>"
                   "<img src=http://a.com/2.png alt=x>"
                   "<img class=\"x\" width=3 src=\"http://a.com/3.jpg\" />"
                   "<img src = \"http://a.com/4.jpg\">"     // spaces around "=": no match
                   "<img\nsrc=\"http://a.com/5.jpg\">"      // line break after the name
                   "<img\tsrc=\"http://a.com/6.jpg\">"      // tab after the name
                   "<img src=\"http://a.com/my pic.jpg\">"  // cut at the space
                   "<img alt=\"no source\">"),
              (Refs{{"http://a.com/1.gif", "http://a.com/1.gif"},
                    {"http://a.com/2.png", "http://a.com/2.png"},
                    {"http://a.com/3.jpg", "http://a.com/3.jpg"},
                    {"http://a.com/my", "http://a.com/my"}}));
    // Capitals are kept as written; a "." in a range is a plain point; GBK around stays exact.
    EXPECT_EQ(Kept("<img src=\"HTTP://A.COM/X.GIF\">"),
              (Refs{{"HTTP://A.COM/X.GIF", "HTTP://A.COM/X.GIF"}}));
    EXPECT_EQ(Kept("<img src=\"http://eXorg/1.jpg\">", "", "e.org").size(), 1u);
    const std::string src = "http://a.com/图片/一.jpg"_gbk;
    EXPECT_EQ(Kept("中文<img alt=\"说明\" src=\""_gbk + src + "\">文字"_gbk), (Refs{{src, src}}));
}

TEST(References, ThePlainRulesFindWhatTheTagPatternFindsOrSayTheyCouldNotReadIt) {
    const std::string far(20000, 'a');
    const std::string articles[] = {
        kArticle,
        "<img \xB0src=\"http://a.com/trail.jpg\"> <img src=\xB0\xA1.jpg>",  // "s" is a trail byte
        "<img \x81\x30\x97\x37rc=\"http://a.com/long-s.jpg\">",  // a long s: "s" ignoring case
        "\x80<img src=\"http://a.com/a.jpg\">\xFF<img src=b.jpg>\x81\x7F<img src=c.jpg>\xB0",
        "<img src=\"x\">\r\n<img alt=1 src=a\nb.jpg\n>",
        "<img alt=x>" + far + "<img src=\"http://a.com/far.jpg\">",  // one long line
        "<img src=" + far + " \n>",                                  // the pattern gives up on it
    };
    for (const std::string& article : articles) {
        SCOPED_TRACE(article.substr(0, 80));
        automation::PatternMatcher tags;
        tags.SetPattern(ImageTagPattern());
        const std::vector<std::string> expected = tags.GroupTexts(article, 2);
        ReferenceDecider decider({"", "", {}});
        std::vector<std::string> texts;
        for (const RefVerdict& v : decider.Decide(article, false, platform::NoEventPoints()))
            texts.push_back(v.sourceValue);
        EXPECT_EQ(texts, expected);
        EXPECT_EQ(decider.LastReadWhole(), !tags.LastSearchHitLimit());
    }
    ReferenceDecider decider({"", "", {}});
    EXPECT_EQ(decider.Decide(articles[2], false, platform::NoEventPoints()).size(), 1u);
    decider.Decide(articles[6], false, platform::NoEventPoints());
    EXPECT_FALSE(decider.LastReadWhole());
}

TEST(References, DropsAreToldUnderEveryOption) {
    // Under each option that reads references otherwise, the dropped ones are still there with
    // their reasons, and what the plain rules keep is kept.
    const std::string article =
        "<img src=\"http://a.com/1.png\"><img src=\"/rel.png\"><img src=\"http://ads.x/2.png\">"
        "<img src=\"ftp://a/3.png\"><img src=\"http://a.com/1.png\">";
    ExtensionOptions https, lazy, html, markdown;
    https.https = true;
    lazy.lazyImages = true;
    html.htmlRules = true;
    markdown.markdown = true;
    for (const ExtensionOptions& o : {ExtensionOptions{}, https, lazy, html, markdown}) {
        const std::vector<RefVerdict> v = Decide(article, "", "*ads.x*", o, true);
        std::vector<std::string> texts;
        for (const RefVerdict& r : v) texts.push_back(DecisionText(r));
        EXPECT_EQ(texts, (std::vector<std::string>{"duplicate in the article",
                                                   "relative with no old prefix",
                                                   "excluded by *ads.x*", "not http", "download"}));
    }
}

TEST(References, LazyImagesSrcIsCarriedByTheDownloadedOccurrence) {
    // Two lazy images of one source and one of another: every src to write is held by the
    // occurrence that is downloaded, none by the duplicate, nothing without the option.
    const std::string article =
        "<img data-src=\"http://a.com/1.png\" src=\"data:,\">"
        "<img data-src=\"http://a.com/2.png\">"
        "<img src=\"blank.gif\" data-src=\"http://a.com/1.png\">";
    ExtensionOptions lazy;
    lazy.lazyImages = true;
    const std::vector<RefVerdict> v = Decide(article, "", "", lazy);
    std::vector<std::pair<std::string, std::size_t>> held;
    for (const RefVerdict& r : v) {
        for (const SourceEdit& e : r.edits) {
            EXPECT_EQ(r.decision, RefDecision::Download);
            EXPECT_EQ(e.source, r.sourceValue);
            held.emplace_back(r.sourceValue, e.offset);
        }
    }
    EXPECT_EQ(held, (std::vector<std::pair<std::string, std::size_t>>{
                        {"http://a.com/2.png", article.find("<img data-src=\"http://a.com/2") + 4},
                        {"http://a.com/1.png", article.find("data:,")},
                        {"http://a.com/1.png", article.find("blank.gif")}}));
    for (const RefVerdict& r : Decide(article, "", "")) EXPECT_TRUE(r.edits.empty());
}

TEST(References, CompleteAddressUnderTheHttpsOption) {
    struct Case {
        std::string_view address, oldPrefix;
        std::optional<std::string> off, on;
    };
    const Case cases[] = {
        {"http://a.com/1.jpg", "", "http://a.com/1.jpg", "http://a.com/1.jpg"},
        {"HTTP://A.COM/X.GIF", "", "HTTP://A.COM/X.GIF", "HTTP://A.COM/X.GIF"},
        {"https://a.com/1.jpg", "old.com", std::nullopt, "https://a.com/1.jpg"},
        {"HTTPS://a.com/1.jpg", "", std::nullopt, "HTTPS://a.com/1.jpg"},
        {"//cdn.com/2.jpg", "", "http://cdn.com/2.jpg", "https://cdn.com/2.jpg"},
        {"//cdn.com/2.jpg", "old.com", "http://cdn.com/2.jpg", "https://cdn.com/2.jpg"},
        {"/pic/1.jpg", "old.com", "http://old.com/pic/1.jpg", "http://old.com/pic/1.jpg"},
        {"/pic/1.jpg", "", std::nullopt, std::nullopt},
        {"pic/1.jpg", "old.com", std::nullopt, std::nullopt},
        {"data:image/png;base64,AA", "", std::nullopt, std::nullopt},
        {"ftp://a.com/1.jpg", "", std::nullopt, std::nullopt},
        {"", "old.com", std::nullopt, std::nullopt},
    };
    const auto kept = [](const Completion& c) {
        return c.decision == RefDecision::Download ? std::optional(c.address) : std::nullopt;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(kept(CompleteAddress(c.address, c.oldPrefix, false)), c.off);
        EXPECT_EQ(kept(CompleteAddress(c.address, c.oldPrefix, true)), c.on);
    }
}

TEST(References, AnArticleInUtf8AsksForItsAddressesBytesAsTheyStand) {
    // "图片" in UTF-8 is E5 9B BE E7 89 87: sent percent-encoded, never read as GBK again.
    const std::string utf8 =
        "<p>\xE4\xB8\xAD</p><img src=\"http://a.com/\xE5\x9B\xBE\xE7\x89\x87.jpg\">";
    const Refs kept = Kept(utf8);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].address, "http://a.com/%E5%9B%BE%E7%89%87.jpg");
    EXPECT_EQ(kept[0].sourceValue,
              "http://a.com/\xE5\x9B\xBE\xE7\x89\x87.jpg");  // what is replaced
    // A GBK article keeps its bytes; the window and the request component take them as GBK.
    const std::string gbk = "<img src=\"http://a.com/中文.jpg\">"_gbk;
    EXPECT_EQ(Kept(gbk)[0].address, "http://a.com/中文.jpg"_gbk);
}

TEST(References, DuplicatesAreLookedForWithEventsProcessed) {
    testing::EventCounter events;
    ReferenceDecider decider({});
    decider.Decide(
        "<img src=\"http://a/x.gif\"><img src=\"http://a/y.gif\"><img src=\"http://a/x.gif\">",
        false, events);
    EXPECT_EQ(events.processed, 3);  // once per source examined
}

}  // namespace
}  // namespace zembrat::job

namespace zembrat::job {
namespace {

// The article rewritten as a run rewrites it when every Download verdict but those named in
// failed is stored, the k-th at "/n/k".
std::string RewrittenByRun(const std::string& article, const ExtensionOptions& options,
                           bool markdown, const std::vector<std::size_t>& failed = {},
                           bool keepOnlyDownloads = false) {
    ReferenceDecider decider({"old.site", "", options});
    std::vector<RefVerdict> verdicts = decider.Decide(article, markdown, platform::NoEventPoints());
    // A retry keeps only the references it was asked to download.
    if (keepOnlyDownloads)
        std::erase_if(verdicts,
                      [](const RefVerdict& v) { return v.decision != RefDecision::Download; });
    std::vector<std::string> addresses;
    for (const RefVerdict& v : verdicts) {
        if (v.decision != RefDecision::Download) continue;
        const std::size_t k = addresses.size();
        addresses.push_back(std::find(failed.begin(), failed.end(), k) != failed.end()
                                ? ""
                                : "/n/" + std::to_string(k));
    }
    std::string text = article, scratch;
    RewriteStoredSources(text, KeptReferences(verdicts), {addresses.begin(), addresses.end()},
                         verdicts, RewritesWhereFound(options), scratch);
    return text;
}

TEST(RewriteByPlace, EachSourceIsReplacedWhereItWasReadAndNowhereElse) {
    ExtensionOptions html, lazy, markdown;
    html.htmlRules = true;
    lazy.lazyImages = true;
    markdown.markdown = true;
    struct Case {
        const char* what;
        ExtensionOptions options;
        bool markdownArticle;
        std::string article, written;
    };
    const std::vector<Case> cases = {
        {"every occurrence read is replaced, the comment is not", html, false,
         "<img src=/a.png><!-- /a.png --><img src='/a.png'>",
         "<img src=/n/0><!-- /a.png --><img src='/n/0'>"},
        {"the text as written is replaced, its decoded address fetched", html, false,
         "<img src=\"/q?a=1&amp;b=2\"> /q?a=1&amp;b=2", "<img src=\"/n/0\"> /q?a=1&amp;b=2"},
        {"a definition used twice is written once", markdown, true,
         "![a][r] ![b][R]\n\n[r]: /r.png\n\n`/r.png`\n",
         "![a][r] ![b][R]\n\n[r]: /n/0\n\n`/r.png`\n"},
        {"a lazy image gets the new address into its src", lazy, false,
         "<img data-src=/l.png><img src=\"/loading.gif\" data-original='/o.png'>",
         "<img src=\"/n/0\" data-src=/n/0><img src=\"/n/1\" data-original='/n/1'>"},
        {"plain rules: everywhere",
         {},
         false,
         "<img src=\"/a.png\"> /a.png",
         "<img src=\"/n/0\"> /n/0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RewrittenByRun(c.article, c.options, c.markdownArticle), c.written);
        // A retry that kept only the downloads rewrites the same places.
        EXPECT_EQ(RewrittenByRun(c.article, c.options, c.markdownArticle, {}, true), c.written);
    }
    // A source that was not stored stays wherever it stands, as do its lazy images' src.
    EXPECT_EQ(
        RewrittenByRun("<img src=/a.png><img data-src=/b.png src=/lazy.gif>", lazy, false, {1}),
        "<img src=/n/0><img data-src=/b.png src=/lazy.gif>");
}

}  // namespace
}  // namespace zembrat::job
