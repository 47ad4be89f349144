// Whole runs on the real main window under the extension options, over one article folder that
// holds today's tag shapes: a GBK article, the same one in UTF-8 with and without a byte-order
// mark, and a Markdown article, against loopback http and https servers.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTest>

#include <cstdlib>
#include <map>

#include "job/extension_options.h"
#include "job/image_names.h"
#include "job/references.h"
#include "support/gui_helpers.h"
#include "support/http_server.h"
#include "support/https_server.h"
#include "window_run_fixture.h"

namespace zembrat::ui {
namespace {
using testing::HttpServer;
using testing::HttpsServer;
using testing::ReadFileOrMissing;
using testing::Reply;
using testing::ServerCertificate;

enum class Needs { Plain, Https, Lazy, HtmlRules, Markdown };
enum class Fate { Stored, NeverStored, NotAnImage, TimesOut };
enum class Host { Http, Https, UnknownIssuer, Expired, NameMismatch };

// One reference of the corpus: where it is served, what it is, and what a run makes of it.
struct Ref {
    const char* key;  // {key} in the articles
    Host host;
    const char* path;  // with the query, as it stands in the article
    std::string body;
    const char* plainExt;  // the stored file's extension without the content check
    const char* checkExt;  // and with it
    Needs needs = Needs::Plain;
    Fate fate = Fate::Stored;
    const char* contentType = "application/octet-stream";
};

const std::string kPng = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR";
const std::string kJpeg = "\xFF\xD8\xFF\xE0\0\x10JFIF";
const std::string kGif = "GIF89a\x01\0\x01\0";
const std::string kWebP = std::string("RIFF\x24\0\0\0WEBPVP8 ", 16);

const std::vector<Ref>& Corpus() {
    static const std::vector<Ref> refs = {
        {"plain", Host::Http, "/plain.gif", kGif + "plain", "gif", "gif"},
        {"lazy", Host::Http, "/lazy.png", kPng + "lazy", "png", "png", Needs::Lazy},
        {"s320", Host::Http, "/s320.jpg", kJpeg + "320", "jpg", "jpg"},
        {"s640", Host::Http, "/s640.jpg", kJpeg + "640", "jpg", "jpg", Needs::Lazy},
        {"s960", Host::Http, "/s960.jpg", kJpeg + "960", "jpg", "jpg", Needs::Lazy},
        {"s1280", Host::Http, "/s1280.jpg", kJpeg + "1280", "jpg", "jpg", Needs::Lazy},
        {"p1", Host::Http, "/p1.webp", kWebP + "p1", "jpg", "webp", Needs::Lazy},
        {"p2", Host::Http, "/p2.jpg", kJpeg + "p2", "jpg", "jpg", Needs::Lazy},
        {"wxlazy", Host::Http, "/mmbiz_png/Ab/640?wx_fmt=png", kPng + "wxlazy", "jpg", "png"},
        {"wxbg", Host::Http, "/mmbiz_jpg/bg/640?wx_fmt=jpeg", kJpeg + "wxbg", "jpg", "jpg",
         Needs::Lazy},
        {"wxog", Host::Http, "/og.jpg", kJpeg + "wxog", "jpg", "jpg", Needs::Lazy},
        {"wxp1", Host::Http, "/wx1.webp", kWebP + "wxp1", "jpg", "webp", Needs::Lazy},
        {"wxp2", Host::Http, "/wx2.jpg", kJpeg + "wxp2", "jpg", "jpg", Needs::Lazy},
        {"hcover", Host::Http, "/hcover.png", kPng + "hcover", "png", "png", Needs::Markdown},
        {"hbody", Host::Http, "/hbody.png", kPng + "hbody", "png", "png", Needs::Markdown},
        {"hfig", Host::Http, "/hfig.jpg", kJpeg + "hfig", "jpg", "jpg", Needs::Markdown},
        {"hexo", Host::Http, "/hexo.gif", kGif + "hexo", "gif", "gif", Needs::Markdown},
        {"p2x", Host::Http, "/p2x.jpg", kJpeg + "p2x", "jpg", "jpg", Needs::Lazy},
        {"pic", Host::Http, "/pic.jpg", kJpeg + "pic", "jpg", "jpg"},
        {"wx", Host::Http, "/wx/640?wx_fmt=png&amp;tp=webp", kPng + "wx", "jpg", "png"},
        {"anim", Host::Http, "/anim.jpg", kGif + "anim", "jpg", "gif"},
        {"page", Host::Http, "/page.png", "<!DOCTYPE html><html><body>404</body></html>", "png",
         "png", Needs::Plain, Fate::NeverStored, "text/html; charset=utf-8"},
        {"text", Host::Http, "/text.png", "just some text", "png", "png", Needs::Plain,
         Fate::NotAnImage},
        {"sec", Host::Https, "/sec.png", kPng + "sec", "png", "png", Needs::Https},
        {"spaced", Host::Http, "/spaced.gif", kGif + "spaced", "gif", "gif", Needs::HtmlRules},
        {"md1", Host::Http, "/md1.png", kPng + "md1", "png", "png", Needs::Markdown},
        {"md2", Host::Http, "/md2.png", kPng + "md2", "png", "png", Needs::Markdown},
        {"md3", Host::Http, "/md3.png", kPng + "md3", "png", "png", Needs::Markdown},
        {"md4", Host::Http, "/md4.png", kPng + "md4", "png", "png", Needs::Markdown},
        {"mdraw", Host::Http, "/mdraw.gif", kGif + "mdraw", "gif", "gif"},
        {"slow", Host::Http, "/slow.png", kPng + "slow", "png", "png", Needs::Plain,
         Fate::TimesOut},
        {"unknown", Host::UnknownIssuer, "/bad1.png", kPng + "bad1", "png", "png", Needs::Https,
         Fate::NeverStored},
        {"expired", Host::Expired, "/bad2.png", kPng + "bad2", "png", "png", Needs::Https,
         Fate::NeverStored},
        {"mismatch", Host::NameMismatch, "/bad3.png", kPng + "bad3", "png", "png", Needs::Https,
         Fate::NeverStored},
        // Served by the trusted server as a redirect to an http address, which is refused.
        {"redirect", Host::Https, "/redir.png", "", "png", "png", Needs::Https, Fate::NeverStored},
    };
    return refs;
}

// The HTML article, as UTF-8; the GBK one is the same text in GBK. {rel} is the protocol-
// relative form of an https image.
const char kHtml[] =
    "<p>说明文字<img alt=\"图一\" src=\"{plain}\">中文</p>\n"
    "<p>懒加载<img class=\"lazy\" src=\"{lazyph}\" "
    "data-src=\"{lazy}\" alt=\"延迟\"></p>\n"
    "<p>响应式<img src=\"{s320}\" srcset=\"{s320set} 320w, {s640} 640w, {s960} 960w, {s1280} "
    "1280w\" sizes=\"100vw\" alt=\"四个\"></p>\n"
    "<picture><source srcset=\"{p1}\" type=\"image/webp\"><source srcset=\"{p2} 1x, {p2x} 2x\">"
    "<img src=\"{pic}\" alt=\"图片元素\"></picture>\n"
    "<p>微信<img src=\"{wx}\" alt=\"无扩展名\"></p>\n"
    "<p>动图<img src=\"{anim}\" alt=\"其实是GIF\"></p>\n"
    "<p>错误页<img src=\"{page}\">文本<img src=\"{text}\"></p>\n"
    "<p>安全<img src=\"{sec}\">协议相对<img src=\"{rel}\"></p>\n"
    "<p>网页规则<IMG\n  ALT = \"换行\"\n\tSRC = \"{spaced}\"\n></p>\n";

const char kMarkdown[] =
    "# 标题：图片\n\n"
    "正文![示意图]({md1})中文\n"
    "![带标题的图]({md2} \"图片标题\")\n"
    "![尖括号](<{md3}>)\n"
    "![引用图][Logo]\n\n"
    "原始标签<img alt=\"原始\" src=\"{mdraw}\">超时<img src=\"{slow}\">\n"
    "<img src=\"{unknown}\"><img src=\"{expired}\"><img src=\"{mismatch}\"><img "
    "src=\"{redirect}\">\n\n"
    "[logo]: {md4} \"定义的标题\"\n";

// A WeChat article as saved from the page, in UTF-8: the pictures wait in data-src behind an
// inline drawing, with a <noscript> copy; a background, the share picture, a <picture>.
const char kWechat[] =
    "<html><head><meta property=\"og:image\" content=\"{wxog}\"></head><body>\n"
    "<section style=\"background-image: url(&quot;{wxbg}&quot;);background-size:cover\">"
    "<p style=\"text-align:center\">公众号正文</p></section>\n"
    "<p><img class=\"rich_pages wxw-img\" data-ratio=\"0.75\" data-src=\"{wxlazyattr}\" "
    "data-type=\"png\" src=\"{wxph}\" style=\"width:100%\"></p>\n"
    "<noscript><img src=\"{wxlazy}\"></noscript>\n"
    "<picture><source srcset=\"{wxp1}\" type=\"image/webp\">"
    "<img src=\"{wxph2}\" data-src=\"{wxp2}\" alt=\"图\"></picture>\n</body></html>\n";

// A Hugo article that shows Markdown in its code: only the pictures outside it are re-hosted.
const char kHugo[] =
    "---\ntitle: \"示例\"\ncover: \"{hcover}\"\n---\n\n"
    "正文![图]({hbody})\n\n"
    "```markdown\n![代码里的图]({code})\n```\n\n"
    "行内 `![x]({code})` 代码\n\n"
    "{{< figure src=\"{hfig}\" title=\"图 > 说明\" >}}\n"
    "{% img center {hexo} 300 200 %}\n";

std::string Render(std::string text, const std::map<std::string, std::string>& values) {
    for (const auto& [key, value] : values) {
        const std::string mark = "{" + key + "}";
        for (std::size_t at = text.find(mark); at != std::string::npos;
             at = text.find(mark, at + value.size()))
            text.replace(at, mark.size(), value);
    }
    return text;
}

struct Case {
    const char* name;
    job::ExtensionOptions options;
};
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

job::ExtensionOptions With(void (*set)(job::ExtensionOptions&)) {
    job::ExtensionOptions o;
    set(o);
    return o;
}

class ExtensionRun : public testing::WindowRun, public ::testing::WithParamInterface<Case> {
  protected:
    // The component takes SSL_CERT_FILE first, then CURL_CA_BUNDLE; the machine may set both.
    static void SetUpTestSuite() {
        setenv("SSL_CERT_FILE", HttpsServer::CaFile().c_str(), 1);
        setenv("CURL_CA_BUNDLE", HttpsServer::CaFile().c_str(), 1);
    }

    ExtensionRun() {
        Reply slow = Reply::Ok(kPng + "slow", "image/png");
        slow.delay = std::chrono::milliseconds(2500);
        for (const Ref& ref : Corpus()) {
            const std::string path =
                std::string(ref.path).substr(0, std::string(ref.path).find('?'));
            if (ref.host == Host::Http)
                http.Set(path,
                         ref.fate == Fate::TimesOut ? slow : Reply::Ok(ref.body, ref.contentType));
            else if (ref.key != std::string("redirect"))
                Server(ref.host).Set(path, ref.body, ref.contentType);
        }
        trusted.Set("/rel.png", kPng + "rel", "image/png");
        trusted.Redirect("/redir.png", http.Url("/target.png"));
        http.Set("/target.png", Reply::Ok(kPng + "target", "image/png"));
        window.editBox(ui::EditBox::ArticleFilter)->setText(QStringLiteral("*.md|*.htm"));
        window.editBox(ui::EditBox::OldPrefix)->setText(QString());
        window.editBox(ui::EditBox::NewPrefix)->setText(QString());
    }

    HttpsServer& Server(Host host) {
        switch (host) {
            case Host::UnknownIssuer:
                return unknown;
            case Host::Expired:
                return expired;
            case Host::NameMismatch:
                return mismatch;
            default:
                return trusted;
        }
    }
    std::string Url(const Ref& ref) {
        return (ref.host == Host::Http ? http.BaseUrl() : Server(ref.host).BaseUrl()) + ref.path;
    }
    static bool Found(const Ref& ref, const job::ExtensionOptions& o) {
        switch (ref.needs) {
            case Needs::Plain:
                return true;
            case Needs::Https:
                return o.https;
            case Needs::Lazy:
                return o.lazyImages;
            case Needs::HtmlRules:  // the lazy option reads tags as HTML rules do
                return o.htmlRules || o.lazyImages;
            case Needs::Markdown:
                return o.markdown;
        }
        return false;
    }
    static bool Stored(const Ref& ref, const job::ExtensionOptions& o) {
        if (!Found(ref, o)) return false;
        switch (ref.fate) {
            case Fate::Stored:
                return true;
            case Fate::NeverStored:
                return false;
            case Fate::NotAnImage:
                return !o.checkContent;
            case Fate::TimesOut:
                return o.timeoutSeconds == 0;
        }
        return false;
    }
    static std::string FileName(const Ref& ref, const char* ext) {
        return "files/img/" + job::ContentName(ref.body) + "." + ext;
    }

    HttpServer http;
    HttpsServer trusted;
    HttpsServer unknown{ServerCertificate::UnknownIssuer};
    HttpsServer expired{ServerCertificate::Expired};
    HttpsServer mismatch{ServerCertificate::NameMismatch};
};

TEST_P(ExtensionRun, EveryArticleComesOutWithTheExpectedBytes) {
    const job::ExtensionOptions& o = GetParam().options;
    ASSERT_TRUE(http.started() && trusted.started() && unknown.started() && expired.started() &&
                mismatch.started());
    std::map<std::string, std::string> before, after;
    for (const Ref& ref : Corpus()) {
        const char* ext = o.checkContent ? ref.checkExt : ref.plainExt;
        before[ref.key] = Url(ref);
        after[ref.key] = Stored(ref, o) ? "/" + FileName(ref, ext) : Url(ref);
    }
    before["rel"] = trusted.BaseUrl().substr(6) + "/rel.png";  // "//127.0.0.1:<port>/rel.png"
    after["rel"] =
        o.https ? "/files/img/" + job::ContentName(kPng + "rel") + ".png" : before["rel"];

    // Lazy images show the stored picture in src too.
    before["lazyph"] = "data:image/gif;base64,R0lGODlhAQABAAAAACw=";
    after["lazyph"] = o.lazyImages ? after["lazy"] : before["lazyph"];
    before["wxph"] =
        "data:image/svg+xml,%3Csvg xmlns='http://www.w3.org/2000/svg' width='1px' "
        "height='1px'%3E%3C/svg%3E";
    after["wxph"] = o.lazyImages ? after["wxlazy"] : before["wxph"];
    before["wxph2"] = "/img/loading.gif";
    after["wxph2"] = o.lazyImages ? after["wxp2"] : before["wxph2"];
    before["code"] = after["code"] = http.Url("/code.png");
    // The src's address again in a srcset, which only the lazy option reads: rewritten there by
    // the rules that replace a stored address wherever it stands, kept by those that rewrite
    // where they read. A WeChat picture's data-src, whose address its <noscript> copy shows: the
    // plain rule reads its "src=" too, HTML rules alone do not read it.
    before["s320set"] = before["s320"];
    after["s320set"] = o.lazyImages || !job::RewritesWhereFound(o) ? after["s320"] : before["s320"];
    before["wxlazyattr"] = before["wxlazy"];
    after["wxlazyattr"] = o.lazyImages || !o.htmlRules ? after["wxlazy"] : before["wxlazy"];

    const std::string bom = "\xEF\xBB\xBF";
    dir.Write(text::GbkFromUtf8("文章/gbk.htm"), text::GbkFromUtf8(Render(kHtml, before)));
    dir.Write(text::GbkFromUtf8("文章/utf8.htm"), Render(kHtml, before));
    dir.Write(text::GbkFromUtf8("文章/bom.htm"), bom + Render(kHtml, before));
    dir.Write(text::GbkFromUtf8("文章/notes.md"), Render(kMarkdown, before));
    dir.Write(text::GbkFromUtf8("文章/skipped.txt"), Render(kHtml, before));
    dir.Write(text::GbkFromUtf8("文章/wechat.htm"), Render(kWechat, before));
    dir.Write(text::GbkFromUtf8("文章/hugo.md"), Render(kHugo, before));
    window.driver().SetOptions(o);
    testing::MessageBoxAnswerer answerer({QMessageBox::No});

    QTest::mouseClick(start, Qt::LeftButton);

    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_TRUE(answerer.texts[0].startsWith(QStringLiteral("处理完成。")))
        << answerer.texts[0].toStdString();
    EXPECT_EQ(ReadFileOrMissing(Result("gbk.htm")), text::GbkFromUtf8(Render(kHtml, after)));
    EXPECT_EQ(ReadFileOrMissing(Result("utf8.htm")), Render(kHtml, after));
    EXPECT_EQ(ReadFileOrMissing(Result("bom.htm")), bom + Render(kHtml, after));
    EXPECT_EQ(ReadFileOrMissing(Result("notes.md")), Render(kMarkdown, after));
    EXPECT_EQ(ReadFileOrMissing(Result("skipped.txt")), "<missing>");
    EXPECT_EQ(ReadFileOrMissing(Result("wechat.htm")), Render(kWechat, after));
    EXPECT_EQ(ReadFileOrMissing(Result("hugo.md")), Render(kHugo, after));
    EXPECT_TRUE(http.RequestsTo("/code.png").empty());

    // Stored images hold their bytes; nothing at all is stored for the others.
    for (const Ref& ref : Corpus()) {
        if (Stored(ref, o)) {
            const char* ext = o.checkContent ? ref.checkExt : ref.plainExt;
            EXPECT_EQ(ReadFileOrMissing(Result(FileName(ref, ext))), ref.body) << ref.key;
        } else {
            EXPECT_EQ(ReadFileOrMissing(Result(FileName(ref, ref.plainExt))), "<missing>")
                << ref.key;
            EXPECT_EQ(ReadFileOrMissing(Result(FileName(ref, ref.checkExt))), "<missing>")
                << ref.key;
        }
    }
    // A refused certificate ends before any request; an https-to-http redirect is not followed.
    EXPECT_TRUE(unknown.Requests().empty());
    EXPECT_TRUE(expired.Requests().empty());
    EXPECT_TRUE(mismatch.Requests().empty());
    EXPECT_TRUE(http.RequestsTo("/target.png").empty());
    // The address with &amp; is asked for as written, or decoded as a browser does.
    const std::vector<testing::RecordedRequest> wx = http.RequestsTo("/wx/640");
    ASSERT_EQ(wx.size(), 3u);  // once per HTML article
    for (const auto& request : wx)
        EXPECT_EQ(request.target, o.htmlRules || o.lazyImages ? "/wx/640?wx_fmt=png&tp=webp"
                                                              : "/wx/640?wx_fmt=png&amp;tp=webp");
    EXPECT_EQ(http.RequestsTo("/lazy.png").size(), o.lazyImages ? 3u : 0u);
    EXPECT_EQ(http.RequestsTo("/md1.png").size(), o.markdown ? 1u : 0u);
    EXPECT_EQ(trusted.Requests().empty(), !o.https);
}

const Case kCases[] = {
    {"EveryOptionOff", {}},
    {"Https", With([](job::ExtensionOptions& o) { o.https = true; })},
    {"LazyImages", With([](job::ExtensionOptions& o) { o.lazyImages = true; })},
    {"HtmlRules", With([](job::ExtensionOptions& o) { o.htmlRules = true; })},
    {"CheckContent", With([](job::ExtensionOptions& o) { o.checkContent = true; })},
    {"Markdown", With([](job::ExtensionOptions& o) { o.markdown = true; })},
    {"Timeout", With([](job::ExtensionOptions& o) { o.timeoutSeconds = 1; })},
    {"AllTogether", With([](job::ExtensionOptions& o) {
         o.https = o.lazyImages = o.htmlRules = o.checkContent = o.markdown = true;
         o.timeoutSeconds = 1;
     })},
    // Downloads at once come out byte for byte as one at a time.
    {"DownloadsAtOnce", With([](job::ExtensionOptions& o) { o.downloadsAtOnce = 4; })},
    {"AllTogetherAtOnce", With([](job::ExtensionOptions& o) {
         o.https = o.lazyImages = o.htmlRules = o.checkContent = o.markdown = true;
         o.timeoutSeconds = 1;
         o.downloadsAtOnce = 16;
     })},
};

INSTANTIATE_TEST_SUITE_P(Options, ExtensionRun, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zembrat::ui
