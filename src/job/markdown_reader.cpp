#include "job/markdown_reader.h"

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "job/article_chars.h"
#include "job/ref_scanner.h"

namespace zembrat::job::reading {
namespace {

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

// The deepest nesting of parentheses a link destination may hold (Markdown renderers bound
// it too): a run of unclosed "(" is given up on after this many instead of walked to its end.
constexpr int kMaxDestinationParens = 32;

// Walks the article's characters as the Markdown reading steps over them: a backslash and the
// character after it are one step.
std::size_t MarkdownStep(std::string_view s, std::size_t k, ArticleEncoding encoding) {
    if (s[k] == '\\') return k + 1 < s.size() ? 1 + Step(s, k + 1, encoding) : 1;
    return Step(s, k, encoding);
}

// The closing "]" of every image's "![" label, found in one walk over the brackets from the
// first image on, so that each image does not walk the brackets after it again. A label ends
// at the "]" that closes its "[" (brackets nest) and not past a blank line.
class ImageLabels {
  public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    ImageLabels(std::string_view s, ArticleEncoding encoding, std::size_t from) {
        std::vector<std::size_t> open;  // index in labels_, or kNone for a "[" of no image
        bool blankLine = false;
        for (std::size_t k = from; k < s.size(); k += MarkdownStep(s, k, encoding)) {
            const char c = s[k];
            if (c == '\\') continue;
            if (c == '\n') {
                if (blankLine) open.clear();
                blankLine = true;
            } else if (!IsHtmlSpace(c)) {
                blankLine = false;
            }
            if (c == '[') {
                if (k > 0 && s[k - 1] == '!') {
                    labels_.push_back({k, kNone});
                    open.push_back(labels_.size() - 1);
                } else {
                    open.push_back(kNone);
                }
            } else if (c == ']' && !open.empty()) {
                if (open.back() != kNone) labels_[open.back()].second = k;
                open.pop_back();
            }
        }
    }

    // The "]" that closes the label whose "[" stands at open; kNone when it is not closed.
    // Asked in article order.
    std::size_t CloseOf(std::size_t open) {
        while (next_ < labels_.size() && labels_[next_].first < open) ++next_;
        return next_ < labels_.size() && labels_[next_].first == open ? labels_[next_].second
                                                                      : kNone;
    }

  private:
    std::vector<std::pair<std::size_t, std::size_t>> labels_;  // "[" and its "]", by "["
    std::size_t next_ = 0;
};

// The pieces of a Markdown article that are not read for images, in article order: the front
// matter, fenced code blocks and code spans. Found in one walk over the lines and one over the
// backtick runs.
class CodeRanges {
  public:
    CodeRanges(std::string_view s, ArticleEncoding encoding, std::size_t frontMatterEnd)
        : s_(s), enc_(encoding) {
        if (frontMatterEnd > 0) ranges_.push_back({0, frontMatterEnd});
        FindBlocksAndSpans(frontMatterEnd);
    }

    // Where reading goes on from i: the end of the range i stands in, or i. Asked with
    // positions that only grow.
    std::size_t Skip(std::size_t i) {
        while (next_ < ranges_.size() && ranges_[next_].second <= i) ++next_;
        if (next_ < ranges_.size() && ranges_[next_].first <= i) return ranges_[next_].second;
        return i;
    }

  private:
    struct Run {
        std::size_t at, length, part;  // part: the paragraph it stands in
    };

    // The end of the line that begins at i, past its line break.
    std::size_t LineEnd(std::size_t i) const {
        const std::size_t lf = s_.find('\n', i);
        return lf == std::string_view::npos ? s_.size() : lf + 1;
    }

    // A fence at the line beginning at i: its character and length (0: none).
    std::size_t Fence(std::size_t i, std::size_t lineEnd, char& mark) const {
        std::size_t k = i;
        while (k < lineEnd && k - i < 3 && s_[k] == ' ') ++k;
        if (k >= lineEnd || (s_[k] != '`' && s_[k] != '~')) return 0;
        mark = s_[k];
        std::size_t run = k;
        while (run < lineEnd && s_[run] == mark) ++run;
        if (run - k < 3) return 0;
        // A backtick fence's info text holds no backtick.
        if (mark == '`' && s_.substr(run, lineEnd - run).find('`') != std::string_view::npos)
            return 0;
        return run - k;
    }

    bool Closes(std::size_t i, std::size_t lineEnd, char mark, std::size_t length) const {
        char m = 0;
        std::size_t k = i;
        while (k < lineEnd && k - i < 3 && s_[k] == ' ') ++k;
        const std::size_t run = Fence(i, lineEnd, m);
        if (run == 0 || m != mark || run < length) return false;
        for (k += run; k < lineEnd; ++k) {
            if (!IsHtmlSpace(s_[k])) return false;
        }
        return true;
    }

    void FindBlocksAndSpans(std::size_t from) {
        std::vector<Run> runs;
        std::size_t part = 0;
        for (std::size_t line = from; line < s_.size();) {
            const std::size_t lineEnd = LineEnd(line);
            char mark = 0;
            if (const std::size_t length = Fence(line, lineEnd, mark)) {
                std::size_t close = lineEnd;
                while (close < s_.size() && !Closes(close, LineEnd(close), mark, length))
                    close = LineEnd(close);
                const std::size_t end = close < s_.size() ? LineEnd(close) : s_.size();
                ranges_.push_back({line, end});
                ++part;
                line = end;
                continue;
            }
            bool blank = true;
            for (std::size_t k = line; k < lineEnd;) {
                if (!IsHtmlSpace(s_[k])) blank = false;
                if (s_[k] == '\\' && k + 1 < lineEnd && s_[k + 1] == '`') {
                    k += 2;  // an escaped backtick opens nothing
                    while (k < lineEnd && s_[k] == '`') ++k;
                    continue;
                }
                if (s_[k] == '`') {
                    std::size_t r = k;
                    while (r < lineEnd && s_[r] == '`') ++r;
                    runs.push_back({k, r - k, part});
                    k = r;
                    continue;
                }
                k += Step(s_, k, enc_);
            }
            if (blank) ++part;
            line = lineEnd;
        }
        PairRuns(runs);
        std::sort(ranges_.begin(), ranges_.end());
    }

    // Each run opens a span closed by the next run of the same length in the same paragraph;
    // one without such a run is text. For each length, the runs are looked at in order once.
    void PairRuns(const std::vector<Run>& runs) {
        std::unordered_map<std::size_t, std::vector<std::size_t>> byLength;
        for (std::size_t k = 0; k < runs.size(); ++k) byLength[runs[k].length].push_back(k);
        std::unordered_map<std::size_t, std::size_t> seen;  // per length: how far looked
        for (std::size_t k = 0; k < runs.size();) {
            const std::vector<std::size_t>& same = byLength[runs[k].length];
            std::size_t& at = seen[runs[k].length];
            while (at < same.size() && same[at] <= k) ++at;
            if (at < same.size() && runs[same[at]].part == runs[k].part) {
                const Run& close = runs[same[at]];
                ranges_.push_back({runs[k].at, close.at + close.length});
                k = same[at] + 1;
            } else {
                ++k;
            }
        }
    }

    std::string_view s_;
    ArticleEncoding enc_;
    std::vector<std::pair<std::size_t, std::size_t>> ranges_;  // [begin, end)
    std::size_t next_ = 0;
};

// The value at s[begin, end) without white space around it and without one pair of quotes.
std::pair<std::size_t, std::size_t> Unquoted(std::string_view s, std::size_t begin,
                                             std::size_t end) {
    while (begin < end && IsHtmlSpace(s[begin])) ++begin;
    while (end > begin && IsHtmlSpace(s[end - 1])) --end;
    if (end - begin >= 2 && (s[begin] == '"' || s[begin] == '\'') && s[end - 1] == s[begin])
        return {begin + 1, end - 1};
    return {begin, end};
}

// The front matter at the article's top ("---" or "+++" lines around it): its cover, image and
// thumbnail fields (YAML "key: value" or TOML "key = value", at any depth). Returns where the
// front matter ends, 0 when there is none.
std::size_t ReadFrontMatter(std::string_view s, Sources& out) {
    std::size_t i = s.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    auto lineEnd = [s](std::size_t k) {
        const std::size_t lf = s.find('\n', k);
        return lf == std::string_view::npos ? s.size() : lf + 1;
    };
    auto isFence = [s](std::size_t k, std::size_t end, std::string_view fence) {
        if (s.substr(k, end - k).substr(0, 3) != fence) return false;
        for (k += 3; k < end; ++k) {
            if (!IsHtmlSpace(s[k])) return false;
        }
        return true;
    };
    std::size_t first = lineEnd(i);
    std::string_view fence;
    if (isFence(i, first, "---"))
        fence = "---";
    else if (isFence(i, first, "+++"))
        fence = "+++";
    else
        return 0;
    Sources fields;
    for (std::size_t line = first; line < s.size();) {
        const std::size_t end = lineEnd(line);
        if (isFence(line, end, fence)) {
            out.insert(out.end(), fields.begin(), fields.end());
            return end;
        }
        std::size_t k = line;
        while (k < end && (s[k] == ' ' || s[k] == '\t')) ++k;
        const std::size_t key = k;
        while (k < end && (IsAsciiAlnum(s[k]) || s[k] == '_')) ++k;
        std::string name;
        for (std::size_t c = key; c < k && c - key < 10; ++c) name += LowerAscii(s[c]);
        while (k < end && (s[k] == ' ' || s[k] == '\t')) ++k;
        if (k < end && (s[k] == ':' || s[k] == '=') &&
            (name == "cover" || name == "image" || name == "thumbnail")) {
            const auto [b, e] = Unquoted(s, k + 1, end);
            if (e > b) fields.push_back(Found(s, b, e));
        }
        line = end;
    }
    return 0;  // never closed: no front matter
}

class MarkdownReader {
  public:
    MarkdownReader(std::string_view s, ArticleEncoding encoding) : s_(s), enc_(encoding) {}

    void Read(Sources& out, ScanPace& pace) {
        std::unordered_set<std::string> used;
        std::unordered_map<std::string, FoundSource> definitions;
        CodeRanges code(s_, enc_, ReadFrontMatter(s_, out));
        for (std::size_t i = 0; i < s_.size() && pace.Passed(i);) {
            if (const std::size_t after = code.Skip(i); after != i) {
                i = after;
                continue;
            }
            if (s_[i] == '{' && i + 1 < s_.size() && (s_[i + 1] == '{' || s_[i + 1] == '%')) {
                i = s_[i + 1] == '{' ? Figure(i, out) : HexoImage(i, out);
                continue;
            }
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

    // A bracketed label from i ("[") without brackets inside (an image's own label is found
    // by ImageLabels); end after "]".
    bool Label(std::size_t i, std::size_t& inner, std::size_t& innerEnd, std::size_t& end) const {
        inner = i + 1;
        bool blankLine = false;
        for (std::size_t k = i + 1; k < s_.size(); k += MarkdownStep(s_, k, enc_)) {
            const char c = s_[k];
            if (c == '\\') continue;
            if (c == '\n') {
                if (blankLine) return false;
                blankLine = true;
            } else if (!IsHtmlSpace(c)) {
                blankLine = false;
            }
            if (c == '[') return false;
            if (c == ']') {
                innerEnd = k;
                end = k + 1;
                return true;
            }
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
            if (c == '(' && ++depth > kMaxDestinationParens) return false;
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
            if (c == '(' && open == '(') break;  // a parenthesised title holds no "("
            k += Step(s_, k, enc_);
        }
        ok = false;
        return i;
    }

    FoundSource Dest(std::size_t begin, std::size_t stop) const {
        return FoundDecoded(s_, begin, stop, enc_, true);
    }

    bool Image(std::size_t i, Sources& out, std::unordered_set<std::string>& used,
               std::size_t& end) {
        if (!imageLabels_) imageLabels_.emplace(s_, enc_, i + 1);
        const std::size_t close = imageLabels_->CloseOf(i + 1);
        if (close == ImageLabels::kNone) return false;
        const std::size_t alt = i + 2, altEnd = close, after = close + 1;
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
            if (!Label(after, label, labelEnd, k)) return false;
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
        if (!Label(k, label, labelEnd, after)) return false;
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

    // Hugo's {{< figure ... >}} or {{% figure ... %}} at i: its src, once its closing ">}}" or
    // "%}}" is found before the next "{{". Returns where reading goes on.
    std::size_t Figure(std::size_t i, Sources& out) const {
        std::size_t k = i + 2;
        if (k >= s_.size() || (s_[k] != '<' && s_[k] != '%')) return i + 1;
        const char closer = s_[k++] == '<' ? '>' : '%';  // what stands before the closing "}}"
        while (k < s_.size() && IsHtmlSpace(s_[k])) ++k;
        if (!HasNoCase(s_, k, "figure") || k + 6 >= s_.size() || !IsHtmlSpace(s_[k + 6]))
            return i + 1;
        std::size_t b = 0, e = 0;
        char quote = 0;  // inside a quoted value
        for (k += 6; k < s_.size();) {
            const char c = s_[k];
            if (c == '{' && s_.substr(k + 1, 1) == "{") return k;
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == closer && s_.substr(k + 1, 2) == "}}") {
                if (e > b) out.push_back(Found(s_, b, e));
                return k + 3;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (e == 0 && IsHtmlSpace(s_[k - 1]) && HasNoCase(s_, k, "src=")) {
                b = e = k + 4;
                if (b < s_.size() && (s_[b] == '"' || s_[b] == '\'')) {
                    const std::size_t close = s_.find(s_[b], b + 1);
                    if (close == std::string_view::npos) return i + 1;
                    e = close;
                    ++b;
                } else {
                    while (e < s_.size() && !IsHtmlSpace(s_[e]) && s_[e] != closer) ++e;
                }
                k = std::max(e, b + 1);
                if (k < s_.size() && (s_[k] == '"' || s_[k] == '\'')) ++k;
                continue;
            }
            k += Step(s_, k, enc_);
        }
        return i + 1;
    }

    // Hexo's {% img [class names] url [width height] [title] %} at i, on one line: the first
    // word that begins with "/" or holds "://" is the url. Returns where reading goes on.
    std::size_t HexoImage(std::size_t i, Sources& out) {
        std::size_t k = i + 2;
        while (k < s_.size() && (s_[k] == ' ' || s_[k] == '\t')) ++k;
        if (!HasNoCase(s_, k, "img") || k + 3 >= s_.size() || !IsHtmlSpace(s_[k + 3])) return i + 1;
        if (k < hexoOpenUntil_) return i + 1;
        const std::size_t lf = std::min(s_.find('\n', k), s_.size());
        const std::size_t close = s_.substr(0, lf).find("%}", k);
        if (close == std::string_view::npos) {
            hexoOpenUntil_ = lf;  // no later tag on this line is closed either
            return i + 1;
        }
        for (k += 3; k < close;) {
            while (k < close && IsHtmlSpace(s_[k])) ++k;
            const std::size_t word = k;
            while (k < close && !IsHtmlSpace(s_[k])) ++k;
            const std::string_view w = s_.substr(word, k - word);
            if (!w.empty() && (w[0] == '/' || w.find("://") != std::string_view::npos)) {
                out.push_back(Found(s_, word, k));
                break;
            }
        }
        return close + 2;
    }

    std::string_view s_;
    ArticleEncoding enc_;
    std::optional<ImageLabels> imageLabels_;  // made at the first image
    std::size_t hexoOpenUntil_ = 0;           // a Hexo tag before this has no closing "%}"
};

}  // namespace

void ReadMarkdown(std::string_view article, ArticleEncoding encoding, Sources& out,
                  ScanPace& pace) {
    Sources found;
    MarkdownReader(article, encoding).Read(found, pace);
    std::stable_sort(found.begin(), found.end(), [](const FoundSource& a, const FoundSource& b) {
        return a.offset < b.offset;
    });
    out.insert(out.end(), std::make_move_iterator(found.begin()),
               std::make_move_iterator(found.end()));
}

}  // namespace zembrat::job::reading

namespace zembrat::job {

bool IsMarkdownName(std::string_view fileName) {
    auto endsWith = [fileName](std::string_view suffix) {
        if (fileName.size() < suffix.size()) return false;
        return reading::HasNoCase(fileName, fileName.size() - suffix.size(), suffix);
    };
    return endsWith(".md") || endsWith(".markdown");
}

}  // namespace zembrat::job
