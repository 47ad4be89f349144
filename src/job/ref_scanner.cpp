#include "job/ref_scanner.h"

#include <unordered_map>

#include "job/article_chars.h"
#include "job/markdown_reader.h"
#include "job/plain_reader.h"
#include "job/tag_reader.h"

namespace zembrat::job {
using reading::ScanPace;

std::vector<FoundSource> ScanSources(std::string_view article, const ExtensionOptions& options,
                                     ArticleEncoding encoding, bool markdownArticle,
                                     platform::EventPoints* events, SourceEdits* edits) {
    ScanPace pace(events);
    Sources out;
    if (options.markdown && markdownArticle) {
        reading::ReadMarkdown(article, encoding, options.lazyImages, out, pace, edits);
        return out;
    }
    // The lazy attributes are read in tags read as a browser reads them, as HTML rules read.
    if (options.htmlRules || options.lazyImages)
        reading::ReadTagsAsBrowser(article, options.lazyImages, encoding, out, pace, edits);
    else
        reading::ReadPlain(article, encoding, out, pace);
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
