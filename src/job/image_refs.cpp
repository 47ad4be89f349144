#include "job/image_refs.h"

#include <algorithm>
#include <unordered_map>

#include "automation/regex_object.h"
#include "job/ref_scanner.h"
#include "platform/event_points.h"
#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::job {

using namespace text::literals;

const std::string& ImageTagPattern() {
    static const std::string pattern = R"(<img .*?src=("|'|)([^"'<> ]+)("|'|).*?>)";
    return pattern;
}

std::vector<std::string> RemoveDuplicates(std::vector<std::string> list,
                                          platform::EventPoints& events) {
    if (list.size() < 2) return list;
    // One pass with the index of each text's last occurrence: comparing every pair would take
    // a long article's thousands of tags into hundreds of millions of comparisons.
    std::unordered_map<std::string_view, std::size_t> last;
    last.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) last[list[i]] = i;
    std::vector<std::string> kept;
    kept.reserve(last.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (last[list[i]] == i) kept.push_back(list[i]);
        events.ProcessEvents();
    }
    return kept;
}

void AddQueuedRow(JobWindow& window, const std::string& address) {
    window.InsertRow(0, StatusIcon::Queued);
    window.SetCellText(0, 0, "队列中.."_gbk);
    window.SetCellText(0, 1, address);
}

bool ReadsReferencesDifferently(const ExtensionOptions& options) {
    return options.https || options.lazyImages || options.htmlRules || options.markdown;
}

std::vector<ImageRef> CollectImageRefs(std::string_view article, automation::PatternMatcher& tags,
                                       automation::PatternMatcher& excludes, JobWindow& window,
                                       platform::EventPoints& events,
                                       const ExtensionOptions& options, bool markdownArticle) {
    // Each found source: the text the rewrite replaces, and what is fetched when it differs.
    std::vector<std::string> sources;
    std::vector<std::string> fetched;
    if (ReadsReferencesDifferently(options)) {
        std::vector<FoundSource> found = KeepLastOccurrences(
            ScanSources(article, options, DetectArticleEncoding(article), markdownArticle));
        sources.reserve(found.size());
        fetched.reserve(found.size());
        for (FoundSource& source : found) {
            events.ProcessEvents();
            fetched.push_back(source.Fetched());
            sources.push_back(std::move(source.text));
        }
    } else {
        // The article is read where it lies and the search lets go of its decoded copy at once.
        sources = RemoveDuplicates(tags.GroupTexts(article, 2), events);
    }
    window.ClearRows();

    // The boxes are locked for the run, so their texts are read once per article.
    const std::string oldPrefix = window.EditText(EditBox::OldPrefix);
    const bool excluding = !window.EditText(EditBox::ExcludedRanges).empty();
    // Walked from the last to the first, so that rows inserted at the top end in article order.
    std::vector<ImageRef> refs;
    for (std::size_t k = sources.size(); k-- > 0;) {
        std::string a = text::Trim(fetched.empty() ? sources[k] : fetched[k]);
        if (a.empty()) continue;
        if (fetched.empty()) {
            if (a[0] == '/') {
                if (oldPrefix.empty()) continue;
                a = "http://" + oldPrefix + a;
            }
            if (text::AsciiLower(a.substr(0, 7)) != "http://") continue;
        } else {
            std::optional<std::string> completed = CompleteAddress(a, oldPrefix, options.https);
            if (!completed) continue;
            a = std::move(*completed);
        }
        if (excluding && excludes.Execute(a) > 0) continue;
        AddQueuedRow(window, a);
        events.ProcessEvents();
        refs.push_back({std::move(sources[k]), std::move(a)});
    }
    std::reverse(refs.begin(), refs.end());
    return refs;
}

}  // namespace zembrat::job
