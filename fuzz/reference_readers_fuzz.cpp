// The readers of an article's references under every combination of the options, picked by the
// input's first byte; the rest is the article. One input in four is repeated to a few MiB to
// read large articles. Checked besides crashes: the reading stays within a time budget per MiB,
// the sources come sorted by offset and are the article's own bytes there, the default reading
// is the image-tag pattern's, the decider reads what the pattern engine reads, the lazy option
// reads tags as HTML rules do, what a browser never reads as a tag holds no image under HTML
// rules, an indented code block holds no Markdown image, every source the decider keeps stands in
// the article, and each place the rewrite would replace holds its source's text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "automation/regex_object.h"
#include "fuzz_support.h"
#include "job/plain_reader.h"
#include "job/ref_scanner.h"
#include "job/references.h"
#include "platform/event_points.h"
#include "text/gbk.h"

namespace {
using namespace zembrat;

constexpr std::size_t kMaxPlainInput = 64 * 1024;
constexpr std::size_t kLargeArticle = 2 * 1024 * 1024;
// Each reading of an article may take this much processor time per MiB (at least one MiB's
// worth). The fuzzing build's sanitizers and coverage counters make the readers about five to
// ten times slower; a reading that is not linear in the article is still far beyond the bound.
#if defined(__SANITIZE_ADDRESS__)
constexpr double kSecondsPerMiB = 2.0;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr double kSecondsPerMiB = 2.0;
#else
constexpr double kSecondsPerMiB = 0.2;
#endif
#else
constexpr double kSecondsPerMiB = 0.2;
#endif

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Fails when the reading since start took longer than the article's size allows.
void CheckTime(double start, std::size_t articleSize, const char* what) {
    const double mib = std::max(1.0, static_cast<double>(articleSize) / (1024.0 * 1024.0));
    const double spent = ThreadSeconds() - start;
    if (getenv("ZEMBRAT_FUZZ_TIMES") || spent > kSecondsPerMiB * mib)
        std::fprintf(stderr, "%s: %.3f s for %zu bytes\n", what, spent, articleSize);
    FUZZ_CHECK(spent <= kSecondsPerMiB * mib);
}

void CheckSources(std::string_view article, const std::vector<job::FoundSource>& sources) {
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (i) FUZZ_CHECK(sources[i - 1].offset <= sources[i].offset);
        FUZZ_CHECK(sources[i].offset <= article.size());
        FUZZ_CHECK(article.substr(sources[i].offset, sources[i].text.size()) == sources[i].text);
    }
}

// Whether every source of plain stands in found, with the same offset and text, in order.
bool HoldsInOrder(const std::vector<job::FoundSource>& found,
                  const std::vector<job::FoundSource>& plain) {
    std::size_t k = 0;
    for (const job::FoundSource& f : found) {
        if (k < plain.size() && f.offset == plain[k].offset && f.text == plain[k].text) ++k;
    }
    return k == plain.size();
}

// What a browser never reads as a tag holds no image under HTML rules: all that follows
// <plaintext>, and the text of a <textarea> or a comment that is not closed.
void CheckBrowserRules(std::string_view article, job::ArticleEncoding encoding) {
    job::ExtensionOptions html;
    html.htmlRules = html.lazyImages = true;
    const std::string lower = text::AsciiLower(article);
    FUZZ_CHECK(
        job::ScanSources("<plaintext>" + std::string(article), html, encoding, false).empty());
    if (lower.find("</textarea") == std::string::npos)
        FUZZ_CHECK(
            job::ScanSources("<textarea>" + std::string(article), html, encoding, false).empty());
    if (lower.find("-->") == std::string::npos && lower.find("--!>") == std::string::npos)
        FUZZ_CHECK(job::ScanSources("<!-- " + std::string(article), html, encoding, false).empty());
}

// CommonMark shows nothing of an indented code block: the article with every line indented by
// four spaces after a blank line holds no image, whatever it holds (its lines end in line feeds
// only, so that the indentation stands at every line's start).
void CheckCommonMarkRules(std::string_view article, job::ArticleEncoding encoding) {
    if (article.find('\r') != std::string_view::npos) return;
    std::string code = "\n    ";
    for (const char c : article) {
        code += c;
        if (c == '\n') code += "    ";
    }
    job::ExtensionOptions md;
    md.markdown = md.lazyImages = md.htmlRules = true;
    FUZZ_CHECK(job::ScanSources(code, md, encoding, true).empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > kMaxPlainInput) return 0;
    const std::uint8_t pick = data[0];
    job::ExtensionOptions options;
    options.https = pick & 0x01;
    options.lazyImages = pick & 0x02;
    options.htmlRules = pick & 0x04;
    options.markdown = pick & 0x08;
    const bool markdownArticle = pick & 0x10;
    const bool large = (pick & 0xE0) == 0xE0;
    std::string article(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (large && !article.empty()) {
        const std::string once = article;
        while (article.size() < kLargeArticle) article += once;
    }

    // A large article is read once in the encoding a run would read it in, to keep the pace.
    std::vector<job::ArticleEncoding> encodings{job::ArticleEncoding::Gbk,
                                                job::ArticleEncoding::Utf8};
    if (large) encodings = {job::DetectArticleEncoding(article)};
    for (const job::ArticleEncoding encoding : encodings) {
        double start = ThreadSeconds();
        const std::vector<job::FoundSource> plain = job::PlainSources(article, encoding);
        CheckTime(start, article.size(), "plain rule");
        CheckSources(article, plain);

        start = ThreadSeconds();
        const std::vector<job::FoundSource> found =
            job::ScanSources(article, options, encoding, markdownArticle);
        CheckTime(start, article.size(), "chosen options");
        CheckSources(article, found);
        // Only HTML rules, the lazy option (which reads tags as they do) and CommonMark's reading
        // of a Markdown article (whose code holds no images) leave out what the plain rule finds.
        const bool replacesPlain =
            options.htmlRules || options.lazyImages || (options.markdown && markdownArticle);
        if (!replacesPlain) FUZZ_CHECK(HoldsInOrder(found, plain));

        if (large) continue;
        start = ThreadSeconds();
        const std::vector<job::FoundSource> defaults =
            job::ScanSources(article, {}, encoding, markdownArticle);
        CheckTime(start, article.size(), "default options");
        FUZZ_CHECK(defaults == plain);

        job::ExtensionOptions adding;
        adding.lazyImages = adding.markdown = true;
        start = ThreadSeconds();
        const std::vector<job::FoundSource> added =
            job::ScanSources(article, adding, encoding, markdownArticle);
        CheckTime(start, article.size(), "lazy and Markdown");
        CheckSources(article, added);
        if (!markdownArticle) {
            job::ExtensionOptions browser = adding;
            browser.htmlRules = true;
            FUZZ_CHECK(added == job::ScanSources(article, browser, encoding, false));
        }

        CheckBrowserRules(article, encoding);
        if (markdownArticle) CheckCommonMarkRules(article, encoding);
    }

    // The decider, with the image-tag pattern under default options.
    for (const job::ExtensionOptions& rules : {job::ExtensionOptions{}, options}) {
        if (large && rules == job::ExtensionOptions{} && !(options == rules)) continue;
        job::ReferenceDecider decider({pick & 0x20 ? "old.example" : "", "", rules});
        const double start = ThreadSeconds();
        const std::vector<job::RefVerdict> verdicts =
            decider.Decide(article, markdownArticle, platform::NoEventPoints());
        CheckTime(start, article.size(), "decider");
        // In article order: each source is looked for from where the one before it stood.
        std::size_t from = 0;
        for (const job::RefVerdict& v : verdicts) {
            const std::size_t at = std::string_view(article).find(v.sourceValue, from);
            FUZZ_CHECK(at != std::string_view::npos);
            from = at;
            // What the rewrite replaces: the source's own text, at places in article order.
            for (std::size_t k = 0; k < v.places.size(); ++k) {
                FUZZ_CHECK(article.compare(v.places[k], v.sourceValue.size(), v.sourceValue) == 0);
                FUZZ_CHECK(k == 0 || v.places[k - 1] <= v.places[k]);
            }
            FUZZ_CHECK(v.places.empty() || job::RewritesWhereFound(rules));
            if (v.decision != job::RefDecision::Download) continue;
            const std::string scheme = text::AsciiLower(v.address.substr(0, 8));
            FUZZ_CHECK(scheme.rfind("http://", 0) == 0 || (rules.https && scheme == "https://"));
        }
        if (rules == job::ExtensionOptions{} && !large) {
            // The decider's plain rules read what the pattern engine reads, or, like it, nothing.
            automation::PatternMatcher tags;
            tags.SetPattern(job::ImageTagPattern());
            const std::vector<std::string> engine = tags.GroupTexts(article, 2);
            FUZZ_CHECK(decider.LastReadWhole() == !tags.LastSearchHitLimit());
            FUZZ_CHECK(engine.size() == verdicts.size());
            for (std::size_t i = 0; i < engine.size() && i < verdicts.size(); ++i)
                FUZZ_CHECK(engine[i] == verdicts[i].sourceValue);
        }
        if (rules == job::ExtensionOptions{} && decider.LastReadWhole()) {
            // The pattern and the scanner's plain rule read the same sources.
            const std::vector<job::FoundSource> plain =
                job::PlainSources(article, job::ArticleEncoding::Gbk);
            FUZZ_CHECK(plain.size() == verdicts.size());
            for (std::size_t i = 0; i < plain.size() && i < verdicts.size(); ++i)
                FUZZ_CHECK(plain[i].text == verdicts[i].sourceValue);
        }
    }
    return 0;
}
