#include "job/ref_scanner.h"
#include "job/references.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "automation/regex_object.h"
#include "job/markdown_reader.h"
#include "job/plain_reader.h"
#include "text/codec.h"

namespace zembrat::job {
namespace {

using namespace text::literals;
using Texts = std::vector<std::string>;

// Text and fetched address of each source, "text" alone when both are the same, "text => address"
// otherwise; and every source must be the article's own bytes at its offset.
Texts Shown(std::string_view article, const std::vector<FoundSource>& sources) {
    Texts out;
    for (const FoundSource& f : sources) {
        EXPECT_EQ(article.substr(f.offset, f.text.size()), f.text);
        out.push_back(f.address.empty() ? f.text : f.text + " => " + f.address);
    }
    return out;
}

Texts Scan(std::string_view article, ExtensionOptions options,
           ArticleEncoding encoding = ArticleEncoding::Gbk, bool markdown = false) {
    return Shown(article, ScanSources(article, options, encoding, markdown));
}

ExtensionOptions Lazy() {
    ExtensionOptions o;
    o.lazyImages = true;
    return o;
}
ExtensionOptions Html(bool lazy = false) {
    ExtensionOptions o;
    o.htmlRules = true;
    o.lazyImages = lazy;
    return o;
}
ExtensionOptions Md() {
    ExtensionOptions o;
    o.markdown = true;
    return o;
}

Texts ThroughPattern(const std::string& article) {
    automation::PatternMatcher tags;
    tags.SetPattern(ImageTagPattern());
    Texts out;
    const int n = tags.Execute(article);
    for (int j = 1; j <= n; ++j) out.push_back(tags.SubMatchText(j, 2));
    return out;
}

TEST(RefScannerTest, PlainRuleGivesThePatternsSourcesOnACorpus) {
    const std::string pieces[] = {
        "<IMG SRC='http://a.com/1.gif'>",
        "<img src=http://a.com/2.png alt=x>",
        "<img class=\"x\" width=3 src=\"http://a.com/3.jpg\" />",
        "<img src = \"http://a.com/4.jpg\">",
        "<img\nsrc=\"http://a.com/5.jpg\">",
        "<img\tsrc=\"http://a.com/6.jpg\">",
        "<img src=\"http://a.com/my pic.jpg\">",
        "<img alt=\"no source\">",
        "<img src=\"\" alt=1 src=\"http://a.com/second.jpg\">",
        "<img data-src=\"http://a.com/lazy.jpg\" src=\"data:image/gif;base64,R0lGOD==\">",
        "<img alt=x>text<img src=\"http://a.com/across.jpg\">",
        "<img src=\"http://a.com/no-close.jpg\"\n>",
        "<img src=http://a.com/over\nline.jpg>",
        "<img \xB0src=\"http://a.com/trail.jpg\">",  // "s" is the second byte of a character
        "<img alt=\"\xCD\xBC\" src=\"http://a.com/\xCD\xBC\xC6\xAC.jpg\">",
        "\xD6\xD0<img src=\"/\xCE\xC4/a.jpg\">",
        "<img src=src=src=\"http://a.com/x.jpg\">",
        "<img src=a<img src=\"http://a.com/inner.jpg\">",
        "\r\n",
        " \xB0\xA1\xB0\xA2 ",
        "<b>bold</b>",
        "<im",
        "g src=x>",
        "<img src=\"http://a.com/q.jpg?a=1&amp;b=2\">",
        "\xE4\xB8\xAD<img src=\"http://a.com/utf8-\xE5\x9B\xBE.jpg\">",
        "<img data-src=\"http://a.com/d.jpg\" srcset=\"http://a.com/1.jpg 1x, http://a.com/2.jpg "
        "2x\">",
        "<picture>",
        "</picture>",
        "<source srcset=\"http://a.com/s.webp\">",
        "![a](http://a.com/m.png \"t\")",
        "\n[id]: http://a.com/r.png\n",
        "![b][id]",
        "\x81]",
        "![",
        "<img\tSRC =\n'http://a.com/h.jpg'>",
    };
    // Each piece alone, then many random mixtures of them.
    for (const std::string& piece : pieces) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(Shown(piece, PlainSources(piece, ArticleEncoding::Gbk)), ThroughPattern(piece));
    }
    std::uint32_t seed = 7;
    for (int round = 0; round < 300; ++round) {
        std::string article;
        const int count = 1 + round % 12;
        for (int k = 0; k < count; ++k) {
            seed = seed * 1103515245u + 12345u;
            article += pieces[(seed >> 16) % std::size(pieces)];
        }
        SCOPED_TRACE(article);
        const Texts expected = ThroughPattern(article);
        ASSERT_EQ(Shown(article, PlainSources(article, ArticleEncoding::Gbk)), expected);
        ASSERT_EQ(Scan(article, ExtensionOptions{}), expected);
        // The lazy option reads tags as HTML rules read them.
        EXPECT_EQ(ScanSources(article, Lazy(), ArticleEncoding::Gbk, false),
                  ScanSources(article, Html(true), ArticleEncoding::Gbk, false));
        // Under any options every source is the article's own bytes, in article order.
        for (int bits = 0; bits < 8; ++bits) {
            ExtensionOptions o;
            o.lazyImages = bits & 1;
            o.htmlRules = bits & 2;
            o.markdown = bits & 4;
            const std::vector<FoundSource> found =
                ScanSources(article, o, ArticleEncoding::Gbk, true);
            Shown(article, found);
            EXPECT_TRUE(std::is_sorted(
                found.begin(), found.end(),
                [](const FoundSource& a, const FoundSource& b) { return a.offset < b.offset; }));
        }
    }
}

TEST(RefScannerTest, LazyAndResponsiveAttributesAreReferencesToo) {
    // A WeChat article: the real address in data-src, a placeholder in src.
    const std::string wechat =
        "\xD5\xFD\xCE\xC4<img class=\"rich_pages\" data-ratio=\"0.75\" "
        "data-src=\"https://mmbiz.qpic.cn/mmbiz_png/Ab/640?wx_fmt=png&amp;from=appmsg\" "
        "data-type=\"png\" src=\"data:image/gif;base64,iVBORw0KGgo=\" style=\"width:100%\">";
    EXPECT_EQ(Scan(wechat, {}),
              (Texts{"https://mmbiz.qpic.cn/mmbiz_png/Ab/640?wx_fmt=png&amp;from=appmsg"}));
    // The placeholder src whose place data-src takes is no source of its own.
    const Texts real{
        "https://mmbiz.qpic.cn/mmbiz_png/Ab/640?wx_fmt=png&amp;from=appmsg => "
        "https://mmbiz.qpic.cn/mmbiz_png/Ab/640?wx_fmt=png&from=appmsg"};
    EXPECT_EQ(Scan(wechat, Lazy()), real);
    EXPECT_EQ(Scan(wechat, Html(true)), real);

    const std::string responsive =
        "<img src=\"http://a.com/s.jpg\" data-original=http://a.com/o.jpg "
        "srcset=\"http://a.com/320.jpg 320w, http://a.com/640.jpg 640w,\n"
        "  http://a.com/960.jpg 960w,http://a.com/1280.jpg 1280w\" alt=\"\xCD\xBC\">"
        "<picture><source srcset=\"http://a.com/p.avif 1x, http://a.com/p2.avif 2x\" "
        "type=\"image/avif\">"
        "<source media=\"(min-width: 800px)\" srcset='http://a.com/wide.webp'>"
        "<img src=\"http://a.com/p.jpg\"></picture>"
        "<source srcset=\"http://a.com/outside.jpg\">"
        "<img data-lazy-src=\"http://a.com/l.jpg\" data-actualsrc=http://a.com/z.jpg "
        "data-srcset=\"http://a.com/d.jpg 2x\" src=\"http://a.com/s.jpg\">";
    // The plain rule misses the first tag (its srcset breaks the line before ">") and takes
    // the "src=" inside data-lazy-src.
    EXPECT_EQ(Scan(responsive, {}), (Texts{"http://a.com/p.jpg", "http://a.com/l.jpg"}));
    EXPECT_EQ(Scan(responsive, {}), ThroughPattern(responsive));
    const Texts lazy{"http://a.com/s.jpg",   "http://a.com/o.jpg",   "http://a.com/320.jpg",
                     "http://a.com/640.jpg", "http://a.com/960.jpg", "http://a.com/1280.jpg",
                     "http://a.com/p.avif",  "http://a.com/p2.avif", "http://a.com/wide.webp",
                     "http://a.com/p.jpg",   "http://a.com/l.jpg",   "http://a.com/z.jpg",
                     "http://a.com/d.jpg",   "http://a.com/s.jpg"};
    EXPECT_EQ(Scan(responsive, Lazy()), lazy);
    EXPECT_EQ(Scan(responsive, Html(true)), lazy);
    // Under HTML rules alone only src counts, matched whole.
    EXPECT_EQ(Scan(responsive, Html()),
              (Texts{"http://a.com/s.jpg", "http://a.com/p.jpg", "http://a.com/s.jpg"}));
}

// The article with every lazy image's src written as the reading asks.
std::string WithEdits(std::string article, ExtensionOptions options) {
    SourceEdits edits;
    const std::vector<FoundSource> found =
        ScanSources(article, options, ArticleEncoding::Utf8, false, nullptr, &edits);
    for (auto e = edits.rbegin(); e != edits.rend(); ++e) {
        EXPECT_TRUE(std::any_of(found.begin(), found.end(),
                                [&](const FoundSource& f) { return f.text == e->source; }));
        EXPECT_NE(e->text.find(e->source), std::string::npos);
        article.replace(e->offset, e->length, e->text);
    }
    return article;
}

TEST(RefScannerTest, LazyImagesGetTheirRealSourceIntoSrc) {
    const std::string article =
        "<img data-src=\"http://a.com/1.png?wx_fmt=png\" "
        "src=\"data:image/svg+xml,%3Csvg xmlns='http://www.w3.org/2000/svg'%3E%3C/svg%3E\">"
        "<img src='/static/loading.gif' data-original=http://a.com/2.jpg>"
        "<img data-actualsrc=\"http://a.com/3.jpg\">"
        "<img src=\"\" data-lazy-src=\"http://a.com/4.jpg\" data-src=\"http://a.com/x.jpg\">"
        "<img src=\"http://a.com/small.jpg\" data-src=\"http://a.com/big.jpg\">"
        "<img src=\"http://a.com/Grey.GIF?v=2\" data-src=\"http://a.com/5.jpg\">"
        "<noscript><img src=\"http://a.com/1.png?wx_fmt=png\"></noscript>";
    const std::string shown =
        "<img data-src=\"http://a.com/1.png?wx_fmt=png\" src=\"http://a.com/1.png?wx_fmt=png\">"
        "<img src='http://a.com/2.jpg' data-original=http://a.com/2.jpg>"
        "<img src=\"http://a.com/3.jpg\" data-actualsrc=\"http://a.com/3.jpg\">"
        "<img src=\"http://a.com/4.jpg\" data-lazy-src=\"http://a.com/4.jpg\" "
        "data-src=\"http://a.com/x.jpg\">"
        "<img src=\"http://a.com/small.jpg\" data-src=\"http://a.com/big.jpg\">"
        "<img src=\"http://a.com/5.jpg\" data-src=\"http://a.com/5.jpg\">"
        "<noscript><img src=\"http://a.com/1.png?wx_fmt=png\"></noscript>";
    EXPECT_EQ(WithEdits(article, Lazy()), shown);
    EXPECT_EQ(WithEdits(article, Html(true)), shown);
    // Without the lazy option nothing is written; HTML rules alone do not either.
    EXPECT_EQ(WithEdits(article, {}), article);
    EXPECT_EQ(WithEdits(article, Html()), article);
    // An unquoted placeholder takes quotes when the source needs them.
    EXPECT_EQ(WithEdits("<img src=data:x data-src=\" http://a.com/a b.jpg \">", Html(true)),
              "<img src=\"http://a.com/a b.jpg\" data-src=\" http://a.com/a b.jpg \">");
}

TEST(RefScannerTest, TheLazyOptionReadsEveryPlaceAnImageLives) {
    const std::string article =
        "<head><meta property=\"og:image\" content=\"http://a.com/og.jpg\">"
        "<META NAME='twitter:image' CONTENT='http://a.com/tw.jpg'>"
        "<meta property=\"og:title\" content=\"http://a.com/not.jpg\">"
        "<style>.hero{background:url(http://a.com/bg1.png) no-repeat}\n"
        ".b{background-image: URL( 'http://a.com/bg2.png' )}</style></head>"
        "<section style=\"background-image: url(&quot;http://a.com/wx.jpg?wx_fmt=jpeg&quot;);"
        "color:red\"><p>text url(http://a.com/prose.png)</p></section>"
        "<a href=\"http://a.com/full.JPG\"><img src=\"http://a.com/thumb.jpg\"></a>"
        "<a href=\"http://a.com/page.html\"><img src=\"http://a.com/t2.jpg\"></a>"
        "<a href=\"http://a.com/alone.png\">words</a><img src=\"http://a.com/after.jpg\">";
    const Texts lazy{"http://a.com/og.jpg",
                     "http://a.com/tw.jpg",
                     "http://a.com/bg1.png",
                     "http://a.com/bg2.png",
                     "http://a.com/wx.jpg?wx_fmt=jpeg",
                     "http://a.com/full.JPG",
                     "http://a.com/thumb.jpg",
                     "http://a.com/t2.jpg",
                     "http://a.com/after.jpg"};
    EXPECT_EQ(Scan(article, Lazy()), lazy);
    EXPECT_EQ(Scan(article, Html(true)), lazy);
    EXPECT_EQ(Scan(article, {}),
              (Texts{"http://a.com/thumb.jpg", "http://a.com/t2.jpg", "http://a.com/after.jpg"}));
    // Under HTML rules the address fetched is decoded.
    EXPECT_EQ(Scan("<div style='background:url(\"http://a.com/q?a=1&amp;b=2\")'>", Html(true)),
              (Texts{"http://a.com/q?a=1&amp;b=2 => http://a.com/q?a=1&b=2"}));
}

TEST(RefScannerTest, MarkdownLeavesCodeAloneAndReadsSiteGeneratorImages) {
    const std::string article =
        "---\ntitle: \"\xE6\xA0\x87\xE9\xA2\x98\"\ncover: \"http://a.com/cover.jpg\"\n"
        "params:\n  image: 'http://a.com/fm.png'\nthumbnail: http://a.com/thumb.png\n"
        "tags: [a]\n---\n"
        "![in](http://a.com/1.png) `![span](http://a.com/span.png)` and ``a ` ![b](http://a.com/"
        "span2.png)``\n\n"
        "```markdown\n![fenced](http://a.com/fenced.png)\n[d]: http://a.com/def.png\n```\n"
        "~~~~\n![tilde](http://a.com/tilde.png)\n~~~\nstill code ![t2](http://a.com/t2.png)\n"
        "~~~~~\n"
        "{{< figure src=\"http://a.com/hugo.jpg\" title=\"A > B\" >}}\n"
        "{{% figure class=\"x\" src=http://a.com/hugo2.jpg %}}\n"
        "{% img left http://a.com/hexo.jpg 300 200 'A title' %}\n"
        "{% img /images/local.png %}\n"
        "`{{< figure src=\"http://a.com/coded.jpg\" >}}`\n"
        "an unclosed ` tick ![after](http://a.com/after.png)\n\n"
        "![ref][d]\n"
        "```\n![open](http://a.com/open.png)\n";
    EXPECT_EQ(Scan(article, Md(), ArticleEncoding::Utf8, true),
              (Texts{"http://a.com/cover.jpg", "http://a.com/fm.png", "http://a.com/thumb.png",
                     "http://a.com/1.png", "http://a.com/hugo.jpg", "http://a.com/hugo2.jpg",
                     "http://a.com/hexo.jpg", "/images/local.png", "http://a.com/after.png"}));
    // TOML front matter; a "---" that is not at the top is no front matter.
    EXPECT_EQ(
        Scan("+++\nimage = \"http://a.com/toml.png\"\n+++\n", Md(), ArticleEncoding::Gbk, true),
        Texts{"http://a.com/toml.png"});
    EXPECT_EQ(Scan("\n---\ncover: http://a.com/c.png\n---\n", Md(), ArticleEncoding::Gbk, true),
              Texts{});
    // A GBK character whose second byte is a backtick opens no span.
    EXPECT_EQ(Scan("\x95` ![a](http://a.com/a.png) `", Md(), ArticleEncoding::Gbk, true),
              Texts{"http://a.com/a.png"});
}

TEST(RefScannerTest, HtmlRulesReadTagsAsABrowserDoes) {
    const std::string article =
        "<IMG\n\tALT=\"\xCD\xBC \xC6\xAC\"\r\n  SRC = \"http://a.com/my pic.jpg\" >"
        "<img src\t=\t'http://a.com/q?a=1&amp;b=2&#38;c=&#x33;'>"
        "<img alt=\"a > b\" src=http://a.com/bare.png>"
        "<img src=\"http://a.com/first.jpg\" SRC=\"http://a.com/second.jpg\">"
        "<img data-src=\"http://a.com/not-src.jpg\">"
        "<img/src=\"http://a.com/slash.gif\">"
        "<imgx src=\"http://a.com/other-tag.jpg\">"
        "<img src=\"  http://a.com/padded.jpg \">";
    EXPECT_EQ(Scan(article, Html()),
              (Texts{"http://a.com/my pic.jpg => http://a.com/my%20pic.jpg",
                     "http://a.com/q?a=1&amp;b=2&#38;c=&#x33; => http://a.com/q?a=1&b=2&c=3",
                     "http://a.com/bare.png", "http://a.com/first.jpg", "http://a.com/slash.gif",
                     "http://a.com/padded.jpg"}));
    // The plain rule: "src\t=" is no "src=", so the second tag's match runs on into the third;
    // it finds "src=" inside data-src, and a value that begins with a space is none.
    EXPECT_EQ(Scan(article, {}), (Texts{"http://a.com/bare.png", "http://a.com/first.jpg",
                                        "http://a.com/not-src.jpg"}));
    EXPECT_EQ(Scan(article, {}), ThroughPattern(article));
    // A character reference in a GBK article: the character in GBK; an unclosed quote holds
    // nothing.
    EXPECT_EQ(Scan("<img src=\"http://a.com/&#x56FE;.jpg\"><img src=\"http://a.com/x.jpg", Html()),
              (Texts{"http://a.com/&#x56FE;.jpg => http://a.com/\xCD\xBC.jpg"}));
    EXPECT_EQ(Scan("<img src=\"http://a.com/&#x56FE;.jpg\">", Html(), ArticleEncoding::Utf8),
              (Texts{"http://a.com/&#x56FE;.jpg => http://a.com/%E5%9B%BE.jpg"}));
}

TEST(RefScannerTest, MarkdownImagesAndTheirDefinitions) {
    const std::string article =
        "# \xB1\xEA\xCC\xE2\n\n"
        "\xCE\xC4\xD7\xD6![\xCD\xBC](http://a.com/1.png) and ![t](http://a.com/2.png \"A title\")\n"
        "![](<http://a.com/with space.png> 'single') ![p](http://a.com/wiki/F_(x).jpg (paren "
        "title))\n"
        "![ref][Logo] ![Shot][] ![unknown][nothere] [link](http://a.com/link.png)\n"
        "![bad](http://a.com/no-close.png \"t\"\n\n"
        "\\![escaped](http://a.com/escaped.png) ![amp](http://a.com/q?a=1&amp;b=\\_2)\n"
        "<img src=\"http://a.com/raw.jpg\">\n\n"
        "[logo]: http://a.com/logo.gif \"Logo\"\n"
        "  [shot]: <http://a.com/shot.jpg>\n"
        "[LOGO]: http://a.com/second-definition.gif\n"
        "[unused]: http://a.com/unused.jpg\n";
    const Texts expected{"http://a.com/1.png",
                         "http://a.com/2.png",
                         "http://a.com/with space.png => http://a.com/with%20space.png",
                         "http://a.com/wiki/F_(x).jpg",
                         "http://a.com/q?a=1&amp;b=\\_2 => http://a.com/q?a=1&b=_2",
                         "http://a.com/raw.jpg",
                         "http://a.com/logo.gif",
                         "http://a.com/shot.jpg"};
    EXPECT_EQ(Scan(article, Md(), ArticleEncoding::Gbk, true), expected);
    // Not a Markdown article, or the option off: only the tag.
    EXPECT_EQ(Scan(article, Md(), ArticleEncoding::Gbk, false), (Texts{"http://a.com/raw.jpg"}));
    EXPECT_EQ(Scan(article, {}, ArticleEncoding::Gbk, true), (Texts{"http://a.com/raw.jpg"}));
    // The same in UTF-8, with Chinese right before and inside.
    const std::string utf8 = text::Utf8FromGbk(article);
    EXPECT_EQ(Scan(utf8, Md(), ArticleEncoding::Utf8, true), expected);

    // GBK characters whose second byte is "]" or "\": no bracket, no escape.
    EXPECT_EQ(Scan("![\x81]](http://a.com/b.png) \x95\\![c](http://a.com/c.png)", Md(),
                   ArticleEncoding::Gbk, true),
              (Texts{"http://a.com/b.png", "http://a.com/c.png"}));
}

TEST(RefScannerTest, ChineseAroundAndInsideTagsUnderEveryOption) {
    ExtensionOptions all;
    all.https = all.lazyImages = all.htmlRules = all.checkContent = all.markdown = true;
    const std::string gbk =
        "\xD6\xD0\xCE\xC4<img alt=\"\xCD\xBC\xC6\xAC\" "
        "data-src=\"http://a.com/\xCD\xBC/1.jpg\" src=\"http://a.com/\xC6\xAC.gif\">"
        "\xBD\xE1\xCE\xB2![\xCD\xBC](http://a.com/\xCD\xBC.png)";
    const std::string utf8 = text::Utf8FromGbk(gbk);
    for (const ArticleEncoding enc : {ArticleEncoding::Gbk, ArticleEncoding::Utf8}) {
        const std::string& a = enc == ArticleEncoding::Gbk ? gbk : utf8;
        auto in = [enc](const std::string& t) {
            return enc == ArticleEncoding::Gbk ? t : text::Utf8FromGbk(t);
        };
        SCOPED_TRACE(a);
        EXPECT_EQ(Scan(a, {}, enc), (Texts{in("http://a.com/\xCD\xBC/1.jpg")}));
        EXPECT_EQ(Scan(a, Lazy(), enc),
                  (Texts{in("http://a.com/\xCD\xBC/1.jpg"), in("http://a.com/\xC6\xAC.gif")}));
        EXPECT_EQ(Scan(a, Html(), enc), (Texts{in("http://a.com/\xC6\xAC.gif")}));
        EXPECT_EQ(Scan(a, all, enc, true),
                  (Texts{in("http://a.com/\xCD\xBC/1.jpg"), in("http://a.com/\xC6\xAC.gif"),
                         in("http://a.com/\xCD\xBC.png")}));
    }
    // Read as GBK (what the image-tag pattern sees), the third byte of a UTF-8 character and the
    // "s" after it are one character; read as UTF-8 they are not.
    const std::string glued = "<img \xE4\xB8\xADsrc=\"http://a.com/1.jpg\">";
    EXPECT_EQ(Shown(glued, PlainSources(glued, ArticleEncoding::Gbk)), ThroughPattern(glued));
    EXPECT_EQ(Shown(glued, PlainSources(glued, ArticleEncoding::Gbk)), Texts{});
    EXPECT_EQ(Shown(glued, PlainSources(glued, ArticleEncoding::Utf8)),
              Texts{"http://a.com/1.jpg"});

    EXPECT_EQ(DetectArticleEncoding(gbk), ArticleEncoding::Gbk);
    EXPECT_EQ(DetectArticleEncoding(utf8), ArticleEncoding::Utf8);
    EXPECT_EQ(DetectArticleEncoding("\xEF\xBB\xBF<img src=x>"), ArticleEncoding::Utf8);
    EXPECT_EQ(DetectArticleEncoding("<img src=x>"), ArticleEncoding::Gbk);
    EXPECT_TRUE(IsMarkdownName("notes/a.MD"));
    EXPECT_TRUE(IsMarkdownName("post.markdown"));
    EXPECT_FALSE(IsMarkdownName("a.mdx"));
    EXPECT_FALSE(IsMarkdownName("md"));
}

TEST(RefScannerTest, OptionsKeepArticleOrder) {
    const std::string pieces[] = {
        "<img \xEF\xBB\xBFsrc=\"http://a.com/bom.jpg\">",
        "<img srcset=\"http://a.com/a.jpg 1x, http://a.com/b.jpg>",
        "<img src=http://a.com/1.jpg srcset='http://a.com/2.jpg 2x",
        "<img data-src=\"http://a.com/d.jpg\" src=\"http://a.com/s.jpg\">",
        "<picture><source srcset=\"http://a.com/p.webp,http://a.com/q.webp 2x\">",
        "</picture>",
        "\"",
        "'",
        ">",
        "\n",
        " ",
        "<img ",
        "src=x>",
        "\xE4\xB8\xAD",
        "\xB0",
        "![a](http://a.com/m.png)",
        "![",
        "](",
        "[r]: http://a.com/r.png\n",
        "![x][r]",
        "<img alt=\"a > b\" src=http://a.com/h.jpg>",
        "<IMG\tSRC=http://a.com/t.jpg>",
    };
    std::uint32_t seed = 11;
    for (int round = 0; round < 400; ++round) {
        std::string article;
        for (int k = 0; k < 2 + round % 14; ++k) {
            seed = seed * 1103515245u + 12345u;
            article += pieces[(seed >> 16) % std::size(pieces)];
        }
        SCOPED_TRACE(article);
        for (const ArticleEncoding enc : {ArticleEncoding::Gbk, ArticleEncoding::Utf8}) {
            for (int bits = 1; bits < 8; ++bits) {
                ExtensionOptions o;
                o.lazyImages = bits & 1;
                o.htmlRules = bits & 2;
                o.markdown = bits & 4;
                const std::vector<FoundSource> found = ScanSources(article, o, enc, true);
                ASSERT_TRUE(std::is_sorted(
                    found.begin(), found.end(),
                    [](const FoundSource& a, const FoundSource& b) { return a.offset < b.offset; }))
                    << bits;
            }
        }
    }
    // The byte-order mark is a character of its own in UTF-8, and the plain rule finds the src;
    // a browser reads an attribute named "\xEF\xBB\xBFsrc" (so does the lazy option).
    const std::string bom = pieces[0];
    EXPECT_EQ(Shown(bom, PlainSources(bom, ArticleEncoding::Utf8)), Texts{"http://a.com/bom.jpg"});
    EXPECT_EQ(Scan(bom, Lazy(), ArticleEncoding::Utf8), Texts{});
}

TEST(RefScannerTest, TheImageTagPatternReadsALongLineWholeOrSaysItCouldNot) {
    // An "<img" without a source, then 16 MB on the same line before the tags.
    std::string article = "<img alt=\"\xCD\xBC\">";
    article.append(std::size_t{10} << 20, 'a');
    article.append(std::size_t{3} << 20, '\xCD');  // with the next byte, 3M characters
    article += "\xBC<img src=\"http://a.com/1.jpg\">\n<img src='http://a.com/2.jpg'>";
    automation::PatternMatcher tags;
    tags.SetPattern(ImageTagPattern());
    EXPECT_EQ(tags.GroupTexts(article, 2), (Texts{"http://a.com/1.jpg", "http://a.com/2.jpg"}));
    EXPECT_FALSE(tags.LastSearchHitLimit());
    EXPECT_EQ(Shown(article, PlainSources(article, ArticleEncoding::Gbk)),
              (Texts{"http://a.com/1.jpg", "http://a.com/2.jpg"}));
    // A pattern that backtracks without end gives nothing, and says so.
    tags.SetPattern("(x+x+)+y");
    EXPECT_EQ(tags.GroupTexts(std::string(40, 'x') + "z y", 0), Texts{});
    EXPECT_TRUE(tags.LastSearchHitLimit());
    EXPECT_EQ(tags.GroupTexts("xxy", 0), Texts{"xxy"});
    EXPECT_FALSE(tags.LastSearchHitLimit());
}

TEST(RefScannerTest, DuplicatesKeepTheirLastOccurrence) {
    const std::string article = "<img src=x><img src=y><img src=x><img src=z><img src=x>";
    const std::vector<FoundSource> kept =
        KeepLastOccurrences(PlainSources(article, ArticleEncoding::Gbk));
    EXPECT_EQ(Shown(article, kept), (Texts{"y", "z", "x"}));
    EXPECT_EQ(kept.back().offset, article.rfind('x'));
}

}  // namespace
}  // namespace zembrat::job
