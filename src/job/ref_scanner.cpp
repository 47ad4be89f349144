#include "job/ref_scanner.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::job {
namespace {

using Sources = std::vector<FoundSource>;

unsigned char At(std::string_view s, std::size_t i) {
    return static_cast<unsigned char>(s[i]);
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool IsHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool IsAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAsciiAlnum(char c) {
    const char l = LowerAscii(c);
    return IsAsciiDigit(c) || (l >= 'a' && l <= 'z');
}

// word, ASCII case ignored, at s[i..].
bool HasNoCase(std::string_view s, std::size_t i, std::string_view word) {
    if (i + word.size() > s.size()) return false;
    for (std::size_t k = 0; k < word.size(); ++k) {
        if (LowerAscii(s[i + k]) != word[k]) return false;
    }
    return true;
}

// The length of the character at i, as the article's decoding sees it. In GBK: a lead byte
// (81..FE) and a trail byte (40..7E, 80..FE) form one character; any other byte stands alone
// (a lead byte followed by a digit starts a four-byte sequence whose bytes are never
// delimiters here, so they may as well step one by one). In UTF-8 every byte steps alone:
// only ASCII bytes are looked at, and they never occur inside a multi-byte sequence.
std::size_t Step(std::string_view s, std::size_t i, ArticleEncoding encoding) {
    if (encoding == ArticleEncoding::Utf8) return 1;
    const unsigned char c = At(s, i);
    if (c < 0x81 || c == 0xFF || i + 1 >= s.size()) return 1;
    const unsigned char t = At(s, i + 1);
    return ((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFE)) ? 2 : 1;
}

// True when a character starts at i, for a byte s[i] below 0x80. Such a byte ends whatever
// came before unless it is the trail byte of a pair; the run of high bytes before it is
// paired up from its start, which is a character boundary because the byte before the run
// is below 0x80.
bool StartsCharacter(std::string_view s, std::size_t i, ArticleEncoding encoding) {
    if (encoding == ArticleEncoding::Utf8 || i == 0 || At(s, i - 1) < 0x80) return true;
    const unsigned char c = At(s, i);
    if (c < 0x40 || c == 0x7F) return true;
    std::size_t run = i;
    while (run > 0 && At(s, run - 1) >= 0x80) --run;
    std::size_t k = run;
    while (k < i) k += Step(s, k, encoding);
    return k == i;
}

// Character references decoded the way HTML and Markdown read them in attribute values and
// link destinations; the characters are written in the article's encoding.
std::string EncodeCodePoint(char32_t cp, ArticleEncoding encoding) {
    std::string utf8;
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        utf8 += static_cast<char>(cp);
    } else if (cp < 0x800) {
        utf8 += static_cast<char>(0xC0 | (cp >> 6));
        utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        utf8 += static_cast<char>(0xE0 | (cp >> 12));
        utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        utf8 += static_cast<char>(0xF0 | (cp >> 18));
        utf8 += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return encoding == ArticleEncoding::Utf8 || cp < 0x80 ? utf8 : text::GbkFromUtf8(utf8);
}

// The reference at s[i] ("&...;"), decoded, and its length; nothing when it is none.
std::optional<std::pair<std::string, std::size_t>> CharacterReference(std::string_view s,
                                                                      std::size_t i,
                                                                      ArticleEncoding encoding) {
    const std::size_t semi = s.find(';', i + 1);
    if (semi == std::string_view::npos || semi - i > 10) return std::nullopt;
    const std::string_view name = s.substr(i + 1, semi - i - 1);
    if (name.size() >= 2 && name[0] == '#') {
        const bool hex = name[1] == 'x' || name[1] == 'X';
        const std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty()) return std::nullopt;
        char32_t cp = 0;
        for (const char c : digits) {
            int d;
            if (IsAsciiDigit(c))
                d = c - '0';
            else if (hex && LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f')
                d = LowerAscii(c) - 'a' + 10;
            else
                return std::nullopt;
            cp = cp * (hex ? 16 : 10) + static_cast<char32_t>(d);
        }
        return std::pair{EncodeCodePoint(cp, encoding), semi - i + 1};
    }
    static const std::array<std::pair<std::string_view, char>, 5> named{
        {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}}};
    for (const auto& [n, c] : named) {
        if (name == n) return std::pair{std::string(1, c), semi - i + 1};
    }
    return std::nullopt;
}

// What a browser fetches for a value: references decoded (and backslash escapes, for
// Markdown), tabs and line breaks dropped, spaces written as %20.
std::string FetchedForm(std::string_view value, ArticleEncoding encoding, bool backslashEscapes) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const char c = value[i];
        if (c == '&') {
            if (auto ref = CharacterReference(value, i, encoding)) {
                out += ref->first;
                i += ref->second;
                continue;
            }
        } else if (c == '\\' && backslashEscapes && i + 1 < value.size() &&
                   std::ispunct(At(value, i + 1))) {
            out += value[i + 1];
            i += 2;
            continue;
        } else if (c == '\t' || c == '\n' || c == '\r') {
            ++i;
            continue;
        } else if (c == ' ') {
            out += "%20";
            ++i;
            continue;
        }
        const std::size_t n = Step(value, i, encoding);
        out.append(value.substr(i, n));
        i += n;
    }
    return out;
}

FoundSource Found(std::string_view article, std::size_t begin, std::size_t end) {
    return {begin, std::string(article.substr(begin, end - begin)), {}};
}

FoundSource FoundDecoded(std::string_view article, std::size_t begin, std::size_t end,
                         ArticleEncoding encoding, bool backslashEscapes) {
    FoundSource found = Found(article, begin, end);
    std::string fetched = FetchedForm(found.text, encoding, backslashEscapes);
    if (fetched != found.text) found.address = std::move(fetched);
    return found;
}

bool IsPlainValueByte(char c) {
    return c != '"' && c != '\'' && c != '<' && c != '>' && c != ' ';
}

// ---- Tags ----

enum class TagKind { Other, Img, Source, PictureOpen, PictureClose };

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

// Sources already found, in article order, looked up with offsets that only grow.
class KnownSources {
  public:
    explicit KnownSources(const Sources* known) : known_(known) {}
    bool Has(std::size_t offset, std::size_t length) {
        if (!known_) return false;
        while (next_ < known_->size() && (*known_)[next_].offset < offset) ++next_;
        return next_ < known_->size() && (*known_)[next_].offset == offset &&
               (*known_)[next_].text.size() == length;
    }

  private:
    const Sources* known_;
    std::size_t next_ = 0;
};

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
        const std::size_t eq = article.find('=', at);
        if (eq >= end || eq - at > 14) continue;
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

class TagReader {
  public:
    TagReader(std::string_view article, bool htmlRules, bool lazy, ArticleEncoding encoding,
              const Sources* known)
        : article_(article),
          htmlRules_(htmlRules),
          lazy_(lazy),
          encoding_(encoding),
          known_(known) {}

    // The tag at lt ("<"), if it is one of those read; where the search goes on.
    std::size_t At(std::size_t lt, Sources& out) {
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
                return htmlRules_ ? ReadHtmlAttributes(article_, after, kind, lazy_, inPicture_,
                                                       encoding_, out)
                                  : ReadPlainAttributes(article_, after + 1, kind, inPicture_,
                                                        known_, out);
            case TagKind::Other:
                break;
        }
        return lt + 1;
    }

  private:
    std::string_view article_;
    bool htmlRules_, lazy_;
    ArticleEncoding encoding_;
    KnownSources known_;
    bool inPicture_ = false;
};

std::size_t NextLt(std::string_view s, std::size_t from) {
    if (from >= s.size()) return s.size();
    const void* hit = std::memchr(s.data() + from, '<', s.size() - from);
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - s.data()) : s.size();
}

// Every <img>, <source> and <picture> tag of the article, read the plain way or under HTML
// rules, leaving out what known holds. "<" never occurs inside a two-byte character, so every
// "<" found begins a character.
void ReadTags(std::string_view article, bool htmlRules, bool lazy, ArticleEncoding encoding,
              Sources& out) {
    TagReader reader(article, htmlRules, lazy, encoding, nullptr);
    for (std::size_t lt = NextLt(article, 0); lt < article.size();
         lt = NextLt(article, reader.At(lt, out))) {
    }
}

// ---- Markdown ----

std::string LabelKey(std::string_view label, ArticleEncoding encoding) {
    std::string key;
    bool space = false;
    for (std::size_t i = 0; i < label.size();) {
        if (IsHtmlSpace(label[i])) {
            space = true;
            ++i;
            continue;
        }
        if (space && !key.empty()) key += ' ';
        space = false;
        const std::size_t n = Step(label, i, encoding);
        if (n == 1)
            key += LowerAscii(label[i]);
        else
            key.append(label.substr(i, n));
        i += n;
    }
    return key;
}

class MarkdownReader {
  public:
    MarkdownReader(std::string_view s, ArticleEncoding encoding) : s_(s), enc_(encoding) {}

    void Read(Sources& out) {
        std::unordered_set<std::string> used;
        std::unordered_map<std::string, FoundSource> definitions;
        for (std::size_t i = 0; i < s_.size();) {
            if (i == 0 || s_[i - 1] == '\n') {
                std::string label;
                FoundSource dest;
                std::size_t end = i;
                if (Definition(i, label, dest, end)) {
                    definitions.emplace(std::move(label), std::move(dest));
                    i = end;
                    continue;
                }
            }
            const char c = s_[i];
            if (c == '\\') {
                i += 1;
                if (i < s_.size()) i += Step(s_, i, enc_);
                continue;
            }
            if (c == '!' && i + 1 < s_.size() && s_[i + 1] == '[') {
                std::size_t end = i;
                if (Image(i, out, used, end)) {
                    i = end;
                    continue;
                }
            }
            i += Step(s_, i, enc_);
        }
        for (auto& [label, dest] : definitions) {
            if (used.contains(label)) out.push_back(std::move(dest));
        }
    }

  private:
    bool SpaceOrTab(std::size_t i) const {
        return i < s_.size() && (s_[i] == ' ' || s_[i] == '\t');
    }

    // Spaces and tabs, and at most one line break among them.
    std::size_t SkipSpace(std::size_t i) const {
        while (SpaceOrTab(i)) ++i;
        if (i < s_.size() && (s_[i] == '\n' || s_[i] == '\r')) {
            if (s_[i] == '\r' && i + 1 < s_.size() && s_[i + 1] == '\n') ++i;
            ++i;
            while (SpaceOrTab(i)) ++i;
        }
        return i;
    }

    // A bracketed label from i ("["), nested brackets allowed when nested; end after "]".
    bool Label(std::size_t i, bool nested, std::size_t& inner, std::size_t& innerEnd,
               std::size_t& end) const {
        int depth = 0;
        inner = i + 1;
        bool blankLine = false;
        for (std::size_t k = i; k < s_.size();) {
            const char c = s_[k];
            if (c == '\\') {
                k += 1;
                if (k < s_.size()) k += Step(s_, k, enc_);
                continue;
            }
            if (c == '\n') {
                if (blankLine) return false;
                blankLine = true;
            } else if (!IsHtmlSpace(c)) {
                blankLine = false;
            }
            if (c == '[') {
                if (depth > 0 && !nested) return false;
                ++depth;
            } else if (c == ']') {
                if (--depth == 0) {
                    innerEnd = k;
                    end = k + 1;
                    return true;
                }
            }
            k += Step(s_, k, enc_);
        }
        return false;
    }

    // A link destination from i: <...> or a run without white space, parentheses balanced.
    bool Destination(std::size_t i, std::size_t& begin, std::size_t& stop, std::size_t& end) const {
        if (i < s_.size() && s_[i] == '<') {
            for (std::size_t k = i + 1; k < s_.size();) {
                const char c = s_[k];
                if (c == '\n' || c == '<') return false;
                if (c == '\\' && k + 1 < s_.size()) {
                    k += 1 + Step(s_, k + 1, enc_);
                    continue;
                }
                if (c == '>') {
                    begin = i + 1;
                    stop = k;
                    end = k + 1;
                    return true;
                }
                k += Step(s_, k, enc_);
            }
            return false;
        }
        int depth = 0;
        std::size_t k = i;
        while (k < s_.size()) {
            const char c = s_[k];
            if (IsHtmlSpace(c) || static_cast<unsigned char>(c) < 0x20) break;
            if (c == '\\' && k + 1 < s_.size()) {
                k += 1 + Step(s_, k + 1, enc_);
                continue;
            }
            if (c == '(') ++depth;
            if (c == ')' && depth-- == 0) break;
            k += Step(s_, k, enc_);
        }
        if (k == i || depth > 0) return false;
        begin = i;
        stop = k;
        end = k;
        return true;
    }

    // An optional title from i; where it ends (i itself when there is none).
    std::size_t Title(std::size_t i, bool& ok) const {
        ok = true;
        if (i >= s_.size()) return i;
        const char open = s_[i];
        const char close = open == '(' ? ')' : open;
        if (open != '"' && open != '\'' && open != '(') return i;
        for (std::size_t k = i + 1; k < s_.size();) {
            const char c = s_[k];
            if (c == '\\' && k + 1 < s_.size()) {
                k += 1 + Step(s_, k + 1, enc_);
                continue;
            }
            if (c == close) return k + 1;
            k += Step(s_, k, enc_);
        }
        ok = false;
        return i;
    }

    FoundSource Dest(std::size_t begin, std::size_t stop) const {
        return FoundDecoded(s_, begin, stop, enc_, true);
    }

    bool Image(std::size_t i, Sources& out, std::unordered_set<std::string>& used,
               std::size_t& end) const {
        std::size_t alt, altEnd, after;
        if (!Label(i + 1, true, alt, altEnd, after)) return false;
        if (after < s_.size() && s_[after] == '(') {
            std::size_t begin, stop, k;
            if (!Destination(SkipSpace(after + 1), begin, stop, k)) return false;
            const std::size_t beforeTitle = SkipSpace(k);
            bool ok;
            std::size_t t = Title(beforeTitle, ok);
            if (!ok || (t != beforeTitle && beforeTitle == k)) return false;
            t = SkipSpace(t);
            if (t >= s_.size() || s_[t] != ')') return false;
            if (stop > begin) out.push_back(Dest(begin, stop));
            end = t + 1;
            return true;
        }
        if (after < s_.size() && s_[after] == '[') {
            std::size_t label, labelEnd, k;
            if (!Label(after, false, label, labelEnd, k)) return false;
            const std::string key = LabelKey(labelEnd > label ? s_.substr(label, labelEnd - label)
                                                              : s_.substr(alt, altEnd - alt),
                                             enc_);
            if (!key.empty()) used.insert(key);
            end = k;
            return true;
        }
        return false;
    }

    // "[label]: destination" at the start of a line (up to three spaces in).
    bool Definition(std::size_t i, std::string& key, FoundSource& dest, std::size_t& end) const {
        std::size_t k = i;
        while (k < s_.size() && k - i < 3 && s_[k] == ' ') ++k;
        if (k >= s_.size() || s_[k] != '[') return false;
        std::size_t label, labelEnd, after;
        if (!Label(k, false, label, labelEnd, after)) return false;
        if (after >= s_.size() || s_[after] != ':') return false;
        key = LabelKey(s_.substr(label, labelEnd - label), enc_);
        if (key.empty()) return false;
        std::size_t begin, stop, destEnd;
        if (!Destination(SkipSpace(after + 1), begin, stop, destEnd)) return false;
        if (destEnd < s_.size() && !IsHtmlSpace(s_[destEnd])) return false;
        dest = Dest(begin, stop);
        if (dest.text.empty()) return false;
        end = destEnd;
        return true;
    }

    std::string_view s_;
    ArticleEncoding enc_;
};

bool ByOffset(const FoundSource& a, const FoundSource& b) {
    return a.offset < b.offset;
}

// Two lists each in article order made one, a source found by both kept once.
Sources MergeByOffset(Sources a, Sources b) {
    if (b.empty()) return a;
    if (a.empty()) return b;
    Sources out;
    out.reserve(a.size() + b.size());
    std::size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        if (j == b.size() || (i < a.size() && a[i].offset <= b[j].offset)) {
            if (j < b.size() && a[i].offset == b[j].offset && a[i].text == b[j].text) ++j;
            out.push_back(std::move(a[i++]));
        } else {
            out.push_back(std::move(b[j++]));
        }
    }
    return out;
}

bool ValidUtf8(std::string_view s, bool& sawMultibyte) {
    sawMultibyte = false;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = At(s, i);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t n;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF)
            n = 2, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF)
            n = 3, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4)
            n = 4, cp = c & 0x07;
        else
            return false;
        if (i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            const unsigned char t = At(s, i + k);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        sawMultibyte = true;
        i += n;
    }
    return true;
}

// One attempt of the image-tag pattern at p, where "<img " stands: the source when it matches,
// and where the search goes on.
std::size_t PlainMatchAt(std::string_view s, std::size_t p, ArticleEncoding encoding,
                         Sources& out) {
    const std::size_t n = s.size();
    // ".*?" between "<img " and "src=" stays on the line.
    const void* lf = std::memchr(s.data() + p, '\n', n - p);
    const std::size_t lineEnd =
        lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - s.data()) : n;
    // A value run once scanned, and a stretch known to hold no ">" before its line break:
    // a later "src=" inside them gives the same result, so long lines stay linear.
    std::size_t runStart = n, runEnd = n, noCloseFrom = n, noCloseTo = n;
    for (std::size_t q = p + 5; q < lineEnd;) {
        const void* eqHit = std::memchr(s.data() + q, '=', lineEnd - q);
        if (!eqHit) break;
        const std::size_t eq = static_cast<std::size_t>(static_cast<const char*>(eqHit) - s.data());
        q = eq + 1;
        if (eq < p + 8 || !HasNoCase(s, eq - 3, "src") || !StartsCharacter(s, eq - 3, encoding))
            continue;
        std::size_t v = eq + 1;
        if (v < n && (s[v] == '"' || s[v] == '\'')) ++v;
        std::size_t w;
        if (v > runStart && v <= runEnd) {
            w = runEnd;
        } else {
            w = v;
            while (w < n && IsPlainValueByte(s[w])) ++w;
            runStart = v;
            runEnd = w;
        }
        if (w == v) continue;
        if (w >= noCloseFrom && w <= noCloseTo) continue;
        std::size_t close = w;
        while (close < n && s[close] != '>' && s[close] != '\n') ++close;
        if (close >= n || s[close] == '\n') {
            noCloseFrom = w;
            noCloseTo = close;
            continue;
        }
        out.push_back(Found(s, v, w));
        return close + 1;
    }
    // No "src=" on this line completes a match, and a later "<img " on it would find only
    // those same ones.
    return lineEnd;
}

bool IsImgTagStart(std::string_view s, std::size_t p) {
    return HasNoCase(s, p, "<img ");
}

// The plain rule and the plain reading of the lazy attributes in one walk over the "<" of the
// article: the plain rule first at each, so that the tag reading can leave out what it found.
void PlainAndLazy(std::string_view s, ArticleEncoding encoding, Sources& plain, Sources& tags) {
    TagReader reader(s, false, true, encoding, &plain);
    std::size_t plainNext = 0, tagNext = 0;
    for (std::size_t lt = NextLt(s, 0); lt < s.size();
         lt = NextLt(s, std::min(plainNext, tagNext))) {
        if (lt >= plainNext)
            plainNext = IsImgTagStart(s, lt) ? PlainMatchAt(s, lt, encoding, plain) : lt + 1;
        if (lt >= tagNext) tagNext = reader.At(lt, tags);
    }
}

}  // namespace

ArticleEncoding DetectArticleEncoding(std::string_view article) {
    if (article.starts_with("\xEF\xBB\xBF")) return ArticleEncoding::Utf8;
    bool multibyte = false;
    return ValidUtf8(article, multibyte) && multibyte ? ArticleEncoding::Utf8
                                                      : ArticleEncoding::Gbk;
}

bool IsMarkdownName(std::string_view fileName) {
    auto endsWith = [fileName](std::string_view suffix) {
        if (fileName.size() < suffix.size()) return false;
        return HasNoCase(fileName, fileName.size() - suffix.size(), suffix);
    };
    return endsWith(".md") || endsWith(".markdown");
}

std::vector<FoundSource> PlainSources(std::string_view s, ArticleEncoding encoding) {
    Sources out;
    for (std::size_t p = NextLt(s, 0); p < s.size();
         p = NextLt(s, IsImgTagStart(s, p) ? PlainMatchAt(s, p, encoding, out) : p + 1)) {
    }
    return out;
}

std::vector<FoundSource> ScanSources(std::string_view article, const ExtensionOptions& options,
                                     ArticleEncoding encoding, bool markdownArticle) {
    Sources out;
    if (options.htmlRules) {
        ReadTags(article, true, options.lazyImages, encoding, out);
    } else {
        if (options.lazyImages) {
            Sources tags;
            PlainAndLazy(article, encoding, out, tags);
            out = MergeByOffset(std::move(out), std::move(tags));
        } else {
            out = PlainSources(article, encoding);
        }
    }
    if (options.markdown && markdownArticle) {
        Sources markdown;
        MarkdownReader(article, encoding).Read(markdown);
        std::stable_sort(markdown.begin(), markdown.end(), ByOffset);
        out = MergeByOffset(std::move(out), std::move(markdown));
    }
    return out;
}

std::vector<FoundSource> KeepLastOccurrences(std::vector<FoundSource> sources) {
    if (sources.size() < 2) return sources;
    std::unordered_map<std::string_view, std::size_t> last;
    for (std::size_t i = 0; i < sources.size(); ++i) last[sources[i].text] = i;
    std::vector<std::size_t> keep;
    keep.reserve(last.size());
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (last[sources[i].text] == i) keep.push_back(i);
    }
    Sources kept;
    kept.reserve(keep.size());
    for (const std::size_t i : keep) kept.push_back(std::move(sources[i]));
    return kept;
}

}  // namespace zembrat::job
