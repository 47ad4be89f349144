#include "job/references.h"

#include <unordered_map>

#include "automation/regex_object.h"
#include "job/plain_reader.h"
#include "job/ref_scanner.h"
#include "platform/event_points.h"
#include "text/gbk.h"
#include "text/percent_encoding.h"

namespace zembrat::job {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           text::AsciiLower(text.substr(0, prefix.size())) == prefix;
}

// The ranges one by one, as the combined pattern's alternatives stand in it.
std::vector<std::string> SplitRanges(std::string_view ranges) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t bar = ranges.find('|', start);
        parts.emplace_back(ranges.substr(start, bar - start));
        if (bar == std::string_view::npos) break;
        start = bar + 1;
    }
    return parts;
}

// Whether each element is the last occurrence of its text; events are processed once per
// element examined, as the plain rules' duplicate removal does.
template <typename Text>
std::vector<bool> LastOccurrences(const std::vector<Text>& texts, platform::EventPoints& events) {
    std::vector<bool> last(texts.size(), true);
    if (texts.size() < 2) return last;
    std::unordered_map<std::string_view, std::size_t> at;
    at.reserve(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) at[std::string_view(texts[i])] = i;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        last[i] = at[std::string_view(texts[i])] == i;
        events.ProcessEvents();
    }
    return last;
}

}  // namespace

const std::string& ImageTagPattern() {
    static const std::string pattern = R"(<img .*?src=("|'|)([^"'<> ]+)("|'|).*?>)";
    return pattern;
}

bool ReadsReferencesDifferently(const ExtensionOptions& options) {
    return options.https || options.lazyImages || options.htmlRules || options.markdown;
}

bool RewritesWhereFound(const ExtensionOptions& options) {
    return options.lazyImages || options.htmlRules || options.markdown;
}

Completion CompleteAddress(std::string_view a, std::string_view oldPrefix, bool https) {
    if (a.empty()) return {{}, RefDecision::Empty};
    std::string address(a);
    if (a.starts_with("//")) {
        address = (https ? "https:" : "http:") + address;
    } else if (a[0] == '/') {
        if (oldPrefix.empty()) return {{}, RefDecision::RelativeNoPrefix};
        address = "http://" + std::string(oldPrefix) + address;
    }
    if (StartsWithNoCase(address, "http://") || (https && StartsWithNoCase(address, "https://")))
        return {std::move(address), RefDecision::Download};
    return {std::move(address), RefDecision::NotHttp};
}

struct ReferenceDecider::Patterns {
    automation::PatternMatcher tags;
    automation::PatternMatcher excludes;
    std::vector<std::string> ranges;
    // Each range alone, compiled when an exclusion first needs its name.
    std::vector<std::unique_ptr<automation::PatternMatcher>> single;
};

ReferenceDecider::ReferenceDecider(ReferenceRules rules)
    : rules_(std::move(rules)), patterns_(std::make_unique<Patterns>()) {
    patterns_->tags.SetPattern(ImageTagPattern());
    if (!rules_.excludedRanges.empty()) {
        patterns_->excludes.SetPattern(
            automation::PatternMatcher::WildcardToPattern(rules_.excludedRanges));
        patterns_->ranges = SplitRanges(rules_.excludedRanges);
        patterns_->single.resize(patterns_->ranges.size());
    }
}

ReferenceDecider::~ReferenceDecider() = default;

std::string ReferenceDecider::ExcludingRange(const std::string& address) {
    // The combined pattern decides; the first range that matches alone names it.
    for (std::size_t i = 0; i < patterns_->ranges.size(); ++i) {
        auto& one = patterns_->single[i];
        if (!one) {
            one = std::make_unique<automation::PatternMatcher>();
            one->SetPattern(automation::PatternMatcher::WildcardToPattern(patterns_->ranges[i]));
        }
        if (one->Execute(address) > 0) return patterns_->ranges[i];
    }
    return {};
}

std::vector<RefVerdict> ReferenceDecider::Decide(std::string_view article, bool markdownArticle,
                                                 platform::EventPoints& events) {
    const ExtensionOptions& options = rules_.options;
    std::vector<RefVerdict> verdicts;
    readWhole_ = true;
    // What each occurrence is fetched as, when it differs from its source text.
    std::vector<std::string> fetched;
    std::vector<std::size_t> offsets;  // where each occurrence stands, when the rewrite needs it
    SourceEdits edits;
    // The article's encoding, found once when something needs it.
    std::optional<ArticleEncoding> encoding;
    const auto encodingOf = [&] {
        if (!encoding) encoding = DetectArticleEncoding(article);
        return *encoding;
    };
    if (ReadsReferencesDifferently(options)) {
        std::vector<FoundSource> found =
            ScanSources(article, options, encodingOf(), markdownArticle, &events, &edits);
        verdicts.reserve(found.size());
        fetched.reserve(found.size());
        if (RewritesWhereFound(options)) offsets.reserve(found.size());
        for (FoundSource& source : found) {
            fetched.push_back(source.Fetched());
            if (RewritesWhereFound(options)) offsets.push_back(source.offset);
            verdicts.push_back({std::move(source.text), {}, RefDecision::Download, {}});
        }
    } else {
        // Most articles are read by a walk over their bytes that finds what the pattern finds;
        // the others by the pattern, on the article where it lies, its decoded copy let go of
        // at once.
        std::optional<std::vector<std::string>> byBytes;
        if (patterns_->tags.HasComponent()) byBytes = PatternSourcesByBytes(article);
        std::vector<std::string> sources =
            byBytes ? std::move(*byBytes) : patterns_->tags.GroupTexts(article, 2);
        readWhole_ = byBytes || !patterns_->tags.LastSearchHitLimit();
        verdicts.reserve(sources.size());
        for (std::string& source : sources)
            verdicts.push_back({std::move(source), {}, RefDecision::Download, {}});
    }

    std::vector<std::string_view> texts;
    texts.reserve(verdicts.size());
    for (const RefVerdict& v : verdicts) texts.emplace_back(v.sourceValue);
    const std::vector<bool> last = LastOccurrences(texts, events);
    if (!edits.empty() || !offsets.empty()) {
        std::unordered_map<std::string_view, std::size_t> lastAt;
        for (std::size_t i = 0; i < verdicts.size(); ++i) {
            if (last[i]) lastAt[texts[i]] = i;
        }
        // Every place of a text goes to the verdict that downloads it, in article order.
        for (std::size_t i = 0; i < offsets.size(); ++i)
            verdicts[lastAt.at(texts[i])].places.push_back(offsets[i]);
        for (SourceEdit& edit : edits) {
            const auto at = lastAt.find(edit.source);
            if (at != lastAt.end()) verdicts[at->second].edits.push_back(std::move(edit));
        }
    }

    const bool excluding = !rules_.excludedRanges.empty();
    // An article in UTF-8 names its images in UTF-8: those bytes are what the site knows.
    bool utf8 = false;
    for (const RefVerdict& v : verdicts) {
        for (const char c : v.sourceValue) utf8 = utf8 || static_cast<unsigned char>(c) >= 0x80;
    }
    utf8 = utf8 && encodingOf() == ArticleEncoding::Utf8;
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
        RefVerdict& v = verdicts[i];
        if (!last[i]) {
            v.decision = RefDecision::Duplicate;
            continue;
        }
        Completion c = CompleteAddress(text::Trim(fetched.empty() ? v.sourceValue : fetched[i]),
                                       rules_.oldPrefix, options.https);
        v.address = std::move(c.address);
        v.decision = c.decision;
        if (v.decision != RefDecision::Download) continue;
        if (excluding && patterns_->excludes.Execute(v.address) > 0) {
            v.decision = RefDecision::Excluded;
            v.range = ExcludingRange(v.address);
        } else if (utf8) {
            // An article in UTF-8 asks for its addresses with their bytes as they stand.
            v.address = text::PercentEncoded(v.address, text::UrlKeeps::Ascii);
        }
    }
    return verdicts;
}

std::vector<ImageRef> KeptReferences(const std::vector<RefVerdict>& verdicts) {
    std::vector<ImageRef> refs;
    for (const RefVerdict& v : verdicts) {
        if (v.decision == RefDecision::Download) refs.push_back({v.sourceValue, v.address});
    }
    return refs;
}

std::string DecisionText(const RefVerdict& verdict) {
    switch (verdict.decision) {
        case RefDecision::Download:
            return "download";
        case RefDecision::Empty:
            return "empty";
        case RefDecision::RelativeNoPrefix:
            return "relative with no old prefix";
        case RefDecision::NotHttp:
            return "not http";
        case RefDecision::Excluded:
            return "excluded by " + verdict.range;
        case RefDecision::Duplicate:
            return "duplicate in the article";
    }
    return {};
}

}  // namespace zembrat::job
