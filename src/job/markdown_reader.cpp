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

class MarkdownReader {
  public:
    MarkdownReader(std::string_view s, ArticleEncoding encoding) : s_(s), enc_(encoding) {}

    void Read(Sources& out, ScanPace& pace) {
        std::unordered_set<std::string> used;
        std::unordered_map<std::string, FoundSource> definitions;
        for (std::size_t i = 0; i < s_.size() && pace.Passed(i);) {
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

    std::string_view s_;
    ArticleEncoding enc_;
    std::optional<ImageLabels> imageLabels_;  // made at the first image
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
