#include "job/commonmark_reader.h"

#include <algorithm>
#include <clocale>
#include <cstring>
#include <cwctype>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include <locale.h>

#include "job/article_chars.h"

namespace zembrat::job::reading {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr int kTabStop = 4;
constexpr std::size_t kMaxLabel = 1000;
constexpr int kMaxParens = 32;
constexpr std::size_t kMaxBackticks = 1000;

bool SpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}
bool CmarkSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool AsciiPunct(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 33 && u <= 47) || (u >= 58 && u <= 64) || (u >= 91 && u <= 96) ||
           (u >= 123 && u <= 126);
}
bool Alpha(char c) {
    const char l = LowerAscii(c);
    return l >= 'a' && l <= 'z';
}

// ---- labels ----------------------------------------------------------------------------------

locale_t Utf8Locale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return locale;
}

// The code point of the UTF-8 sequence at s[i] and its length; a byte that begins none stands
// for itself.
std::pair<char32_t, std::size_t> DecodeUtf8(std::string_view s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    const std::size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    if (n == 1 || i + n > s.size()) return {b, 1};
    char32_t cp = b & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return {b, 1};
        cp = (cp << 6) | (c & 0x3F);
    }
    return {cp, n};
}

// A label as references are matched: case folded, runs of white space made one space, trimmed.
std::string NormalizedLabel(std::string_view label, ArticleEncoding encoding) {
    std::string key;
    bool space = false;
    for (std::size_t i = 0; i < label.size();) {
        const char c = label[i];
        if (CmarkSpace(c)) {
            space = true;
            ++i;
            continue;
        }
        if (space && !key.empty()) key += ' ';
        space = false;
        if (static_cast<unsigned char>(c) < 0x80) {
            key += LowerAscii(c);
            ++i;
        } else if (encoding == ArticleEncoding::Gbk) {
            const std::size_t n = Step(label, i, encoding);
            key.append(label.substr(i, n));
            i += n;
        } else {
            const auto [cp, n] = DecodeUtf8(label, i);
            i += n;
            if (cp == 0xDF || cp == 0x1E9E) {
                key += "ss";
            } else if (const locale_t locale = Utf8Locale(); locale && cp > 0x7F) {
                key += Utf8Of(static_cast<char32_t>(
                    towlower_l(towupper_l(static_cast<wint_t>(cp), locale), locale)));
            } else {
                key += Utf8Of(cp);
            }
        }
    }
    return key;
}

// ---- scanners shared by blocks and inlines ---------------------------------------------------

// Positions searched for from positions that only grow: each search walks the text once.
class ForwardFind {
  public:
    explicit ForwardFind(std::string_view needle) : needle_(needle) {}
    std::size_t From(std::string_view s, std::size_t from) {
        if (!known_ || (at_ != kNone && at_ < from)) {
            known_ = true;
            at_ = s.find(needle_, from);
        }
        return at_;
    }

  private:
    std::string_view needle_;
    std::size_t at_ = kNone;
    bool known_ = false;
};

// An open tag ("<name attr=...>") or closing tag at x[i] ("<"), as CommonMark defines raw HTML;
// its length, 0 when none.
std::size_t ScanHtmlTag(std::string_view x, std::size_t i) {
    const std::size_t n = x.size();
    std::size_t k = i + 1;
    const bool closing = k < n && x[k] == '/';
    if (closing) ++k;
    if (k >= n || !Alpha(x[k])) return 0;
    while (k < n && (IsAsciiAlnum(x[k]) || x[k] == '-')) ++k;
    if (closing) {
        while (k < n && CmarkSpace(x[k])) ++k;
        return k < n && x[k] == '>' ? k + 1 - i : 0;
    }
    while (true) {
        const std::size_t spaces = k;
        while (k < n && CmarkSpace(x[k])) ++k;
        if (k >= n) return 0;
        if (x[k] == '>') return k + 1 - i;
        if (x[k] == '/') return k + 1 < n && x[k + 1] == '>' ? k + 2 - i : 0;
        const char c = x[k];
        if (k == spaces || !(Alpha(c) || c == '_' || c == ':')) return 0;
        while (k < n &&
               (IsAsciiAlnum(x[k]) || x[k] == '_' || x[k] == '.' || x[k] == ':' || x[k] == '-'))
            ++k;
        std::size_t v = k;
        while (v < n && CmarkSpace(x[v])) ++v;
        if (v >= n || x[v] != '=') continue;
        ++v;
        while (v < n && CmarkSpace(x[v])) ++v;
        if (v >= n) return 0;
        if (x[v] == '"' || x[v] == '\'') {
            const void* close = std::memchr(x.data() + v + 1, x[v], n - v - 1);
            if (!close) return 0;
            k = static_cast<std::size_t>(static_cast<const char*>(close) - x.data()) + 1;
        } else {
            const std::size_t start = v;
            while (v < n && !CmarkSpace(x[v]) && !std::strchr("\"'=<>`", x[v]) && x[v] != '\0') ++v;
            if (v == start) return 0;
            k = v;
        }
    }
}

// ---- content: the text of a paragraph or heading, with where each piece stands ---------------

struct Segment {
    std::size_t contentAt, articleAt, length;
};

struct Content {
    std::string text;  // the lines (their syntax bytes), each followed by "\n"
    std::vector<Segment> segments;

    void AddLine(std::string_view syntax, std::size_t begin, std::size_t end) {
        segments.push_back({text.size(), begin, end - begin});
        text.append(syntax.substr(begin, end - begin));
        text += '\n';
    }
    const Segment& SegmentOf(std::size_t c) const {
        std::size_t lo = 0, hi = segments.size();
        while (hi - lo > 1) {
            const std::size_t mid = (lo + hi) / 2;
            if (segments[mid].contentAt <= c)
                lo = mid;
            else
                hi = mid;
        }
        return segments[lo];
    }
    std::size_t ArticleAt(std::size_t c) const {
        const Segment& s = SegmentOf(c);
        return s.articleAt + std::min(c - s.contentAt, s.length);
    }
    // The article's pieces that make content[b, e), line breaks left out.
    void Pieces(std::size_t b, std::size_t e, Ranges& out) const {
        while (b < e) {
            const Segment& s = SegmentOf(b);
            const std::size_t off = b - s.contentAt;
            const std::size_t stop = std::min(e - s.contentAt, s.length);
            if (stop > off) out.emplace_back(s.articleAt + off, s.articleAt + stop);
            b = s.contentAt + s.length + 1;
        }
    }
    // content[b, e) in the article's own bytes, line breaks as "\n".
    std::string Original(std::string_view article, std::size_t b, std::size_t e) const {
        std::string out;
        while (b < e) {
            const Segment& s = SegmentOf(b);
            const std::size_t off = b - s.contentAt;
            const std::size_t stop = std::min(e - s.contentAt, s.length);
            if (stop > off) out.append(article.substr(s.articleAt + off, stop - off));
            if (e > s.contentAt + s.length) out += '\n';
            b = s.contentAt + s.length + 1;
        }
        return out;
    }
};

// A destination and a title after it, as links and definitions have them.
struct Destination {
    std::size_t begin = 0, end = 0;  // the destination's text, without "<" and ">"
    std::size_t after = 0;           // where what follows it begins
};

// A destination at x[i]: "<...>" (no line break or "<" inside) or a run without white space or
// control characters, its parentheses balanced (at most 32 deep). bareMayBeEmpty: an empty run
// is taken (an inline link's "()").
bool ScanDestination(std::string_view x, std::size_t i, bool bareMayBeEmpty, Destination& d) {
    const std::size_t n = x.size();
    if (i < n && x[i] == '<') {
        for (std::size_t k = i + 1; k < n;) {
            if (x[k] == '>') {
                d = {i + 1, k, k + 1};
                return true;
            }
            if (x[k] == '\\') {
                k += 2;
            } else if (x[k] == '\n' || x[k] == '<') {
                return false;
            } else {
                ++k;
            }
        }
        return false;
    }
    int depth = 0;
    std::size_t k = i;
    while (k < n) {
        const char c = x[k];
        if (c == '\\' && k + 1 < n && AsciiPunct(x[k + 1])) {
            k += 2;
        } else if (c == '(') {
            if (++depth > kMaxParens) return false;
            ++k;
        } else if (c == ')') {
            if (depth == 0) break;
            --depth;
            ++k;
        } else if (CmarkSpace(c) || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            if (k == i) return false;
            break;
        } else {
            ++k;
        }
    }
    if (k >= n || depth != 0) return false;
    if (k == i && !bareMayBeEmpty) return false;
    d = {i, k, k};
    return true;
}

// A title at x[i] ("...", '...' or (...)); its length, 0 when none.
std::size_t ScanTitle(std::string_view x, std::size_t i) {
    const std::size_t n = x.size();
    if (i >= n) return 0;
    const char open = x[i];
    const char close = open == '(' ? ')' : open;
    if (open != '"' && open != '\'' && open != '(') return 0;
    for (std::size_t k = i + 1; k < n;) {
        const char c = x[k];
        if (c == '\\' && k + 1 < n && AsciiPunct(x[k + 1])) {
            k += 2;
            continue;
        }
        if (c == close) return k + 1 - i;
        if (open == '(' && c == '(') return 0;
        ++k;
    }
    return 0;
}

std::size_t SkipCmarkSpace(std::string_view x, std::size_t i) {
    while (i < x.size() && CmarkSpace(x[i])) ++i;
    return i;
}

// A link label at x[i] ("["): no unescaped "[" inside, at most 1000 characters; the inside
// (trimmed) and where it ends.
bool ScanLabel(std::string_view x, std::size_t i, std::size_t& b, std::size_t& e,
               std::size_t& after) {
    const std::size_t n = x.size();
    if (i >= n || x[i] != '[') return false;
    std::size_t k = i + 1, length = 0;
    while (k < n && x[k] != '[' && x[k] != ']') {
        if (x[k] == '\\') {
            ++k;
            ++length;
            if (k < n && AsciiPunct(x[k])) {
                ++k;
                ++length;
            }
        } else {
            ++k;
            ++length;
        }
        if (length > kMaxLabel) return false;
    }
    if (k >= n || x[k] != ']') return false;
    b = i + 1;
    e = k;
    while (b < e && CmarkSpace(x[b])) ++b;
    while (e > b && CmarkSpace(x[e - 1])) --e;
    after = k + 1;
    return true;
}

// ---- the reading -----------------------------------------------------------------------------

struct Definition {
    std::size_t begin = 0, end = 0;  // the destination in the article
    bool used = false;
};

enum class Block { Document, Quote, Item, Paragraph, Heading, Fenced, Indented, Html, Break };

struct OpenBlock {
    Block type = Block::Document;
    int markerOffset = 0, padding = 0;  // a list item's
    bool hasChild = false;              // a list item's
    char fence = 0;                     // a fenced code block's
    std::size_t fenceLength = 0;
    int fenceOffset = 0;
    int htmlKind = 0;             // an HTML block's (1..7)
    std::size_t content = kNone;  // a paragraph's or heading's, in contents_
};

bool AcceptsLines(Block b) {
    return b == Block::Paragraph || b == Block::Heading || b == Block::Fenced ||
           b == Block::Indented;
}

constexpr std::string_view kBlockNames[] = {
    "address",  "article",  "aside",    "base",       "basefont", "blockquote", "body",   "caption",
    "center",   "col",      "colgroup", "dd",         "details",  "dialog",     "dir",    "div",
    "dl",       "dt",       "fieldset", "figcaption", "figure",   "footer",     "form",   "frame",
    "frameset", "h1",       "h2",       "h3",         "h4",       "h5",         "h6",     "head",
    "header",   "hr",       "html",     "iframe",     "legend",   "li",         "link",   "main",
    "menu",     "menuitem", "nav",      "noframes",   "ol",       "optgroup",   "option", "p",
    "param",    "section",  "source",   "summary",    "table",    "tbody",      "td",     "tfoot",
    "th",       "thead",    "title",    "tr",         "track",    "ul"};

class Reader {
  public:
    Reader(std::string_view article, ArticleEncoding encoding, ScanPace& pace)
        : s_(article), enc_(encoding), pace_(pace) {
        // In GBK the second byte of a character may be an ASCII byte: the syntax is read on a
        // copy where such bytes are not ASCII, at the same offsets.
        t_ = article;
        if (encoding == ArticleEncoding::Gbk) {
            for (std::size_t i = 0; i < article.size();) {
                const std::size_t n = Step(article, i, encoding);
                if (n == 2 && At(article, i + 1) < 0x80) {
                    if (masked_.empty()) masked_.assign(article);
                    masked_[i + 1] = static_cast<char>(0xA1);
                }
                i += n;
            }
            if (!masked_.empty()) t_ = masked_;
        }
    }

    CommonMarkImages Read(std::size_t from) {
        open_.push_back({});
        for (std::size_t line = from; line < t_.size() && pace_.Passed(line);) {
            std::size_t end = line;
            while (end < t_.size() && t_[end] != '\n' && t_[end] != '\r') ++end;
            std::size_t next = end;
            if (next < t_.size())
                next += (t_[next] == '\r' && next + 1 < t_.size() && t_[next + 1] == '\n') ? 2 : 1;
            ProcessLine(line, end, next);
            line = next;
        }
        while (open_.size() > 1) CloseLast();
        pace_.Restart();
        for (const Content& c : contents_) {
            if (!c.segments.empty() && !pace_.Passed(c.segments.front().articleAt)) break;
            Inlines(c);
        }
        for (auto& [key, d] : definitions_) {
            if (d.used && d.end > d.begin)
                out_.destinations.push_back(
                    FoundDecoded(s_, d.begin, d.end, enc_, ReferenceSyntax::Markdown));
        }
        auto byStart = [](const auto& a, const auto& b) { return a.first < b.first; };
        SortRuns(out_.html, 0, byStart);
        SortRuns(out_.code, 0, byStart);
        SortRuns(out_.destinations, 0, ByOffset);
        return std::move(out_);
    }

  private:
    // ---- lines ----

    char C(std::size_t i) const { return i < lineEnd_ ? t_[i] : '\n'; }

    void FindFirstNonspace() {
        if (fnsValid_ && fns_ >= offset_) {
            indent_ = fnsColumn_ - column_;
            blank_ = fns_ >= lineEnd_;
            return;
        }
        fns_ = offset_;
        fnsColumn_ = column_;
        int toTab = kTabStop - (column_ % kTabStop);
        while (fns_ < lineEnd_) {
            const char c = t_[fns_];
            if (c == ' ') {
                ++fns_;
                ++fnsColumn_;
                if (--toTab == 0) toTab = kTabStop;
            } else if (c == '\t') {
                ++fns_;
                fnsColumn_ += toTab;
                toTab = kTabStop;
            } else {
                break;
            }
        }
        fnsValid_ = true;
        indent_ = fnsColumn_ - column_;
        blank_ = fns_ >= lineEnd_;
    }

    void Advance(std::size_t count, bool columns) {
        while (count > 0 && offset_ < lineEnd_) {
            if (t_[offset_] == '\t') {
                const int toTab = kTabStop - (column_ % kTabStop);
                if (columns) {
                    partialTab_ = toTab > static_cast<int>(count);
                    const int step = std::min(static_cast<int>(count), toTab);
                    column_ += step;
                    if (!partialTab_) ++offset_;
                    count -= static_cast<std::size_t>(step);
                } else {
                    partialTab_ = false;
                    column_ += toTab;
                    ++offset_;
                    --count;
                }
            } else {
                partialTab_ = false;
                ++offset_;
                ++column_;
                --count;
            }
        }
    }

    void AdvanceTo(std::size_t position) {
        if (position > offset_) Advance(position - offset_, false);
    }

    // ---- block starts ----

    std::size_t AtxStart(std::size_t i) const {
        std::size_t k = i;
        while (C(k) == '#' && k - i < 7) ++k;
        if (k == i || k - i > 6) return 0;
        return SpaceOrTab(C(k)) || C(k) == '\n' ? k - i : 0;
    }

    std::size_t FenceStart(std::size_t i, char& mark) const {
        const char c = C(i);
        if (c != '`' && c != '~') return 0;
        std::size_t k = i;
        while (C(k) == c) ++k;
        if (k - i < 3) return 0;
        if (c == '`' && std::string_view(t_.data() + k, lineEnd_ - k).find('`') != kNone) return 0;
        mark = c;
        return k - i;
    }

    std::size_t ClosingFence(std::size_t i, char mark) const {
        std::size_t k = i;
        while (C(k) == mark) ++k;
        if (k - i < 3) return 0;
        for (std::size_t j = k; j < lineEnd_; ++j) {
            if (!SpaceOrTab(t_[j])) return 0;
        }
        return k - i;
    }

    bool LineHolds(std::size_t from, std::string_view lowerNeedle) const {
        for (std::size_t k = from; k + lowerNeedle.size() <= lineEnd_; ++k) {
            if (HasNoCase(t_, k, lowerNeedle)) return true;
        }
        return false;
    }

    int HtmlStart(std::size_t i, bool mayBeSeven) const {
        if (C(i) != '<') return 0;
        const std::string_view line(t_.data(), lineEnd_);
        for (const std::string_view name : {"script", "pre", "style", "textarea"}) {
            if (HasNoCase(line, i + 1, name)) {
                const char after = C(i + 1 + name.size());
                if (SpaceOrTab(after) || after == '>' || after == '\n') return 1;
            }
        }
        if (line.substr(i).starts_with("<!--")) return 2;
        if (line.substr(i).starts_with("<?")) return 3;
        if (line.substr(i).starts_with("<![CDATA[")) return 5;
        if (C(i + 1) == '!' && Alpha(C(i + 2))) return 4;
        std::size_t k = i + 1 + (C(i + 1) == '/');
        std::string name;
        while (k < lineEnd_ && IsAsciiAlnum(t_[k]) && name.size() < 12) name += LowerAscii(t_[k++]);
        if (!name.empty()) {
            const char after = C(k);
            if ((SpaceOrTab(after) || after == '\n' || after == '>' ||
                 (after == '/' && C(k + 1) == '>')) &&
                std::find(std::begin(kBlockNames), std::end(kBlockNames), name) !=
                    std::end(kBlockNames))
                return 6;
        }
        if (!mayBeSeven) return 0;
        const std::size_t tag = ScanHtmlTag(line, i);
        if (tag == 0) return 0;
        for (std::size_t j = i + tag; j < lineEnd_; ++j) {
            if (!SpaceOrTab(t_[j])) return 0;
        }
        return 7;
    }

    bool HtmlEnds(int kind, std::size_t from) const {
        switch (kind) {
            case 1:
                return LineHolds(from, "</script>") || LineHolds(from, "</pre>") ||
                       LineHolds(from, "</style>") || LineHolds(from, "</textarea>");
            case 2:
                return LineHolds(from, "-->");
            case 3:
                return LineHolds(from, "?>");
            case 4:
                return LineHolds(from, ">");
            case 5:
                return LineHolds(from, "]]>");
            default:
                return false;
        }
    }

    int SetextLevel(std::size_t i) const {
        const char c = C(i);
        if (c != '=' && c != '-') return 0;
        std::size_t k = i;
        while (C(k) == c) ++k;
        while (SpaceOrTab(C(k))) ++k;
        if (k < lineEnd_) return 0;
        return c == '=' ? 1 : 2;
    }

    bool ThematicBreak(std::size_t i) const {
        const char c = C(i);
        if (c != '*' && c != '-' && c != '_') return false;
        int count = 0;
        for (std::size_t k = i; k < lineEnd_; ++k) {
            if (t_[k] == c)
                ++count;
            else if (!SpaceOrTab(t_[k]))
                return false;
        }
        return count >= 3;
    }

    // A list marker at i: its length; 0 when none.
    std::size_t ListMarker(std::size_t i, bool interruptsParagraph) const {
        std::size_t k = i;
        const char c = C(k);
        if (c == '*' || c == '-' || c == '+') {
            ++k;
        } else if (IsAsciiDigit(c)) {
            int digits = 0;
            long start = 0;
            while (IsAsciiDigit(C(k)) && digits < 9) {
                start = start * 10 + (C(k) - '0');
                ++k;
                ++digits;
            }
            if (interruptsParagraph && start != 1) return 0;
            if (C(k) != '.' && C(k) != ')') return 0;
            ++k;
        } else {
            return 0;
        }
        if (!CmarkSpace(C(k))) return 0;
        if (interruptsParagraph) {
            std::size_t j = k;
            while (SpaceOrTab(C(j))) ++j;
            if (C(j) == '\n') return 0;
        }
        return k - i;
    }

    // ---- the tree of open blocks ----

    void CloseLast() {
        const OpenBlock b = open_.back();
        open_.pop_back();
        if (b.type == Block::Paragraph) {
            Content& c = contents_[b.content];
            const std::size_t rest = Definitions(c);
            if (rest > 0) {
                // What follows the definitions is the paragraph's text.
                Content tail;
                for (const Segment& s : c.segments) {
                    if (s.contentAt + s.length < rest) continue;
                    const std::size_t skip = s.contentAt < rest ? rest - s.contentAt : 0;
                    tail.segments.push_back(
                        {tail.text.size(), s.articleAt + skip, s.length - skip});
                    tail.text.append(c.text, s.contentAt + skip, s.length - skip);
                    tail.text += '\n';
                }
                c = std::move(tail);
            }
        }
    }

    // Closes the blocks after the first `keep`, and a leaf at the end, then opens b there.
    OpenBlock& AddBlock(std::size_t keep, OpenBlock b) {
        while (open_.size() > keep) CloseLast();
        const Block last = open_.back().type;
        if (last != Block::Document && last != Block::Quote && last != Block::Item) CloseLast();
        if (open_.back().type == Block::Item) open_.back().hasChild = true;
        open_.push_back(b);
        return open_.back();
    }

    std::size_t NewContent() {
        contents_.emplace_back();
        return contents_.size() - 1;
    }

    void ProcessLine(std::size_t line, std::size_t end, std::size_t next) {
        lineEnd_ = end;
        offset_ = line;
        column_ = 0;
        partialTab_ = false;
        fnsValid_ = false;
        const std::size_t wholeEnd = next;

        // Which open blocks the line continues.
        std::size_t matched = 1;
        for (; matched < open_.size(); ++matched) {
            OpenBlock& b = open_[matched];
            FindFirstNonspace();
            bool ok = false;
            switch (b.type) {
                case Block::Quote:
                    if (indent_ <= 3 && C(fns_) == '>') {
                        Advance(static_cast<std::size_t>(indent_) + 1, true);
                        if (SpaceOrTab(C(offset_))) Advance(1, true);
                        ok = true;
                    }
                    break;
                case Block::Item:
                    if (indent_ >= b.markerOffset + b.padding) {
                        Advance(static_cast<std::size_t>(b.markerOffset + b.padding), true);
                        ok = true;
                    } else if (blank_ && b.hasChild) {
                        AdvanceTo(fns_);
                        ok = true;
                    }
                    break;
                case Block::Fenced:
                    if (indent_ <= 3 && C(fns_) == b.fence &&
                        ClosingFence(fns_, b.fence) >= b.fenceLength) {
                        out_.code.emplace_back(line, wholeEnd);
                        while (open_.size() > matched) CloseLast();
                        return;
                    }
                    for (int k = b.fenceOffset; k > 0 && SpaceOrTab(C(offset_)); --k)
                        Advance(1, true);
                    ok = true;
                    break;
                case Block::Indented:
                    if (indent_ >= kTabStop) {
                        Advance(kTabStop, true);
                        ok = true;
                    } else if (blank_) {
                        AdvanceTo(fns_);
                        ok = true;
                    }
                    break;
                case Block::Html:
                    ok = !(b.htmlKind >= 6 && blank_);
                    break;
                case Block::Paragraph:
                    ok = !blank_;
                    break;
                default:
                    break;
            }
            if (!ok) break;
        }
        const bool allMatched = matched == open_.size();
        std::size_t container = matched - 1;  // the last matched block
        const bool tipIsParagraph = open_.back().type == Block::Paragraph;
        bool maybeLazy = tipIsParagraph;
        bool opened = false;

        // New blocks the line begins.
        Block type = open_[container].type;
        while (type != Block::Fenced && type != Block::Indented && type != Block::Html) {
            FindFirstNonspace();
            const bool indented = indent_ >= kTabStop;
            const char c = C(fns_);
            char mark = 0;
            std::size_t length = 0;
            int kind = 0, level = 0;
            const std::size_t keep = opened ? open_.size() : container + 1;
            if (!indented && c == '>') {
                AdvanceTo(fns_ + 1);
                if (SpaceOrTab(C(offset_))) Advance(1, true);
                AddBlock(keep, {Block::Quote});
            } else if (!indented && (length = AtxStart(fns_)) > 0) {
                AdvanceTo(fns_ + length);
                OpenBlock& h = AddBlock(keep, {Block::Heading});
                h.content = NewContent();
            } else if (!indented && (length = FenceStart(fns_, mark)) > 0) {
                OpenBlock f{Block::Fenced};
                f.fence = mark;
                f.fenceLength = length;
                f.fenceOffset = static_cast<int>(fns_ - offset_);
                AddBlock(keep, f);
                AdvanceTo(lineEnd_);
                out_.code.emplace_back(line, wholeEnd);
            } else if (!indented &&
                       (kind = HtmlStart(fns_, type != Block::Paragraph && !maybeLazy)) > 0) {
                OpenBlock h{Block::Html};
                h.htmlKind = kind;
                AddBlock(keep, h);
            } else if (!indented && type == Block::Paragraph && (level = SetextLevel(fns_)) > 0) {
                const std::size_t content = open_[container].content;
                // A paragraph of definitions only stays one, and the line is its text.
                if (Definitions(contents_[content]) >= contents_[content].text.size()) break;
                CloseLast();  // the definitions are taken; the rest is the heading's
                OpenBlock h{Block::Heading};
                h.content = content;
                open_.push_back(h);
                AdvanceTo(lineEnd_);
                headingDone_ = true;
            } else if (!indented && !(type == Block::Paragraph && !allMatched) &&
                       ThematicBreak(fns_)) {
                AddBlock(keep, {Block::Break});
                AdvanceTo(lineEnd_);
            } else if (!indented && (length = ListMarker(fns_, type == Block::Paragraph)) > 0) {
                const int markerOffset = indent_;
                AdvanceTo(fns_ + length);
                const std::size_t saveOffset = offset_;
                const int saveColumn = column_;
                const bool saveTab = partialTab_;
                while (column_ - saveColumn <= 5 && SpaceOrTab(C(offset_))) Advance(1, true);
                const int spaces = column_ - saveColumn;
                OpenBlock item{Block::Item};
                if (spaces >= 5 || spaces < 1 || C(offset_) == '\n') {
                    item.padding = static_cast<int>(length) + 1;
                    offset_ = saveOffset;
                    column_ = saveColumn;
                    partialTab_ = saveTab;
                    if (spaces > 0) Advance(1, true);
                } else {
                    item.padding = static_cast<int>(length) + spaces;
                }
                item.markerOffset = markerOffset;
                AddBlock(keep, item);
            } else if (indented && !maybeLazy && !blank_) {
                Advance(kTabStop, true);
                AddBlock(keep, {Block::Indented});
                out_.code.emplace_back(line, wholeEnd);
            } else {
                break;
            }
            opened = !headingDone_;
            if (headingDone_) break;
            container = open_.size() - 1;
            type = open_.back().type;
            if (AcceptsLines(type)) break;
            maybeLazy = false;
        }
        if (headingDone_) {
            headingDone_ = false;
            return;
        }

        // The line's text.
        FindFirstNonspace();
        if (!opened && !allMatched && !blank_ && tipIsParagraph) {
            contents_[open_.back().content].AddLine(t_, fns_, lineEnd_);  // a lazy line
            return;
        }
        if (!opened) {
            while (open_.size() > container + 1) CloseLast();
        }
        OpenBlock& b = open_.back();
        switch (b.type) {
            case Block::Fenced:
            case Block::Indented:
                out_.code.emplace_back(line, wholeEnd);
                return;
            case Block::Html:
                if (offset_ < lineEnd_) out_.html.emplace_back(offset_, lineEnd_);
                if (b.htmlKind <= 5 && HtmlEnds(b.htmlKind, offset_)) CloseLast();
                return;
            default:
                break;
        }
        if (blank_) return;
        if (b.type == Block::Heading) {
            std::size_t e = lineEnd_;
            while (e > fns_ && SpaceOrTab(t_[e - 1])) --e;
            std::size_t h = e;
            while (h > fns_ && t_[h - 1] == '#') --h;
            if (h == fns_ || SpaceOrTab(t_[h - 1])) e = h;
            while (e > fns_ && SpaceOrTab(t_[e - 1])) --e;
            contents_[b.content].AddLine(t_, fns_, e);
            CloseLast();
            return;
        }
        if (b.type == Block::Paragraph) {
            contents_[b.content].AddLine(t_, fns_, lineEnd_);
            return;
        }
        OpenBlock p{Block::Paragraph};
        p.content = NewContent();
        AddBlock(open_.size(), p);
        contents_[p.content].AddLine(t_, fns_, lineEnd_);
    }

    // ---- link reference definitions ----

    // The definitions at the start of a paragraph's text, recorded; where its text goes on.
    std::size_t Definitions(Content& c) {
        const std::string_view x = c.text;
        std::size_t p = 0;
        while (p < x.size() && x[p] == '[') {
            std::size_t b, e, k;
            if (!ScanLabel(x, p, b, e, k) || k >= x.size() || x[k] != ':') break;
            const std::string key = NormalizedLabel(c.Original(s_, b, e), enc_);
            if (key.empty()) break;
            k = SkipSpaceAndOneLine(x, k + 1);
            Destination d;
            if (!ScanDestination(x, k, false, d)) break;
            const std::size_t beforeTitle = d.after;
            std::size_t q = SkipSpaceAndOneLine(x, beforeTitle);
            const std::size_t title = q == beforeTitle ? 0 : ScanTitle(x, q);
            std::size_t lineEnd = kNone;
            if (title > 0) {
                std::size_t r = q + title;
                while (r < x.size() && SpaceOrTab(x[r])) ++r;
                if (r < x.size() && x[r] == '\n') lineEnd = r + 1;
            }
            if (lineEnd == kNone) {
                std::size_t r = beforeTitle;
                while (r < x.size() && SpaceOrTab(x[r])) ++r;
                if (r < x.size() && x[r] == '\n') lineEnd = r + 1;
            }
            if (lineEnd == kNone) break;
            Definition def;
            if (d.end > d.begin) {
                def.begin = c.ArticleAt(d.begin);
                def.end = c.ArticleAt(d.end - 1) + 1;
            }
            definitions_.emplace(key, def);
            p = lineEnd;
        }
        return p;
    }

    static std::size_t SkipSpaceAndOneLine(std::string_view x, std::size_t i) {
        while (i < x.size() && SpaceOrTab(x[i])) ++i;
        if (i < x.size() && x[i] == '\n') {
            ++i;
            while (i < x.size() && SpaceOrTab(x[i])) ++i;
        }
        return i;
    }

    // ---- inlines ----

    struct Bracket {
        std::size_t position;  // after "[" or "!["
        bool image;
        bool bracketAfter = false;
        std::size_t formedBefore = 0;  // how many images and links were formed before it
    };

    // An image or a linked image's link formed in a paragraph; what stands inside an image's
    // description is only its text, so those are given up when the image around them forms.
    struct Formed {
        bool image = false;
        std::size_t begin = 0, end = 0;  // an inline destination, in the content
        Definition* definition = nullptr;
    };

    struct FormedList {
        std::vector<Formed> formed;
        std::vector<std::size_t> imagesUpTo{0};  // images among formed[0, i)

        void Add(Formed f) {
            imagesUpTo.push_back(imagesUpTo.back() + f.image);
            formed.push_back(f);
        }
        void CutTo(std::size_t size) {
            formed.resize(size);
            imagesUpTo.resize(size + 1);
        }
        bool ImageSince(std::size_t from) const { return imagesUpTo.back() > imagesUpTo[from]; }
    };

    void Commit(const Content& c, const FormedList& list) {
        for (const Formed& f : list.formed) {
            if (f.definition) {
                f.definition->used = true;
            } else if (f.end > f.begin) {
                out_.destinations.push_back(FoundDecoded(s_, c.ArticleAt(f.begin),
                                                         c.ArticleAt(f.end - 1) + 1, enc_,
                                                         ReferenceSyntax::Markdown));
            }
        }
    }

    // The HTML at x[i] ("<") that CommonMark passes through, or an autolink; its length.
    std::size_t RawHtml(std::string_view x, std::size_t i, bool& autolink) {
        autolink = false;
        const std::size_t n = x.size();
        // An autolink: <scheme:...> or <address@host>.
        std::size_t k = i + 1;
        if (k < n && Alpha(x[k])) {
            std::size_t j = k + 1;
            while (j < n && (IsAsciiAlnum(x[j]) || x[j] == '+' || x[j] == '.' || x[j] == '-')) ++j;
            if (j < n && x[j] == ':' && j - k >= 2 && j - k <= 32) {
                ++j;
                while (j < n && x[j] != '<' && x[j] != '>' &&
                       static_cast<unsigned char>(x[j]) > 0x20)
                    ++j;
                if (j < n && x[j] == '>') {
                    autolink = true;
                    return j + 1 - i;
                }
            }
        }
        {
            std::size_t j = k;
            while (j < n && (IsAsciiAlnum(x[j]) || std::strchr(".!#$%&'*+/=?^_`{|}~-", x[j])) &&
                   x[j] != '\0')
                ++j;
            if (j > k && j < n && x[j] == '@') {
                std::size_t h = j + 1;
                bool ok = false;
                while (true) {
                    const std::size_t part = h;
                    while (h < n && (IsAsciiAlnum(x[h]) || x[h] == '-') && h - part < 63) ++h;
                    if (h == part || x[part] == '-' || x[h - 1] == '-') break;
                    if (h < n && x[h] == '.') {
                        ++h;
                        continue;
                    }
                    ok = h < n && x[h] == '>';
                    break;
                }
                if (ok) {
                    autolink = true;
                    return h + 1 - i;
                }
            }
        }
        if (k >= n) return 0;
        if (x[k] == '!') {
            if (x.substr(i, 4) == "<!--") {
                const std::size_t t = i + 4;
                if (t < n && (x[t] == '>' || (x[t] == '-' && t + 1 < n && x[t + 1] == '>')))
                    return 0;
                const std::size_t d = dashes_.From(x, t);
                if (d == kNone || d + 2 >= n || x[d + 2] != '>') return 0;
                return d + 3 - i;
            }
            if (x.substr(i, 9) == "<![CDATA[") {
                const std::size_t e = cdataEnd_.From(x, i + 9);
                return e == kNone ? 0 : e + 3 - i;
            }
            if (k + 1 < n && Alpha(x[k + 1])) {
                const std::size_t e = gt_.From(x, k + 1);
                return e == kNone ? 0 : e + 1 - i;
            }
            return 0;
        }
        if (x[k] == '?') {
            const std::size_t e = piEnd_.From(x, k + 1);
            return e == kNone ? 0 : e + 2 - i;
        }
        return ScanHtmlTag(x, i);
    }

    void Inlines(const Content& c) {
        const std::string_view x = c.text;
        const std::size_t n = x.size();
        std::vector<Bracket> brackets;
        std::size_t deactivatedBelow = 0;
        FormedList formed;
        dashes_ = ForwardFind("--");
        cdataEnd_ = ForwardFind("]]>");
        gt_ = ForwardFind(">");
        piEnd_ = ForwardFind("?>");
        // Backtick runs by length, for the code spans.
        std::unordered_map<std::size_t, std::pair<std::vector<std::size_t>, std::size_t>> runs;
        bool runsFound = false;
        auto pop = [&] {
            brackets.pop_back();
            deactivatedBelow = std::min(deactivatedBelow, brackets.size());
        };
        for (std::size_t pos = 0; pos < n;) {
            const char ch = x[pos];
            switch (ch) {
                case '\\':
                    pos += (pos + 1 < n && (AsciiPunct(x[pos + 1]) || x[pos + 1] == '\n')) ? 2 : 1;
                    continue;
                case '`': {
                    std::size_t e = pos;
                    while (e < n && x[e] == '`') ++e;
                    const std::size_t length = e - pos;
                    if (!runsFound) {
                        runsFound = true;
                        for (std::size_t k = 0; k < n;) {
                            if (x[k] != '`') {
                                ++k;
                                continue;
                            }
                            std::size_t r = k;
                            while (r < n && x[r] == '`') ++r;
                            runs[r - k].first.push_back(k);
                            k = r;
                        }
                    }
                    std::size_t close = kNone;
                    if (length <= kMaxBackticks) {
                        auto& [starts, at] = runs[length];
                        while (at < starts.size() && starts[at] < e) ++at;
                        if (at < starts.size()) close = starts[at];
                    }
                    if (close == kNone) {
                        pos = e;
                    } else {
                        c.Pieces(pos, close + length, out_.code);
                        pos = close + length;
                    }
                    continue;
                }
                case '&':
                    if (const auto ref =
                            ReadCharacterReference(x, pos, ReferenceSyntax::Markdown)) {
                        pos += ref->length;
                        continue;
                    }
                    ++pos;
                    continue;
                case '<': {
                    bool autolink = false;
                    const std::size_t length = RawHtml(x, pos, autolink);
                    if (length == 0) {
                        ++pos;
                        continue;
                    }
                    if (!autolink) c.Pieces(pos, pos + length, out_.html);
                    pos += length;
                    continue;
                }
                case '!':
                    if (pos + 1 < n && x[pos + 1] == '[') {
                        if (!brackets.empty()) brackets.back().bracketAfter = true;
                        brackets.push_back({pos + 2, true, false, formed.formed.size()});
                        pos += 2;
                    } else {
                        ++pos;
                    }
                    continue;
                case '[':
                    if (!brackets.empty()) brackets.back().bracketAfter = true;
                    brackets.push_back({pos + 1, false, false, formed.formed.size()});
                    ++pos;
                    continue;
                case ']':
                    pos = CloseBracket(c, pos, brackets, deactivatedBelow, formed, pop);
                    continue;
                default:
                    break;
            }
            ++pos;
            while (pos < n && !std::strchr("\\`&<![]", x[pos])) ++pos;
        }
        Commit(c, formed);
    }

    template <typename Pop>
    std::size_t CloseBracket(const Content& c, std::size_t pos, std::vector<Bracket>& brackets,
                             std::size_t& deactivatedBelow, FormedList& formed, Pop pop) {
        const std::string_view x = c.text;
        if (brackets.empty()) return pos + 1;
        const Bracket opener = brackets.back();
        if (!opener.image && brackets.size() - 1 < deactivatedBelow) {
            pop();
            return pos + 1;
        }
        const std::size_t after = pos + 1;
        // An inline link: (destination "title").
        if (after < x.size() && x[after] == '(') {
            Destination d;
            if (ScanDestination(x, SkipCmarkSpace(x, after + 1), true, d)) {
                const std::size_t startTitle = SkipCmarkSpace(x, d.after);
                const std::size_t endTitle =
                    startTitle == d.after ? startTitle : startTitle + ScanTitle(x, startTitle);
                const std::size_t endAll = SkipCmarkSpace(x, endTitle);
                if (endAll < x.size() && x[endAll] == ')') {
                    if (opener.image) {
                        formed.CutTo(opener.formedBefore);
                        formed.Add({true, d.begin, d.end, nullptr});
                    } else if (formed.ImageSince(opener.formedBefore) && d.end > d.begin &&
                               NamesAPicture(c.Original(s_, d.begin, d.end))) {
                        formed.Add({false, d.begin, d.end, nullptr});
                    }
                    pop();
                    if (!opener.image) deactivatedBelow = brackets.size();
                    return endAll + 1;
                }
            }
        }
        // A reference: [label], [] or none.
        std::size_t b = 0, e = 0, labelAfter = after;
        bool found = ScanLabel(x, after, b, e, labelAfter);
        if (!found) labelAfter = after;
        if ((!found || e == b) && !opener.bracketAfter) {
            b = opener.position;
            e = pos;
            found = true;
        }
        Definition* def = nullptr;
        if (found && e > b && e - b <= kMaxLabel) {
            const auto it = definitions_.find(NormalizedLabel(c.Original(s_, b, e), enc_));
            if (it != definitions_.end()) def = &it->second;
        }
        if (!def) {
            pop();
            return after;
        }
        if (opener.image) {
            formed.CutTo(opener.formedBefore);
            formed.Add({true, 0, 0, def});
        } else if (formed.ImageSince(opener.formedBefore) &&
                   NamesAPicture(s_.substr(def->begin, def->end - def->begin))) {
            formed.Add({false, 0, 0, def});
        }
        pop();
        if (!opener.image) deactivatedBelow = brackets.size();
        return labelAfter;
    }

    std::string_view s_;  // the article
    std::string_view t_;  // its syntax bytes: the article, or masked_
    std::string masked_;
    ArticleEncoding enc_;
    ScanPace& pace_;
    CommonMarkImages out_;

    std::vector<OpenBlock> open_;
    std::vector<Content> contents_;
    std::unordered_map<std::string, Definition> definitions_;

    std::size_t lineEnd_ = 0, offset_ = 0, fns_ = 0;
    int column_ = 0, fnsColumn_ = 0, indent_ = 0;
    bool partialTab_ = false, fnsValid_ = false, blank_ = false, headingDone_ = false;

    ForwardFind dashes_{"--"}, cdataEnd_{"]]>"}, gt_{">"}, piEnd_{"?>"};
};

}  // namespace

CommonMarkImages ReadCommonMark(std::string_view article, std::size_t from,
                                ArticleEncoding encoding, ScanPace& pace) {
    return Reader(article, encoding, pace).Read(from);
}

}  // namespace zembrat::job::reading
