#include "job/html_tokenizer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "job/article_chars.h"

namespace zembrat::job::reading {
namespace {

constexpr std::size_t kNone = std::string_view::npos;
constexpr std::size_t kNameKept = 16;

bool IsAsciiAlpha(char c) {
    const char l = LowerAscii(c);
    return l >= 'a' && l <= 'z';
}

bool OneOf(std::string_view name, std::span<const std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The start tags that end SVG or MathML content: a browser puts them into the page as HTML.
constexpr std::array<std::string_view, 44> kBreakOut{
    "b",      "big",  "blockquote", "body",  "br",   "center", "code",    "dd",   "div",
    "dl",     "dt",   "em",         "embed", "h1",   "h2",     "h3",      "h4",   "h5",
    "h6",     "head", "hr",         "i",     "img",  "li",     "listing", "menu", "meta",
    "nobr",   "ol",   "p",          "pre",   "ruby", "s",      "small",   "span", "strong",
    "strike", "sub",  "sup",        "table", "tt",   "u",      "ul",      "var"};

constexpr std::array<std::string_view, 5> kRawText{"style", "xmp", "iframe", "noembed", "noframes"};
constexpr std::array<std::string_view, 2> kRcData{"title", "textarea"};

}  // namespace

const HtmlAttribute* HtmlTag::Find(std::string_view lowerName) const {
    for (const HtmlAttribute& a : attributes) {
        if (a.Is(lowerName)) return &a;
    }
    return nullptr;
}

bool HtmlTokenizer::EndTagAt(std::size_t i, std::string_view name) const {
    if (i + 2 + name.size() >= s_.size() || s_[i] != '<' || s_[i + 1] != '/') return false;
    if (!HasNoCase(s_, i + 2, name)) return false;
    const char after = s_[i + 2 + name.size()];
    return IsHtmlSpace(after) || after == '/' || after == '>';
}

std::size_t HtmlTokenizer::RawTextEnd(std::size_t from, std::string_view name) const {
    for (std::size_t lt = NextLt(s_, from); lt < s_.size(); lt = NextLt(s_, lt + 1)) {
        if (EndTagAt(lt, name)) return lt;
    }
    return s_.size();
}

// The script data states: "<!--" escapes the text, in which "<script" escapes it once more,
// so that a "</script>" there does not end it; "-->" goes back.
std::size_t HtmlTokenizer::ScriptEnd(std::size_t i) const {
    enum class State { Data, Escaped, DoubleEscaped } state = State::Data;
    const std::size_t n = s_.size();
    std::size_t dashes = 0;
    auto scriptNameAt = [this, n](std::size_t k) {
        if (k + 6 >= n || !HasNoCase(s_, k, "script")) return false;
        const char after = s_[k + 6];
        return IsHtmlSpace(after) || after == '/' || after == '>';
    };
    while (i < n) {
        if (state == State::Data) {
            i = NextLt(s_, i);
            if (i >= n) return n;
            if (EndTagAt(i, "script")) return i;
            if (s_.substr(i, 4) == "<!--") {
                state = State::Escaped;
                dashes = 2;
                i += 4;
            } else {
                ++i;
            }
            continue;
        }
        const char c = s_[i];
        if (c == '-') {
            ++dashes;
            ++i;
            continue;
        }
        if (c == '>' && dashes >= 2) {
            state = State::Data;
        } else if (c == '<') {
            if (state == State::Escaped) {
                if (EndTagAt(i, "script")) return i;
                if (scriptNameAt(i + 1)) {
                    state = State::DoubleEscaped;
                    i += 7;
                    dashes = 0;
                    continue;
                }
            } else if (i + 1 < n && s_[i + 1] == '/' && scriptNameAt(i + 2)) {
                state = State::Escaped;
                i += 8;
                dashes = 0;
                continue;
            }
        }
        dashes = 0;
        ++i;
    }
    return n;
}

// A comment from just after "<!--": "<!-->" and "<!--->" end at once, otherwise the first "-->"
// or "--!>" ends it, or the end of the page.
std::size_t HtmlTokenizer::CommentEnd(std::size_t k) {
    const std::size_t n = s_.size();
    if (k < n && s_[k] == '>') return k + 1;
    if (k + 1 < n && s_[k] == '-' && s_[k + 1] == '>') return k + 2;
    if (!closeKnown_ || nextClose_ < k) {
        closeKnown_ = true;
        nextClose_ = s_.find("-->", k);
    }
    if (!bangCloseKnown_ || nextBangClose_ < k) {
        bangCloseKnown_ = true;
        nextBangClose_ = s_.find("--!>", k);
    }
    if (nextClose_ == kNone && nextBangClose_ == kNone) return n;
    if (nextBangClose_ == kNone || (nextClose_ != kNone && nextClose_ < nextBangClose_))
        return nextClose_ + 3;
    return nextBangClose_ + 4;
}

// The tag whose name begins after lt's "<" (or "</"); false when the page ends inside it.
bool HtmlTokenizer::ReadTag(std::size_t lt, bool closing, HtmlTag& tag) {
    const std::size_t n = s_.size();
    tag.name.clear();
    tag.attributes.clear();
    tag.selfClosing = tag.inert = false;
    tag.begin = lt;
    tag.closing = closing;
    std::size_t i = lt + (closing ? 2 : 1);
    while (i < n && !IsHtmlSpace(s_[i]) && s_[i] != '/' && s_[i] != '>') {
        if (tag.name.size() < kNameKept) tag.name += LowerAscii(s_[i]);
        ++i;
    }
    tag.nameEnd = i;
    std::string name;
    while (true) {
        while (i < n && IsHtmlSpace(s_[i])) ++i;
        if (i >= n) return false;
        if (s_[i] == '/') {
            ++i;
            if (i >= n) return false;
            if (s_[i] == '>') {
                tag.selfClosing = true;
                tag.end = i + 1;
                return true;
            }
            continue;
        }
        if (s_[i] == '>') {
            tag.end = i + 1;
            return true;
        }
        const std::size_t nameStart = i++;  // a name may begin with "="
        while (i < n && !IsHtmlSpace(s_[i]) && s_[i] != '/' && s_[i] != '>' && s_[i] != '=') ++i;
        name.clear();
        if (i - nameStart <= kNameKept) {
            for (std::size_t k = nameStart; k < i; ++k) name += LowerAscii(s_[k]);
        }
        HtmlAttribute attribute;
        while (i < n && IsHtmlSpace(s_[i])) ++i;
        if (i >= n) return false;
        if (s_[i] == '=') {
            ++i;
            while (i < n && IsHtmlSpace(s_[i])) ++i;
            if (i >= n) return false;
            attribute.hasValue = true;
            if (s_[i] == '"' || s_[i] == '\'') {
                attribute.quoted = true;
                attribute.valueBegin = i + 1;
                const void* close = std::memchr(s_.data() + i + 1, s_[i], n - i - 1);
                if (!close) return false;
                attribute.valueEnd =
                    static_cast<std::size_t>(static_cast<const char*>(close) - s_.data());
                i = attribute.valueEnd + 1;
            } else if (s_[i] == '>') {
                attribute.valueBegin = attribute.valueEnd = i;
            } else {
                attribute.valueBegin = i;
                while (i < n && !IsHtmlSpace(s_[i]) && s_[i] != '>') ++i;
                if (i >= n) return false;
                attribute.valueEnd = i;
            }
        } else {
            attribute.valueBegin = attribute.valueEnd = i;
        }
        if (!closing && !name.empty() && OneOf(name, wanted_) && !tag.Find(name)) {
            attribute.name = name;
            tag.attributes.push_back(std::move(attribute));
        }
    }
}

// What a start tag changes: SVG and MathML content, template content, and the text of raw text
// and RCDATA elements.
void HtmlTokenizer::AfterStartTag(HtmlTag& tag) {
    tag.contentEnd = tag.end;
    if (foreign_ > 0) {
        if (OneOf(tag.name, kBreakOut)) {
            foreign_ = 0;
        } else {
            if ((tag.Is("svg") || tag.Is("math")) && !tag.selfClosing) ++foreign_;
            tag.inert = true;
            return;
        }
    }
    if (tag.Is("image")) tag.name = "img";
    if (tag.Is("svg") || tag.Is("math")) {
        if (!tag.selfClosing) foreign_ = 1;
        tag.inert = true;
        return;
    }
    tag.inert = template_ > 0;
    if (tag.Is("template")) ++template_;
    if (tag.Is("script")) {
        tag.contentEnd = ScriptEnd(tag.end);
    } else if (tag.Is("plaintext")) {
        tag.contentEnd = s_.size();
    } else if (OneOf(tag.name, kRawText) || OneOf(tag.name, kRcData)) {
        tag.contentEnd = RawTextEnd(tag.end, tag.name);
    }
}

bool HtmlTokenizer::Next(HtmlTag& tag) {
    const std::size_t n = s_.size();
    while (pos_ < n) {
        const std::size_t lt = NextLt(s_, pos_);
        if (lt + 1 >= n) {
            pos_ = n;
            return false;
        }
        const char c = s_[lt + 1];
        if (IsAsciiAlpha(c)) {
            if (!ReadTag(lt, false, tag)) {
                pos_ = n;
                return false;
            }
            AfterStartTag(tag);
            pos_ = tag.contentEnd;
            return true;
        }
        if (c == '/') {
            if (lt + 2 >= n) {
                pos_ = n;
                return false;
            }
            if (IsAsciiAlpha(s_[lt + 2])) {
                if (!ReadTag(lt, true, tag)) {
                    pos_ = n;
                    return false;
                }
                tag.contentEnd = tag.end;
                if (foreign_ > 0 && (tag.Is("svg") || tag.Is("math"))) --foreign_;
                if (foreign_ == 0 && tag.Is("template") && template_ > 0) --template_;
                tag.inert = foreign_ > 0 || template_ > 0;
                pos_ = tag.end;
                return true;
            }
            if (s_[lt + 2] == '>') {
                pos_ = lt + 3;
                continue;
            }
        } else if (c == '!') {
            if (s_.substr(lt, 4) == "<!--") {
                pos_ = CommentEnd(lt + 4);
                continue;
            }
            if (foreign_ > 0 && s_.substr(lt, 9) == "<![CDATA[") {
                const std::size_t close = s_.find("]]>", lt + 9);
                pos_ = close == kNone ? n : close + 3;
                continue;
            }
        } else if (c != '?') {
            pos_ = lt + 1;
            continue;
        }
        // A bogus comment, a DOCTYPE or a CDATA section outside foreign content: up to ">".
        const std::size_t close = s_.find('>', lt + 2);
        pos_ = close == kNone ? n : close + 1;
    }
    return false;
}

}  // namespace zembrat::job::reading
