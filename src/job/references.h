// Which image references of an article a run re-hosts: the one place that decides it. The run,
// the dry run and the report all read the verdicts given here.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/extension_options.h"
#include "job/found_source.h"

namespace zembrat::platform {
class EventPoints;
}

namespace zembrat::job {

// One kept reference of an article.
struct ImageRef {
    std::string sourceValue;  // the source text as found; what the rewrite replaces
    std::string address;      // the absolute address that is downloaded

    friend bool operator==(const ImageRef&, const ImageRef&) = default;
};

enum class RefDecision {
    Download,          // kept: its absolute address is downloaded
    Empty,             // the source is only blanks
    RelativeNoPrefix,  // starts with "/" and there is no old prefix to put before it
    NotHttp,    // not an address the run fetches ("http://", or "https://" under that option)
    Excluded,   // matched one of the excluded ranges
    Duplicate,  // the same source text stands later in the article
};

// What becomes of one occurrence of a source in the article.
struct RefVerdict {
    std::string sourceValue;  // as found in the article
    std::string address;      // the address fetched (Download, Excluded, NotHttp: as completed)
    RefDecision decision = RefDecision::Download;
    std::string range;  // Excluded: the first "|"-separated range of the setting that matched
    // What else is written when the image is stored: the src of every lazy image that shows this
    // source (each written as the source text, which the rewrite then carries to the stored
    // image). Held by the last occurrence of the text, the one that is downloaded.
    SourceEdits edits = {};
    // Where the source text stands in the article, at every occurrence the readers found, in
    // article order; held by the last occurrence, as edits are. When the rewrite goes by place
    // (RewritesWhereFound), these are the only pieces of the article it replaces; empty under
    // the plain rules, which replace the text wherever it stands.
    std::vector<std::size_t> places = {};

    friend bool operator==(const RefVerdict&, const RefVerdict&) = default;
};

// The settings and options that decide an article's references.
struct ReferenceRules {
    std::string oldPrefix;       // GBK, as typed
    std::string excludedRanges;  // GBK, as typed: wildcards with "|" between the ranges
    ExtensionOptions options;
};

// The image-tag pattern of the plain rules: group 2 is the source value.
const std::string& ImageTagPattern();

// The texts of the list, each kept only at its last occurrence, in the order those last
// occurrences stand. Events are processed once for each element examined.
std::vector<std::string> RemoveDuplicates(std::vector<std::string> list,
                                          platform::EventPoints& events);

// True when the options change which references an article has (https, lazy and responsive
// images, HTML rules, Markdown); otherwise the plain rules read the article.
bool ReadsReferencesDifferently(const ExtensionOptions& options);

// True when the rewrite replaces a source only where a reader found it (Markdown, HTML rules,
// lazy images): an address that also stands in code, a comment or a script stays as written.
// Otherwise (the plain rules, https alone) each stored source text is replaced wherever it
// stands in the article.
bool RewritesWhereFound(const ExtensionOptions& options);

// The absolute address a trimmed source is fetched from, or why it is not fetched (Empty,
// RelativeNoPrefix or NotHttp). "//host/path" is a network-path reference: it takes the scheme
// ("http:", or "https:" under the https option), never the old prefix. Another "/..." source is
// put after "http://" and the old prefix. Kept are "http://" addresses (any letter case) and,
// under the https option, "https://" ones.
struct Completion {
    std::string address;
    RefDecision decision = RefDecision::Download;
};
Completion CompleteAddress(std::string_view trimmed, std::string_view oldPrefix, bool https);

// Decides the references of articles under one run's rules; the patterns are compiled once.
class ReferenceDecider {
  public:
    explicit ReferenceDecider(ReferenceRules rules);
    ~ReferenceDecider();
    ReferenceDecider(const ReferenceDecider&) = delete;
    ReferenceDecider& operator=(const ReferenceDecider&) = delete;

    // One verdict per occurrence of a source, in article order. Each source text counts only at
    // its last occurrence (the earlier ones are Duplicate); the Download verdicts are the
    // references the run downloads, in the order it downloads them. markdownArticle: the
    // article's name is a Markdown one. Events are processed as the plain rules process them:
    // once per source examined for duplicates.
    std::vector<RefVerdict> Decide(std::string_view article, bool markdownArticle,
                                   platform::EventPoints& events);

    const ReferenceRules& rules() const { return rules_; }
    // False when the last article could not be read whole: the pattern engine ran into one of
    // its limits, so its references are not all known.
    bool LastReadWhole() const { return readWhole_; }

  private:
    std::string ExcludingRange(const std::string& address);

    struct Patterns;
    ReferenceRules rules_;
    std::unique_ptr<Patterns> patterns_;
    bool readWhole_ = true;
};

// The Download verdicts as references, in order.
std::vector<ImageRef> KeptReferences(const std::vector<RefVerdict>& verdicts);

// "download", "empty", "relative with no old prefix", "not http", "excluded by <range>",
// "duplicate in the article".
std::string DecisionText(const RefVerdict& verdict);

}  // namespace zembrat::job
