#include "job/markdown_reader.h"

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "job/article_chars.h"
#include "job/commonmark_reader.h"
#include "job/ref_scanner.h"
#include "job/tag_reader.h"

namespace zembrat::job::reading {
namespace {

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

// Hugo's and Hexo's image shortcodes in the article's text: what CommonMark reads as code or
// HTML is skipped.
class ShortcodeReader {
  public:
    ShortcodeReader(std::string_view s, ArticleEncoding encoding) : s_(s), enc_(encoding) {}

    void Read(const Ranges& skipped, Sources& out, ScanPace& pace) {
        std::size_t next = 0;
        for (std::size_t i = 0; i < s_.size() && pace.Passed(i);) {
            while (next < skipped.size() && skipped[next].second <= i) ++next;
            if (next < skipped.size() && skipped[next].first <= i) {
                i = skipped[next].second;
                continue;
            }
            if (s_[i] == '{' && i + 1 < s_.size() && (s_[i + 1] == '{' || s_[i + 1] == '%')) {
                i = s_[i + 1] == '{' ? Figure(i, out) : HexoImage(i, out);
                continue;
            }
            i += Step(s_, i, enc_);
        }
    }

  private:
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
    std::size_t hexoOpenUntil_ = 0;  // a Hexo tag before this has no closing "%}"
};

}  // namespace

// The raw HTML of the article as a browser gets it, one piece after the other, and where each
// piece stands in the article.
struct HtmlPieces {
    std::string page;
    std::vector<std::pair<std::size_t, std::size_t>> starts;  // (in page, in article)
    Ranges ranges;

    HtmlPieces(std::string_view article, Ranges pieces) : ranges(std::move(pieces)) {
        for (const auto& [b, e] : ranges) {
            starts.emplace_back(page.size(), b);
            page.append(article.substr(b, e - b));
            page += '\n';
        }
    }
    // Where page[at, at + length) stands in the article; kNone when it is split between pieces.
    std::size_t ArticleAt(std::size_t at, std::size_t length) const {
        auto it = std::upper_bound(starts.begin(), starts.end(), std::pair{at, kNoOffset});
        if (it == starts.begin()) return kNoOffset;
        --it;
        const std::size_t k = static_cast<std::size_t>(it - starts.begin());
        const std::size_t off = at - it->first;
        if (off + length > ranges[k].second - ranges[k].first) return kNoOffset;
        return it->second + off;
    }
    static constexpr std::size_t kNoOffset = static_cast<std::size_t>(-1);
};

void ReadMarkdown(std::string_view article, ArticleEncoding encoding, bool lazy, Sources& out,
                  ScanPace& pace, SourceEdits* edits) {
    Sources found;
    const std::size_t body = ReadFrontMatter(article, found);
    CommonMarkImages images = ReadCommonMark(article, body, encoding, pace);
    found.insert(found.end(), std::make_move_iterator(images.destinations.begin()),
                 std::make_move_iterator(images.destinations.end()));

    // Each list is in article order: joined, they are put in order by merging.
    Ranges skipped;
    if (body > 0) skipped.emplace_back(0, body);
    skipped.insert(skipped.end(), images.code.begin(), images.code.end());
    skipped.insert(skipped.end(), images.html.begin(), images.html.end());
    SortRuns(skipped, 0, [](const auto& a, const auto& b) { return a < b; });
    pace.Restart();
    ShortcodeReader(article, encoding).Read(skipped, found, pace);
    SortRuns(found, 0, ByOffset);

    // The raw HTML read as a browser reads it, its sources put back where they stand.
    if (!images.html.empty()) {
        const HtmlPieces html(article, std::move(images.html));
        Sources tags;
        SourceEdits tagEdits;
        pace.Restart();
        ReadTagsAsBrowser(html.page, lazy, encoding, tags, pace, edits ? &tagEdits : nullptr);
        for (FoundSource& f : tags) {
            const std::size_t at = html.ArticleAt(f.offset, f.text.size());
            if (at == HtmlPieces::kNoOffset) continue;
            f.offset = at;
            found.push_back(std::move(f));
        }
        for (SourceEdit& e : tagEdits) {
            const std::size_t at = html.ArticleAt(e.offset, e.length);
            if (at == HtmlPieces::kNoOffset) continue;
            e.offset = at;
            edits->push_back(std::move(e));
        }
    }
    SortRuns(found, 0, ByOffset);
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
