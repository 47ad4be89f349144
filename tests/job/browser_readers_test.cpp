// The Markdown option's CommonMark reading and the HTML rules' tokenizer, on the cases where
// articles are read wrongly when Markdown or tags are read by a simpler rule: which images are
// found, what is fetched for them, and that each source is the article's own text where it
// stands (so that the rewrite replaces it there).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "job/ref_scanner.h"
#include "job/references.h"
#include "platform/event_points.h"
#include "text/codec.h"

namespace zembrat::job {
namespace {

using Texts = std::vector<std::string>;

struct Case {
    const char* name;
    std::string article;
    Texts expected;  // "text", or "text => fetched" when they differ
};

Texts Read(std::string_view article, const ExtensionOptions& options, ArticleEncoding encoding,
           bool markdownArticle) {
    Texts out;
    for (const FoundSource& f : ScanSources(article, options, encoding, markdownArticle)) {
        EXPECT_EQ(article.substr(f.offset, f.text.size()), f.text) << "offset " << f.offset;
        out.push_back(f.address.empty() ? f.text : f.text + " => " + f.address);
    }
    return out;
}

ExtensionOptions Markdown() {
    ExtensionOptions o;
    o.markdown = true;
    return o;
}

ExtensionOptions HtmlRules(bool lazy = false) {
    ExtensionOptions o;
    o.htmlRules = true;
    o.lazyImages = lazy;
    return o;
}

void RunCases(const std::vector<Case>& cases, const ExtensionOptions& options, bool markdown) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Read(c.article, options, ArticleEncoding::Utf8, markdown), c.expected)
            << c.article;
    }
}

TEST(CommonMarkReading, FindsImagesInEveryFormAndNoneInCode) {
    const std::string defs = "\n\n[logo]: http://a.example/logo.png\n";
    RunCases(
        {
            {"inline", "![a](http://a.example/1.png)", {"http://a.example/1.png"}},
            {"shortcut", "![logo]" + defs, {"http://a.example/logo.png"}},
            {"collapsed", "![Logo][]" + defs, {"http://a.example/logo.png"}},
            {"full", "![x][ LOGO ]" + defs, {"http://a.example/logo.png"}},
            {"label folded",
             "![STRASSE]\n\n[straße]: http://a.example/s.png\n",
             {"http://a.example/s.png"}},
            {"label white space",
             "![a\n  b]\n\n[A b]: http://a.example/w.png\n",
             {"http://a.example/w.png"}},
            {"first definition counts",
             "![logo]\n\n[logo]: http://a.example/1.png\n[LOGO]: http://a.example/2.png\n",
             {"http://a.example/1.png"}},
            {"unused definition", "[logo]: http://a.example/unused.png\n", {}},
            {"definition inside a paragraph is text",
             "![logo]\ntext\n[logo]: http://a.example/logo.png\n",
             {}},
            {"definition in a block quote",
             "![logo]\n\n> [logo]: http://a.example/q.png\n",
             {"http://a.example/q.png"}},
            {"pointy with space",
             "![a](<http://a.example/a b.png>)",
             {"http://a.example/a b.png => http://a.example/a%20b.png"}},
            {"nested brackets", "![a [b] c](http://a.example/n.png)", {"http://a.example/n.png"}},
            {"title and parentheses",
             "![a](http://a.example/(p).png \"t\")",
             {"http://a.example/(p).png"}},
            {"indented code", "    ![x](http://a.example/code.png)\n", {}},
            {"fence in a list item", "- a\n\n  ```\n  ![x](http://a.example/f.png)\n  ```\n", {}},
            {"img in a fence", "```\n<img src=\"http://a.example/f.png\">\n```\n", {}},
            {"img in a tilde fence", "~~~\n<img src=\"http://a.example/f.png\">\n~~~\n", {}},
            {"img in a code span", "`<img src=\"http://a.example/s.png\">`", {}},
            {"code span through an image", "![not a `link](/foo`)", {}},
            {"markdown in an html block",
             "<table><tr><td>\n![x](http://a.example/t.png)\n</td></tr></table>\n",
             {}},
            {"markdown in an attribute", "<a href=\"![](http://a.example/h.png)\">x</a>", {}},
            {"html block after a blank line",
             "<div>\n\n![x](http://a.example/d.png)\n\n</div>\n",
             {"http://a.example/d.png"}},
            {"raw img as a browser reads it",
             "x <img\n src='http://a.example/r&eacute;.png'> <!-- <img src=http://a.example/c.png> "
             "-->",
             {"http://a.example/r&eacute;.png => http://a.example/r%C3%A9.png"}},
            {"image inside an image is its text",
             "![a ![b](http://a.example/in.png)](http://a.example/out.png)",
             {"http://a.example/out.png"}},
            {"no link inside a link",
             "[a [b](http://a.example/x.png) ![i](http://a.example/i.png)](c)",
             {"http://a.example/i.png"}},
            {"escaped", "\\![a](http://a.example/e.png)", {}},
        },
        Markdown(), true);
}

TEST(CommonMarkReading, DecodesDestinationsAsCommonMarkDoes) {
    RunCases(
        {
            {"named, any case",
             "![a](http://a.example/caf&eacute;&AMP;&ouml;.png)",
             {"http://a.example/caf&eacute;&AMP;&ouml;.png => "
              "http://a.example/caf%C3%A9&%C3%B6.png"}},
            {"no semicolon stays",
             "![a](http://a.example/&copy.png)",
             {"http://a.example/&copy.png"}},
            {"numeric",
             "![a](http://a.example/&#233;&#x41;&#0;.png)",
             {"http://a.example/&#233;&#x41;&#0;.png => http://a.example/%C3%A9A%EF%BF%BD.png"}},
            {"backslash escapes",
             "![a](http://a.example/\\(x\\)\\_.png)",
             {"http://a.example/\\(x\\)\\_.png => http://a.example/(x)_.png"}},
            {"definition decoded",
             "![r]\n\n[r]: http://a.example/&auml;.png\n",
             {"http://a.example/&auml;.png => http://a.example/%C3%A4.png"}},
        },
        Markdown(), true);
}

TEST(CommonMarkReading, RewritesEachDestinationWhereItStands) {
    const std::string article =
        "![one](http://a.example/same.png)\n\n![two][r]\n\n[r]: http://a.example/def.png\n";
    const std::vector<FoundSource> found =
        ScanSources(article, Markdown(), ArticleEncoding::Utf8, true);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].offset, article.find("http://a.example/same.png"));
    EXPECT_EQ(found[1].offset, article.find("http://a.example/def.png"));

    // A linked image's link target that names a picture is re-hosted too, inline or by
    // reference; a link to a page is not.
    RunCases({{"linked",
               "[![thumb](http://a.example/t.jpg)](http://a.example/full.jpg)",
               {"http://a.example/t.jpg", "http://a.example/full.jpg"}},
              {"linked by reference",
               "[![thumb][t]][f]\n\n[t]: /t.jpg\n[f]: /f.JPG?x=1\n",
               {"/t.jpg", "/f.JPG?x=1"}},
              {"link to a page",
               "[![thumb](http://a.example/t.jpg)](http://a.example/page)",
               {"http://a.example/t.jpg"}},
              {"link without an image", "[text](http://a.example/full.jpg)", {}}},
             Markdown(), true);
}

TEST(CommonMarkReading, ReadsGbkArticlesByCharacters) {
    // GBK characters whose second byte is "[", "]", "\" or "`": no bracket, escape or code span.
    const std::string article =
        "\xD6\xD0![\x81]](http://a.example/b.png) \x95\\![c](http://a.example/c.png) "
        "\x81`![d](http://a.example/d.png)\x81`\n\n![\xCD\xBC]\n\n[\xCD\xBC]: "
        "http://a.example/\xCD\xBC.png\n";
    EXPECT_EQ(Read(article, Markdown(), ArticleEncoding::Gbk, true),
              (Texts{"http://a.example/b.png", "http://a.example/c.png", "http://a.example/d.png",
                     "http://a.example/\xCD\xBC.png"}));
}

TEST(CommonMarkReading, KeepsTheOtherMarkdownReaders) {
    RunCases(
        {{"front matter", "---\ncover: /cover.png\n---\n![a](/a.png)\n", {"/cover.png", "/a.png"}},
         {"hugo figure", "{{< figure src=\"/fig.png\" >}}\n", {"/fig.png"}},
         {"hexo image", "{% img left /hexo.png 10 10 %}\n", {"/hexo.png"}},
         {"shortcode in code", "    {{< figure src=\"/fig.png\" >}}\n", {}},
         {"lazy off: no data-src", "<img data-src=\"/l.png\">\n", {}}},
        Markdown(), true);
    ExtensionOptions lazy = Markdown();
    lazy.lazyImages = true;
    RunCases({{"lazy attributes of raw html", "<img data-src=\"/l.png\">\n", {"/l.png"}},
              {"not inside code", "```\n<img data-src=\"/l.png\">\n```\n", {}}},
             lazy, true);
}

TEST(CommonMarkReading, LazyImagesOfRawHtmlAreShownWhereTheyStand) {
    // Raw HTML in a block quote: its lines are read together without their "> ", and what is
    // found and written goes back to where it stands in the article.
    ExtensionOptions lazy = Markdown();
    lazy.lazyImages = true;
    const std::string article = "> text\n> <img src=\"data:,\"\n>   data-src=\"/real.png\">\n";
    SourceEdits edits;
    const std::vector<FoundSource> found =
        ScanSources(article, lazy, ArticleEncoding::Utf8, true, nullptr, &edits);
    // The placeholder is no source: data-src takes its place.
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].offset, article.find("/real.png"));
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0].offset, article.find("data:,"));
    EXPECT_EQ(edits[0].length, 6u);
    EXPECT_EQ(edits[0].text, "/real.png");
}

TEST(TokenizerReading, TextABrowserNeverReadsAsATagHoldsNoImage) {
    const std::string img = "<img src=http://a.example/x.png>";
    const std::vector<std::pair<const char*, std::string>> hidden{
        {"comment", "<!-- " + img + " -->"},
        {"unclosed comment", "<!-- " + img},
        {"script", "<script>" + img + "</script>"},
        {"escaped script", "<script><!--<script></script>" + img + "</script>--></script>"},
        {"style", "<style>" + img + "</style>"},
        {"textarea", "<textarea>" + img + "</textarea>"},
        {"title", "<title>" + img + "</title>"},
        {"xmp", "<xmp>" + img + "</xmp>"},
        {"noembed", "<noembed>" + img + "</noembed>"},
        {"iframe", "<iframe>" + img + "</iframe>"},
        {"noframes", "<noframes>" + img + "</noframes>"},
        {"plaintext", "<plaintext>" + img},
        {"cdata in svg", "<svg><![CDATA[" + img + "]]></svg>"},
        {"processing instruction", "<?php " + img + " ?>"},
        {"inside a quoted attribute", "<div title='" + img + "'></div>"},
        {"unterminated at the end", "<img src=\"http://a.example/x.png"},
        {"template", "<template>" + img + "</template>"},
        {"end tag", "</img src=http://a.example/x.png>"},
    };
    for (const auto& [name, article] : hidden) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Read(article, HtmlRules(), ArticleEncoding::Utf8, false), Texts{}) << article;
        EXPECT_EQ(Read(article + img, HtmlRules(), ArticleEncoding::Utf8, false).size(),
                  name == std::string("plaintext") || name == std::string("unclosed comment") ||
                          name == std::string("unterminated at the end")
                      ? 0u
                      : 1u)
            << article;
    }
    // Outside HTML rules the plain rule stays as it is, and finds the first.
    EXPECT_EQ(Read("<!-- " + img + " -->", {}, ArticleEncoding::Utf8, false),
              Texts{"http://a.example/x.png"});
}

TEST(TokenizerReading, ReadsTagsAsABrowserDoes) {
    RunCases(
        {
            {"slash between", "<img/src=/a.png>", {"/a.png"}},
            {"space around =", "<img src = \"/a.png\" >", {"/a.png"}},
            {"first duplicate wins", "<img src=/1.png SRC=/2.png>", {"/1.png"}},
            {"image is img", "<image src=/i.png>", {"/i.png"}},
            {"svg image is not", "<svg><image src=/s.png></svg><img src=/o.png>", {"/o.png"}},
            {"img leaves svg", "<svg><img src=/b.png></svg>", {"/b.png"}},
            {"comment ends at once", "<!--><img src=/c.png>", {"/c.png"}},
            {"bang close", "<!-- x --!><img src=/b.png>", {"/b.png"}},
            {"cdata outside svg is a bogus comment", "<![CDATA[ x ]]><img src=/d.png>", {"/d.png"}},
            {"end tag of a raw text element", "<style>x</STYLE ><img src=/e.png>", {"/e.png"}},
            {"no end tag without a delimiter", "<style>x</stylex><img src=/n.png>", {}},
        },
        HtmlRules(), false);
}

TEST(TokenizerReading, DecodesReferencesAsABrowserDoes) {
    RunCases(
        {
            {"whole named table",
             "<img src='/caf&eacute;&Ouml;&notin;.png'>",
             {"/caf&eacute;&Ouml;&notin;.png => /caf%C3%A9%C3%96%E2%88%89.png"}},
            {"legacy name without ;", "<img src='/&AMP&eacute'>", {"/&AMP&eacute => /&%C3%A9"}},
            {"legacy name before = stays", "<img src='/a?x&copy=1'>", {"/a?x&copy=1"}},
            {"legacy prefix before a letter stays", "<img src='/&notit;'>", {"/&notit;"}},
            {"legacy prefix before other text",
             "<img src='/&not;&not/'>",
             {"/&not;&not/ => /%C2%AC%C2%AC/"}},
            {"numeric replacements",
             "<img src='/&#x80;&#0;&#x110000;&#xD800;&#65'>",
             {"/&#x80;&#0;&#x110000;&#xD800;&#65 => /%E2%82%AC%EF%BF%BD%EF%BF%BD%EF%BF%BDA"}},
        },
        HtmlRules(), false);
    // A GBK article writes what GBK holds in GBK, the rest percent-encoded as UTF-8.
    EXPECT_EQ(Read("<img src='/&eacute;&#x1F600;'>", HtmlRules(), ArticleEncoding::Gbk, false),
              (Texts{"/&eacute;&#x1F600; => /\xA8\xA6\x94\x39\xFC\x36"}));
}

TEST(TokenizerReading, TheRunAsksForDecodedAddressesAsUtf8) {
    // A UTF-8 article whose address holds a reference: the decoded character is asked for as
    // UTF-8, beside the article's own non-ASCII bytes.
    ReferenceDecider decider({"", "", HtmlRules()});
    const std::string article =
        "\xEF\xBB\xBF<img src='http://a.example/caf&eacute;/\xE5\x9B\xBE.png'>";
    const std::vector<RefVerdict> verdicts =
        decider.Decide(article, false, platform::NoEventPoints());
    ASSERT_EQ(verdicts.size(), 1u);
    EXPECT_EQ(verdicts[0].sourceValue, "http://a.example/caf&eacute;/\xE5\x9B\xBE.png");
    EXPECT_EQ(verdicts[0].address, "http://a.example/caf%C3%A9/%E5%9B%BE.png");
}

}  // namespace
}  // namespace zembrat::job
