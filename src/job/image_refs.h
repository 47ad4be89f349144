// Finding the image references of an article and deciding which of them a run re-hosts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "job/extension_options.h"

#include "job/job_window.h"

namespace zembrat::automation {
class PatternMatcher;
}
namespace zembrat::platform {
class EventPoints;
}

namespace zembrat::job {

// One kept reference of the current article.
struct ImageRef {
    std::string sourceValue;  // the tag's source text as found; what the rewrite replaces
    std::string address;      // the absolute "http://" address that is downloaded

    friend bool operator==(const ImageRef&, const ImageRef&) = default;
};

// The image-tag pattern: group 2 is the source value.
const std::string& ImageTagPattern();

// The texts of the list, each kept only at its last occurrence, in the order those last
// occurrences stand. Events are processed once for each element examined.
std::vector<std::string> RemoveDuplicates(std::vector<std::string> list,
                                          platform::EventPoints& events);

// Inserts a queued row for address at the top of the status list.
void AddQueuedRow(JobWindow& window, const std::string& address);

// The kept references of the article in article order. With options that change the reading
// (ReadsReferencesDifferently), the sources come from the scanner instead of the tag pattern,
// and the address fetched may differ from the text replaced (a decoded "&amp;", a completed
// "//host" address). markdownArticle: the article's name is a Markdown one. Empties the status list
// and queues one row per kept reference. tags holds ImageTagPattern(); excludes the compiled
// excluded ranges. OldPrefix and ExcludedRanges are read from the window once (the run keeps them
// locked).
std::vector<ImageRef> CollectImageRefs(std::string_view article, automation::PatternMatcher& tags,
                                       automation::PatternMatcher& excludes, JobWindow& window,
                                       platform::EventPoints& events,
                                       const ExtensionOptions& options = {},
                                       bool markdownArticle = false);

// True when the options change which references an article has (https, lazy and responsive
// images, HTML rules, Markdown); otherwise the references are exactly the described ones.
bool ReadsReferencesDifferently(const ExtensionOptions& options);

}  // namespace zembrat::job
