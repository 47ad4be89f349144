#include "job/ref_decisions.h"

#include <unordered_map>

#include "automation/regex_object.h"
#include "job/image_refs.h"
#include "text/gbk.h"

namespace zembrat::job {
namespace {

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

}  // namespace

std::vector<RefVerdict> DecideImageRefs(std::string_view article, std::string_view oldPrefix,
                                        std::string_view excludedRanges) {
    automation::PatternMatcher tags;
    tags.SetPattern(ImageTagPattern());
    std::vector<std::string> sources = tags.GroupTexts(article, 2);
    std::vector<RefVerdict> verdicts;
    verdicts.reserve(sources.size());
    for (std::string& source : sources) verdicts.push_back({std::move(source), {}, {}, {}});

    std::unordered_map<std::string_view, std::size_t> last;
    for (std::size_t i = 0; i < verdicts.size(); ++i) last[verdicts[i].sourceValue] = i;

    const bool excluding = !excludedRanges.empty();
    automation::PatternMatcher excludes;
    std::vector<std::string> ranges;
    if (excluding) {
        excludes.SetPattern(automation::PatternMatcher::WildcardToPattern(excludedRanges));
        ranges = SplitRanges(excludedRanges);
    }
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
        RefVerdict& v = verdicts[i];
        if (last[v.sourceValue] != i) {
            v.decision = RefDecision::Duplicate;
            continue;
        }
        std::string a = text::Trim(v.sourceValue);
        if (a.empty()) {
            v.decision = RefDecision::Empty;
            continue;
        }
        if (a[0] == '/') {
            if (oldPrefix.empty()) {
                v.decision = RefDecision::RelativeNoPrefix;
                continue;
            }
            a = "http://" + std::string(oldPrefix) + a;
        }
        v.address = a;
        if (text::AsciiLower(a.substr(0, 7)) != "http://") {
            v.decision = RefDecision::NotHttp;
            continue;
        }
        if (excluding && excludes.Execute(a) > 0) {
            v.decision = RefDecision::Excluded;
            // The combined pattern decides; the first range that matches alone names it.
            for (const std::string& range : ranges) {
                automation::PatternMatcher one;
                one.SetPattern(automation::PatternMatcher::WildcardToPattern(range));
                if (one.Execute(a) > 0) {
                    v.range = range;
                    break;
                }
            }
            continue;
        }
        v.decision = RefDecision::Download;
    }
    return verdicts;
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
