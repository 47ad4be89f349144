#include "job/tag_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "job/article_chars.h"
#include "job/html_tokenizer.h"

namespace zembrat::job::reading {
namespace {

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
void ReadSrcset(std::string_view article, std::size_t begin, std::size_t end, bool decode,
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
        if (stop > start) {
            out.push_back(decode
                              ? FoundDecoded(article, start, stop, encoding, ReferenceSyntax::Html)
                              : Found(article, start, stop));
        }
    }
}

// A value found at article[begin, end) for an attribute of that kind.
void AddValue(std::string_view article, std::size_t begin, std::size_t end, AttrKind kind,
              bool htmlRules, ArticleEncoding encoding, Sources& out) {
    if (kind == AttrKind::Srcset) {
        ReadSrcset(article, begin, end, htmlRules, encoding, out);
        return;
    }
    if (htmlRules) {
        while (begin < end && IsHtmlSpace(article[begin])) ++begin;
        while (end > begin && IsHtmlSpace(article[end - 1])) --end;
        if (end > begin)
            out.push_back(FoundDecoded(article, begin, end, encoding, ReferenceSyntax::Html));
    } else if (end > begin) {
        out.push_back(Found(article, begin, end));
    }
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

// A lazy image's real source (the lazy attribute's value) written into its src as well, so that
// the page shows it without its lazy-loading script: in place of a placeholder src, or put after
// the tag's name when it has no src. A real picture in src is left alone.
void ShowLazySource(std::string_view article, std::size_t nameEnd, const ValueSpan& src,
                    const ValueSpan& lazy, SourceEdits* edits) {
    if (!edits || !lazy.found || lazy.end <= lazy.begin) return;
    const std::string source(article.substr(lazy.begin, lazy.end - lazy.begin));
    if (!src.found) {
        const char quote = source.find('"') == std::string::npos ? '"' : '\'';
        edits->push_back({nameEnd, 0, std::string(" src=") + quote + source + quote, source});
        return;
    }
    if (!IsPlaceholderSrc(article.substr(src.begin, src.end - src.begin))) return;
    std::string text = source;
    if (!src.quoted && std::any_of(source.begin(), source.end(), [](char c) {
            return IsHtmlSpace(c) || c == '>' || c == '"' || c == '\'';
        }))
        text = '"' + source + '"';
    edits->push_back({src.begin, src.end - src.begin, std::move(text), source});
}

// The name of the tag at article[lt] ("<"), and where its attributes begin. Under the plain
// reading the name must be followed by one space; under HTML rules by white space, "/" or ">".
TagKind ReadTagName(std::string_view article, std::size_t lt, bool htmlRules, std::size_t& after) {
    std::size_t i = lt + 1;
    const bool closing = i < article.size() && article[i] == '/';
    if (closing) ++i;
    // Most "<" of an article begin other tags: one look at the first letter sends them away.
    if (i >= article.size()) return TagKind::Other;
    const char first = LowerAscii(article[i]);
    if (first != 'i' && first != 's' && first != 'p') return TagKind::Other;
    const std::size_t nameStart = i;
    while (i < article.size() && IsAsciiAlnum(article[i])) ++i;
    const std::size_t nameLength = i - nameStart;
    if (nameLength == 0 || nameLength > 7) return TagKind::Other;
    std::array<char, 8> lower{};
    for (std::size_t k = 0; k < nameLength; ++k) lower[k] = LowerAscii(article[nameStart + k]);
    const std::string_view name(lower.data(), nameLength);
    after = i;
    const char next = i < article.size() ? article[i] : '\0';
    const bool delimited = htmlRules ? (IsHtmlSpace(next) || next == '/' || next == '>')
                                     : (next == ' ' || (name == "picture" && next == '>'));
    if (!delimited && !(closing && next == '>')) return TagKind::Other;
    if (name == "picture") return closing ? TagKind::PictureClose : TagKind::PictureOpen;
    if (closing) return TagKind::Other;
    if (name == "img") return TagKind::Img;
    if (name == "source") return TagKind::Source;
    return TagKind::Other;
}

}  // namespace

bool KnownSources::Has(std::size_t offset, std::size_t length) {
    if (!known_) return false;
    while (next_ < known_->size() && (*known_)[next_].offset < offset) ++next_;
    return next_ < known_->size() && (*known_)[next_].offset == offset &&
           (*known_)[next_].text.size() == length;
}

namespace {

// The attributes of a tag read the plain way: "name=" right after a space, tab or quote,
// the value after an optional quote up to a quote, "<", ">" or space (a quoted srcset is read
// up to its closing quote); the tag ends at the first ">".
std::size_t ReadPlainAttributes(std::string_view article, std::size_t i, TagKind tag,
                                bool inPicture, KnownSources& known, Sources& out,
                                SourceEdits* edits) {
    const std::size_t n = article.size();
    const std::size_t end = std::min(n, article.find('>', i));
    ValueSpan src, lazySource;
    // i follows the tag name's space, so it begins a name as well.
    for (std::size_t at = i; at < end; ++at) {
        if (at != i) {
            const char before = article[at - 1];
            if (before != ' ' && before != '\t' && before != '"' && before != '\'') continue;
        }
        const char first = LowerAscii(article[at]);
        if (first != 'd' && first != 's') continue;
        // A name of at most 14 characters: the "=" is looked for no further, so a long run of
        // attributes without values is walked once.
        const std::size_t nameMax = std::min(end, at + 15);
        const void* eqHit = std::memchr(article.data() + at, '=', nameMax - at);
        if (!eqHit) continue;
        const std::size_t eq =
            static_cast<std::size_t>(static_cast<const char*>(eqHit) - article.data());
        std::string lowerName;
        for (std::size_t k = at; k < eq; ++k) lowerName += LowerAscii(article[k]);
        const AttrKind kind = AttributeKind(lowerName, tag, true, inPicture);
        if (kind == AttrKind::None) continue;
        std::size_t v = eq + 1;
        const char quote = v < n && (article[v] == '"' || article[v] == '\'') ? article[v] : '\0';
        if (quote) ++v;
        std::size_t w = v;
        if (kind == AttrKind::Srcset && quote) {
            w = article.find(quote, v);
            if (w == std::string_view::npos) break;
        } else {
            while (w < n && IsPlainValueByte(article[w])) ++w;
        }
        // The plain rule found most src values already; they are not made twice.
        if (kind == AttrKind::Srcset || !known.Has(v, w - v))
            AddValue(article, v, w, kind, false, ArticleEncoding::Utf8, out);
        if (kind == AttrKind::Src && !src.found) {
            // The whole value up to its closing quote: a drawing in a data: URI holds spaces.
            const std::size_t close = quote ? std::min(article.find(quote, v), n) : w;
            src = {true, quote != '\0', v, close};
        } else if (kind == AttrKind::Lazy && !lazySource.found) {
            lazySource = {true, quote != '\0', v, w};
        }
        at = w;
    }
    if (tag == TagKind::Img) ShowLazySource(article, i - 1, src, lazySource, edits);
    return end < n ? end + 1 : n;
}

}  // namespace

std::size_t TagReader::At(std::size_t lt, Sources& out) {
    std::size_t after = lt + 1;
    const TagKind kind = ReadTagName(article_, lt, htmlRules_, after);
    switch (kind) {
        case TagKind::PictureOpen:
            inPicture_ = true;
            break;
        case TagKind::PictureClose:
            inPicture_ = false;
            break;
        case TagKind::Img:
        case TagKind::Source:
            if (kind == TagKind::Source && !(lazy_ && inPicture_)) break;
            return ReadPlainAttributes(article_, after + 1, kind, inPicture_, known_, out, edits_);
        case TagKind::Other:
            break;
    }
    return lt + 1;
}

namespace {

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

// The sources of an <img> or a <source> in a <picture> as a browser's tokenizer read it.
void AddBrowserTag(std::string_view page, const HtmlTag& tag, bool lazy, bool inPicture,
                   ArticleEncoding encoding, Sources& out, SourceEdits* edits) {
    const TagKind kind = tag.Is("img") ? TagKind::Img : TagKind::Source;
    ValueSpan src, lazySource;
    for (const HtmlAttribute& a : tag.attributes) {
        if (!a.hasValue) continue;
        const AttrKind attr = AttributeKind(a.name, kind, lazy, inPicture);
        if (attr == AttrKind::None) continue;
        AddValue(page, a.valueBegin, a.valueEnd, attr, true, encoding, out);
        if (attr == AttrKind::Src) src = SpanOf(a, false, page);
        if (attr == AttrKind::Lazy && !lazySource.found) lazySource = SpanOf(a, true, page);
    }
    if (kind == TagKind::Img) ShowLazySource(page, tag.nameEnd, src, lazySource, edits);
}

}  // namespace

// "<" never occurs inside a two-byte character, so every "<" found begins a character.
void ReadTags(std::string_view article, bool htmlRules, bool lazy, ArticleEncoding encoding,
              Sources& out, ScanPace& pace, SourceEdits* edits) {
    if (htmlRules) {
        ReadTagsAsBrowser(article, lazy, encoding, out, pace, edits);
        return;
    }
    TagReader reader(article, false, lazy, encoding, nullptr, edits);
    for (std::size_t lt = NextLt(article, 0); lt < article.size() && pace.Passed(lt);
         lt = NextLt(article, reader.At(lt, out))) {
    }
}

}  // namespace zembrat::job::reading

namespace zembrat::job::reading {
namespace {

constexpr std::size_t kNotFound = std::string_view::npos;

std::string LowerTrimmed(std::string_view value) {
    while (!value.empty() && IsHtmlSpace(value.front())) value.remove_prefix(1);
    while (!value.empty() && IsHtmlSpace(value.back())) value.remove_suffix(1);
    std::string lower(value);
    for (char& c : lower) c = LowerAscii(c);
    return lower;
}

// A value at article[begin, end) as a source, without the white space around it.
void AddTrimmed(std::string_view article, std::size_t begin, std::size_t end, bool decode,
                ArticleEncoding encoding, Sources& out) {
    while (begin < end && IsHtmlSpace(article[begin])) ++begin;
    while (end > begin && IsHtmlSpace(article[end - 1])) --end;
    if (end <= begin) return;
    out.push_back(decode ? FoundDecoded(article, begin, end, encoding, ReferenceSyntax::Html)
                         : Found(article, begin, end));
}

// The url(...) values of a piece of style sheet at article[begin, end): quoted with " or ',
// quoted with &quot; or &#39; as a style attribute may have to, or bare.
void ReadStyleUrls(std::string_view article, std::size_t begin, std::size_t end, bool decode,
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
        AddTrimmed(article, v, w, decode, encoding, out);
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

struct PlaceTag {
    ValueSpan style, content, href;
    std::string property;  // meta: property or name, lower case
};

// The attributes of any tag as a browser reads them, from i; those a place needs are kept.
// Returns where the tag ends (after ">").
std::size_t ReadPlaceAttributes(std::string_view article, std::size_t i, PlaceTag& tag) {
    const std::size_t n = article.size();
    while (i < n) {
        while (i < n && (IsHtmlSpace(article[i]) || article[i] == '/')) ++i;
        if (i >= n) break;
        if (article[i] == '>') return i + 1;
        const std::size_t nameStart = i++;
        while (i < n && !IsHtmlSpace(article[i]) && article[i] != '/' && article[i] != '>' &&
               article[i] != '=')
            ++i;
        const std::size_t nameEnd = i;
        std::size_t j = i;
        while (j < n && IsHtmlSpace(article[j])) ++j;
        if (j >= n || article[j] != '=') continue;
        ++j;
        while (j < n && IsHtmlSpace(article[j])) ++j;
        if (j >= n) break;
        ValueSpan value{true, article[j] == '"' || article[j] == '\'', j, j};
        if (value.quoted) {
            value.begin = j + 1;
            value.end = article.find(article[j], value.begin);
            if (value.end == kNotFound) return n;
            i = value.end + 1;
        } else {
            while (j < n && !IsHtmlSpace(article[j]) && article[j] != '>') ++j;
            value.end = i = j;
        }
        if (nameEnd - nameStart > 8) continue;
        const std::string name = LowerTrimmed(article.substr(nameStart, nameEnd - nameStart));
        ValueSpan* keep = name == "style"     ? &tag.style
                          : name == "content" ? &tag.content
                          : name == "href"    ? &tag.href
                                              : nullptr;
        if (keep && !keep->found) *keep = value;
        if ((name == "property" || name == "name") && tag.property.empty())
            tag.property = LowerTrimmed(article.substr(value.begin, value.end - value.begin));
    }
    return n;
}

// Where the style sheet that begins at from ends: at its "</style", or the article's end.
std::size_t StyleSheetEnd(std::string_view article, std::size_t from) {
    for (std::size_t lt = NextLt(article, from); lt < article.size();
         lt = NextLt(article, lt + 1)) {
        if (HasNoCase(article, lt, "</style")) return lt;
    }
    return article.size();
}

// The places a tag read by a browser's tokenizer holds (HTML rules, lazy option).
void AddBrowserPlaces(std::string_view page, const HtmlTag& tag, NextTag& nextImg,
                      NextTag& nextClose, ArticleEncoding encoding, Sources& out) {
    if (const HtmlAttribute* style = tag.Find("style"); style && style->hasValue)
        ReadStyleUrls(page, style->valueBegin, style->valueEnd, true, encoding, out);
    if (tag.Is("style")) ReadStyleUrls(page, tag.end, tag.contentEnd, true, encoding, out);
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
            AddTrimmed(page, content->valueBegin, content->valueEnd, true, encoding, out);
    }
    const HtmlAttribute* href = tag.Is("a") ? tag.Find("href") : nullptr;
    if (href && href->hasValue &&
        NamesAPicture(page.substr(href->valueBegin, href->valueEnd - href->valueBegin)) &&
        nextImg.From(tag.end) < nextClose.From(tag.end))
        AddTrimmed(page, href->valueBegin, href->valueEnd, true, encoding, out);
}

}  // namespace

void ReadPlaces(std::string_view article, ArticleEncoding encoding, Sources& out, ScanPace& pace) {
    constexpr bool decode = false;  // the plain reading; HTML rules read places as a browser
    const std::size_t n = article.size();
    const std::size_t first = out.size();
    NextTag nextImg(article, "<img"), nextClose(article, "</a");
    for (std::size_t lt = NextLt(article, 0); lt < n && pace.Passed(lt);) {
        std::size_t i = lt + 1;
        const std::size_t nameStart = i;
        while (i < n && IsAsciiAlnum(article[i])) ++i;
        const bool named = i > nameStart && (i >= n || IsHtmlSpace(article[i]) ||
                                             article[i] == '/' || article[i] == '>');
        if (!named) {
            lt = NextLt(article, lt + 1);
            continue;
        }
        const std::string name =
            i - nameStart <= 5 ? LowerTrimmed(article.substr(nameStart, i - nameStart)) : "";
        PlaceTag tag;
        std::size_t end = ReadPlaceAttributes(article, i, tag);
        if (tag.style.found)
            ReadStyleUrls(article, tag.style.begin, tag.style.end, decode, encoding, out);
        if (name == "meta" && tag.content.found &&
            (tag.property == "og:image" || tag.property == "twitter:image"))
            AddTrimmed(article, tag.content.begin, tag.content.end, decode, encoding, out);
        if (name == "a" && tag.href.found &&
            NamesAPicture(article.substr(tag.href.begin, tag.href.end - tag.href.begin)) &&
            nextImg.From(end) < nextClose.From(end))
            AddTrimmed(article, tag.href.begin, tag.href.end, decode, encoding, out);
        if (name == "style") {
            const std::size_t close = StyleSheetEnd(article, end);
            ReadStyleUrls(article, end, close, decode, encoding, out);
            end = close;
        }
        lt = NextLt(article, end);
    }
    SortRuns(out, first, ByOffset);
}

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
