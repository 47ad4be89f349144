#include "job/tag_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "job/article_chars.h"

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
            out.push_back(decode ? FoundDecoded(article, start, stop, encoding, false)
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
        if (end > begin) out.push_back(FoundDecoded(article, begin, end, encoding, false));
    } else if (end > begin) {
        out.push_back(Found(article, begin, end));
    }
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

// The attributes of a tag under HTML rules, from i; returns where the tag ends (after ">").
std::size_t ReadHtmlAttributes(std::string_view article, std::size_t i, TagKind tag, bool lazy,
                               bool inPicture, ArticleEncoding encoding, Sources& out) {
    const std::size_t n = article.size();
    std::array<bool, 8> seen{};  // by kind and name, so that a repeated attribute is ignored
    auto seenSlot = [](std::string_view lowerName) -> std::size_t {
        static const std::array<std::string_view, 7> names{
            "src",    "data-src",   "data-original", "data-lazy-src", "data-actualsrc",
            "srcset", "data-srcset"};
        for (std::size_t k = 0; k < names.size(); ++k) {
            if (names[k] == lowerName) return k;
        }
        return 7;
    };
    std::string lowerName;
    while (i < n) {
        while (i < n && (IsHtmlSpace(article[i]) || article[i] == '/')) ++i;
        if (i >= n) break;
        if (article[i] == '>') return i + 1;
        const std::size_t nameStart = i;
        ++i;  // a name may begin with "="
        while (i < n && !IsHtmlSpace(article[i]) && article[i] != '/' && article[i] != '>' &&
               article[i] != '=')
            ++i;
        lowerName.clear();
        if (i - nameStart <= 16) {
            for (std::size_t k = nameStart; k < i; ++k) lowerName += LowerAscii(article[k]);
        }
        std::size_t j = i;
        while (j < n && IsHtmlSpace(article[j])) ++j;
        if (j >= n || article[j] != '=') continue;  // an attribute without a value
        ++j;
        while (j < n && IsHtmlSpace(article[j])) ++j;
        if (j >= n) break;
        std::size_t valueStart, valueEnd;
        if (article[j] == '"' || article[j] == '\'') {
            valueStart = j + 1;
            valueEnd = article.find(article[j], valueStart);
            if (valueEnd == std::string_view::npos) return n;  // an unclosed tag holds nothing
            i = valueEnd + 1;
        } else {
            valueStart = j;
            while (j < n && !IsHtmlSpace(article[j]) && article[j] != '>') ++j;
            valueEnd = j;
            i = j;
        }
        const AttrKind kind = AttributeKind(lowerName, tag, lazy, inPicture);
        if (kind == AttrKind::None) continue;
        const std::size_t slot = seenSlot(lowerName);
        if (seen[slot]) continue;
        seen[slot] = true;
        AddValue(article, valueStart, valueEnd, kind, true, encoding, out);
    }
    return n;
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
                                bool inPicture, KnownSources& known, Sources& out) {
    const std::size_t n = article.size();
    const std::size_t end = std::min(n, article.find('>', i));
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
        at = w;
    }
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
            return htmlRules_
                       ? ReadHtmlAttributes(article_, after, kind, lazy_, inPicture_, encoding_,
                                            out)
                       : ReadPlainAttributes(article_, after + 1, kind, inPicture_, known_, out);
        case TagKind::Other:
            break;
    }
    return lt + 1;
}

// "<" never occurs inside a two-byte character, so every "<" found begins a character.
void ReadTags(std::string_view article, bool htmlRules, bool lazy, ArticleEncoding encoding,
              Sources& out, ScanPace& pace) {
    TagReader reader(article, htmlRules, lazy, encoding, nullptr);
    for (std::size_t lt = NextLt(article, 0); lt < article.size() && pace.Passed(lt);
         lt = NextLt(article, reader.At(lt, out))) {
    }
}

}  // namespace zembrat::job::reading
