#include "job/ref_scanner.h"

#include <algorithm>
#include <unordered_map>

#include "job/article_chars.h"
#include "job/markdown_reader.h"
#include "job/plain_reader.h"
#include "job/tag_reader.h"

namespace zembrat::job {
namespace {

using reading::ByOffset;
using reading::ScanPace;

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

// The plain rule and the plain reading of the lazy attributes in one walk over the "<" of the
// article: the plain rule first at each, so that the tag reading can leave out what it found.
void PlainAndLazy(std::string_view s, ArticleEncoding encoding, Sources& plain, Sources& tags,
                  ScanPace& pace, SourceEdits* edits) {
    reading::PlainReader plainReader(s, encoding);
    reading::TagReader tagReader(s, false, true, encoding, &plain, edits);
    std::size_t plainNext = 0, tagNext = 0;
    for (std::size_t lt = reading::NextLt(s, 0); lt < s.size() && pace.Passed(lt);
         lt = reading::NextLt(s, std::min(plainNext, tagNext))) {
        if (lt >= plainNext) {
            plainNext = reading::IsImgTagStart(s, lt) ? plainReader.MatchAt(lt, plain) : lt + 1;
        }
        if (lt >= tagNext) tagNext = tagReader.At(lt, tags);
    }
}

}  // namespace

std::vector<FoundSource> ScanSources(std::string_view article, const ExtensionOptions& options,
                                     ArticleEncoding encoding, bool markdownArticle,
                                     platform::EventPoints* events, SourceEdits* edits) {
    ScanPace pace(events);
    Sources out;
    if (options.markdown && markdownArticle) {
        reading::ReadMarkdown(article, encoding, options.lazyImages, out, pace, edits);
        return out;
    }
    if (options.htmlRules) {
        reading::ReadTags(article, true, options.lazyImages, encoding, out, pace, edits);
    } else if (options.lazyImages) {
        Sources tags;
        PlainAndLazy(article, encoding, out, tags, pace, edits);
        // A srcset read up to a closing quote past its tag's end leaves later tags' values
        // before its own.
        reading::SortRuns(tags, 0, ByOffset);
        out = MergeByOffset(std::move(out), std::move(tags));
    } else {
        reading::ReadPlain(article, encoding, out, pace);
    }
    if (options.htmlRules) reading::SortRuns(out, 0, ByOffset);
    if (options.lazyImages && !options.htmlRules) {
        Sources places;
        pace.Restart();
        reading::ReadPlaces(article, encoding, places, pace);
        out = MergeByOffset(std::move(out), std::move(places));
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
