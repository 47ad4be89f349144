// The public copies of a publish checked by content: each image a run stored and a publish put
// onto the target is fetched from the target's public address (its custom domain or CDN), and its
// bytes are compared with what its content name says they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "publish/result_publish.h"

namespace zembrat::publish {

enum class CopyOutcome {
    Same,         // the bytes the name says, served as an image
    Missing,      // no copy is served there (why: the answer)
    Different,    // other bytes (a placeholder, a stale object)
    NotAnImage,   // served as something else (a web page)
    Unreachable,  // no answer came (why: the failure)
};

struct CopyCheck {
    std::string remotePath;  // UTF-8, below the target's base
    std::string address;     // the public address fetched
    CopyOutcome outcome = CopyOutcome::Unreachable;
    std::string why;  // UTF-8, for all but Same
};

struct PublicCopies {
    ResultPublishEnd end = ResultPublishEnd::NoTarget;  // Published: the copies were checked
    std::string message;  // NoTarget: why; a target without a public address: that, UTF-8
    std::string recordMessage;
    std::optional<Target> target;
    std::vector<CopyCheck> copies;  // by stored name
    std::size_t Count(CopyOutcome outcome) const;
};

// "same", "missing", "different", "not an image", "unreachable".
const char* CopyOutcomeText(CopyOutcome outcome);

// Checks the public copies of what was published from the result onto request's target, atOnce
// fetches at once, each over its own reused connection; checked is told each copy as it is
// checked (on the calling thread). The request's articles, credentials and options do not count.
PublicCopies CheckPublicCopies(const ResultPublishRequest& request, int atOnce,
                               const std::function<void(const CopyCheck&)>& checked,
                               std::stop_token stop);

}  // namespace zembrat::publish
