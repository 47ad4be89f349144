#include "job/tag_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "job/article_chars.h"
#include "job/html_tokenizer.h"

namespace zembrat::job::reading {
namespace {

enum class TagKind { Img, Source };
enum class AttrKind { None, Src, Lazy, Srcset };

AttrKind AttributeKind(std::string_view lowerName, TagKind tag, bool lazy, bool inPicture) {
    if (tag == TagKind::Img) {
        if (lowerName == "src") return AttrKind::Src;
        if (!lazy) return AttrKind::None;
        if (lowerName == "srcset" || lowerName == "data-srcset") return AttrKind::Srcset;
        if (lowerName == "data-src" || lowerName == "data-original" ||
            lowerName == "data-lazy-src" || lowerName == "data-actualsrc")
            return AttrKind::Lazy;
    } else if (tag == TagKind::Source && lazy && inPicture && lowerName == "srcset") {
        return AttrKind::Srcset;
    }
    return AttrKind::None;
}

// The candidates of a srcset value that stands at article[begin, end): each address, without
// its descriptor.
void ReadSrcset(std::string_view article, std::size_t begin, std::size_t end,
                ArticleEncoding encoding, Sources& out) {
    std::size_t i = begin;
    while (i < end) {
        while (i < end && (IsHtmlSpace(article[i]) || article[i] == ',')) ++i;
        if (i >= end) break;
        const std::size_t start = i;
        while (i < end && !IsHtmlSpace(article[i])) ++i;
        std::size_t stop = i;
        if (article[stop - 1] == ',') {
            while (stop > start && article[stop - 1] == ',') --stop;
        } else {
            int depth = 0;
            while (i < end && (article[i] != ',' || depth > 0)) {
                if (article[i] == '(')
                    ++depth;
                else if (article[i] == ')' && depth > 0)
                    --depth;
                ++i;
            }
        }
        if (stop > start)
            out.push_back(FoundDecoded(article, start, stop, encoding, ReferenceSyntax::Html));
    }
}

// A value at article[begin, end) as a source, without the white space around it.
void AddTrimmed(std::string_view article, std::size_t begin, std::size_t end,
                ArticleEncoding encoding, Sources& out) {
    while (begin < end && IsHtmlSpace(article[begin])) ++begin;
    while (end > begin && IsHtmlSpace(article[end - 1])) --end;
    if (end <= begin) return;
    out.push_back(FoundDecoded(article, begin, end, encoding, ReferenceSyntax::Html));
}

// Where an attribute's value stands: [begin, end), and whether it is quoted.
struct ValueSpan {
    bool found = false;
    bool quoted = false;
    std::size_t begin = 0, end = 0;
};

// The file names of the pictures pages show until their lazy-loading script puts the real one
// in: tiny or blank images.
bool IsPlaceholderName(std::string_view lowerName) {
    static const std::array<std::string_view, 14> stems{
        "loading", "lazy",  "lazyload", "grey",  "gray", "blank",       "pixel",
        "spacer",  "empty", "1x1",      "clear", "dot",  "transparent", "placeholder"};
    const std::size_t dot = lowerName.rfind('.');
    if (dot == std::string_view::npos) return false;
    const std::string_view ext = lowerName.substr(dot + 1);
    if (ext != "gif" && ext != "png" && ext != "svg" && ext != "webp") return false;
    return std::find(stems.begin(), stems.end(), lowerName.substr(0, dot)) != stems.end();
}

// A src that shows no real picture: empty, a data: URI (an inline 1-pixel image or drawing),
// or one of the placeholder pictures.
bool IsPlaceholderSrc(std::string_view value) {
    while (!value.empty() && IsHtmlSpace(value.front())) value.remove_prefix(1);
    while (!value.empty() && IsHtmlSpace(value.back())) value.remove_suffix(1);
    if (value.empty() || HasNoCase(value, 0, "data:") || HasNoCase(value, 0, "about:blank"))
        return true;
    const std::size_t cut = value.find_first_of("?#");
    value = value.substr(0, cut);
    const std::size_t slash = value.rfind('/');
    std::string name(value.substr(slash == std::string_view::npos ? 0 : slash + 1));
    for (char& c : name) c = LowerAscii(c);
    return IsPlaceholderName(name);
}

// True when the lazy source (the lazy attribute's value) takes the place of the src: the src
// holds a placeholder, or there is none. The page shows the lazy source once its script runs;
// the src is not fetched.
bool ReplacesSrc(std::string_view article, const ValueSpan& src, const ValueSpan& lazy) {
    if (!lazy.found || lazy.end <= lazy.begin) return false;
    return !src.found || IsPlaceholderSrc(article.substr(src.begin, src.end - src.begin));
}

// A lazy image's real source written into its src as well (ReplacesSrc), so that the page shows
// it without its lazy-loading script: in place of the placeholder, or put after the tag's name
// when it has no src.
void ShowLazySource(std::string_view article, std::size_t nameEnd, const ValueSpan& src,
                    const ValueSpan& lazy, SourceEdits& edits) {
    const std::string source(article.substr(lazy.begin, lazy.end - lazy.begin));
    if (!src.found) {
        const char quote = source.find('"') == std::string::npos ? '"' : '\'';
        edits.push_back({nameEnd, 0, std::string(" src=") + quote + source + quote, source});
        return;
    }
    std::string text = source;
    if (!src.quoted && std::any_of(source.begin(), source.end(), [](char c) {
            return IsHtmlSpace(c) || c == '>' || c == '"' || c == '\'';
        }))
        text = '"' + source + '"';
    edits.push_back({src.begin, src.end - src.begin, std::move(text), source});
}

// The attribute names the tags are read for under HTML rules.
constexpr std::array<std::string_view, 12> kBrowserAttributes{
    "src",         "data-src", "data-original", "data-lazy-src", "data-actualsrc", "srcset",
    "data-srcset", "style",    "content",       "href",          "property",       "name"};

ValueSpan SpanOf(const HtmlAttribute& a, bool trimmed, std::string_view page) {
    std::size_t b = a.valueBegin, e = a.valueEnd;
    if (trimmed) {
        while (b < e && IsHtmlSpace(page[b])) ++b;
        while (e > b && IsHtmlSpace(page[e - 1])) --e;
    }
    return {true, a.quoted, b, e};
}

// The sources of an <img> or a <source> in a <picture> as a browser's tokenizer read it. A src
// whose place the lazy source takes is left out.
void AddBrowserTag(std::string_view page, const HtmlTag& tag, bool lazy, bool inPicture,
                   ArticleEncoding encoding, Sources& out, SourceEdits* edits) {
    const TagKind kind = tag.Is("img") ? TagKind::Img : TagKind::Source;
    ValueSpan src, lazySource;
    for (const HtmlAttribute& a : tag.attributes) {
        if (!a.hasValue) continue;
        const AttrKind attr = AttributeKind(a.name, kind, lazy, inPicture);
        if (attr == AttrKind::Src) src = SpanOf(a, false, page);
        if (attr == AttrKind::Lazy && !lazySource.found) lazySource = SpanOf(a, true, page);
    }
    const bool replaced = kind == TagKind::Img && ReplacesSrc(page, src, lazySource);
    for (const HtmlAttribute& a : tag.attributes) {
        if (!a.hasValue) continue;
        const AttrKind attr = AttributeKind(a.name, kind, lazy, inPicture);
        if (attr == AttrKind::Srcset) {
            ReadSrcset(page, a.valueBegin, a.valueEnd, encoding, out);
        } else if (attr != AttrKind::None && !(attr == AttrKind::Src && replaced)) {
            AddTrimmed(page, a.valueBegin, a.valueEnd, encoding, out);
        }
    }
    if (replaced && edits) ShowLazySource(page, tag.nameEnd, src, lazySource, *edits);
}

constexpr std::size_t kNotFound = std::string_view::npos;

std::string LowerTrimmed(std::string_view value) {
    while (!value.empty() && IsHtmlSpace(value.front())) value.remove_prefix(1);
    while (!value.empty() && IsHtmlSpace(value.back())) value.remove_suffix(1);
    std::string lower(value);
    for (char& c : lower) c = LowerAscii(c);
    return lower;
}

// The url(...) values of a piece of style sheet at article[begin, end): quoted with " or ',
// quoted with &quot; or &#39; as a style attribute may have to, or bare.
void ReadStyleUrls(std::string_view article, std::size_t begin, std::size_t end,
                   ArticleEncoding encoding, Sources& out) {
    static const std::array<std::string_view, 5> quotes{"\"", "'", "&quot;", "&#39;", "&#34;"};
    const std::string_view piece = article.substr(0, end);
    for (std::size_t i = begin; i < end;) {
        const std::size_t paren = piece.find('(', i);
        if (paren == kNotFound) return;
        i = paren + 1;
        if (paren < begin + 3 || !HasNoCase(piece, paren - 3, "url")) continue;
        std::size_t v = i;
        while (v < end && IsHtmlSpace(piece[v])) ++v;
        std::string_view quote;
        for (const std::string_view q : quotes) {
            if (piece.substr(v).starts_with(q)) {
                quote = q;
                break;
            }
        }
        std::size_t w;
        if (!quote.empty()) {
            v += quote.size();
            w = piece.find(quote, v);
            // Every later url( with this quote would look just as far in vain.
            if (w == kNotFound) return;
            i = w + quote.size();
        } else {
            w = v;
            while (w < end && piece[w] != ')' && !IsHtmlSpace(piece[w]) && piece[w] != '"' &&
                   piece[w] != '\'')
                ++w;
            i = w;
        }
        AddTrimmed(article, v, w, encoding, out);
    }
}

// The first position at or after from where a tag of that name begins ("<img", "</a"), found
// for positions that only grow, so that every such search walks the article once.
class NextTag {
  public:
    NextTag(std::string_view article, std::string_view start) : s_(article), start_(start) {}
    std::size_t From(std::size_t from) {
        if (found_ && at_ >= from) return at_;
        found_ = true;
        for (at_ = NextLt(s_, from); at_ < s_.size(); at_ = NextLt(s_, at_ + 1)) {
            if (!HasNoCase(s_, at_, start_)) continue;
            const std::size_t after = at_ + start_.size();
            if (after >= s_.size() || IsHtmlSpace(s_[after]) || s_[after] == '>' ||
                s_[after] == '/')
                break;
        }
        return at_;
    }

  private:
    std::string_view s_, start_;
    bool found_ = false;
    std::size_t at_ = 0;
};

// The places a tag read by a browser's tokenizer holds (lazy option).
void AddBrowserPlaces(std::string_view page, const HtmlTag& tag, NextTag& nextImg,
                      NextTag& nextClose, ArticleEncoding encoding, Sources& out) {
    if (const HtmlAttribute* style = tag.Find("style"); style && style->hasValue)
        ReadStyleUrls(page, style->valueBegin, style->valueEnd, encoding, out);
    if (tag.Is("style")) ReadStyleUrls(page, tag.end, tag.contentEnd, encoding, out);
    if (tag.Is("meta")) {
        const HtmlAttribute* content = tag.Find("content");
        std::string property;
        for (const HtmlAttribute& a : tag.attributes) {
            if (a.Is("property") || a.Is("name")) {
                property = LowerTrimmed(page.substr(a.valueBegin, a.valueEnd - a.valueBegin));
                break;
            }
        }
        if (content && content->hasValue && (property == "og:image" || property == "twitter:image"))
            AddTrimmed(page, content->valueBegin, content->valueEnd, encoding, out);
    }
    const HtmlAttribute* href = tag.Is("a") ? tag.Find("href") : nullptr;
    if (href && href->hasValue &&
        NamesAPicture(page.substr(href->valueBegin, href->valueEnd - href->valueBegin)) &&
        nextImg.From(tag.end) < nextClose.From(tag.end))
        AddTrimmed(page, href->valueBegin, href->valueEnd, encoding, out);
}

}  // namespace

void ReadTagsAsBrowser(std::string_view page, bool lazy, ArticleEncoding encoding, Sources& out,
                       ScanPace& pace, SourceEdits* edits) {
    HtmlTokenizer tokenizer(page, kBrowserAttributes);
    NextTag nextImg(page, "<img"), nextClose(page, "</a");
    HtmlTag tag;
    bool inPicture = false;
    const std::size_t first = out.size();
    while (pace.Passed(tokenizer.position()) && tokenizer.Next(tag)) {
        if (tag.inert) continue;
        if (lazy && !tag.closing) AddBrowserPlaces(page, tag, nextImg, nextClose, encoding, out);
        if (tag.Is("picture")) {
            inPicture = !tag.closing;
        } else if (!tag.closing && (tag.Is("img") || (tag.Is("source") && lazy && inPicture))) {
            AddBrowserTag(page, tag, lazy, inPicture, encoding, out, edits);
        }
    }
    SortRuns(out, first, ByOffset);
}

}  // namespace zembrat::job::reading
