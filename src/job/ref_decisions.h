// What a run would do with each image reference of an article, decided without a window, a
// download or a write: the dry run's and the run report's account of the references it drops.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zembrat::job {

enum class RefDecision {
    Download,          // kept: its absolute address is downloaded
    Empty,             // the source is only blanks
    RelativeNoPrefix,  // starts with "/" and there is no old prefix to put before it
    NotHttp,           // not an "http://" address
    Excluded,          // matched one of the excluded ranges
    Duplicate,         // the same source text stands later in the article
};

struct RefVerdict {
    std::string sourceValue;  // as found in the article
    std::string address;      // the address fetched (Download, Excluded, NotHttp: as resolved)
    RefDecision decision = RefDecision::Download;
    std::string range;  // Excluded: the first "|"-separated range of the setting that matched
};

// Every source the image-tag pattern finds in the article, in article order, with its
// decision under the run's rules: each source text is kept only at its last occurrence, then
// trimmed, a "/" address is put after "http://" and the old prefix, anything not "http://" is
// dropped, and so is an address in the excluded ranges (wildcards, "|" between them). The
// Download verdicts are exactly the references a run downloads, in the same order.
std::vector<RefVerdict> DecideImageRefs(std::string_view article, std::string_view oldPrefix,
                                        std::string_view excludedRanges);

// "download", "empty", "relative with no old prefix", "not http", "excluded by <range>",
// "duplicate in the article".
std::string DecisionText(const RefVerdict& verdict);

}  // namespace zembrat::job
