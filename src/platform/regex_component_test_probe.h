// Test support only, never included by the program: what a test may read of a
// RegexComponent beyond its interface.
#pragma once

#include <cstddef>

#include "platform/regex_component.h"

namespace zembrat::platform {

struct RegexComponentTestProbe {
    // How many times "Pattern" has been written (the same pattern again counts too).
    static std::size_t PatternWrites(const RegexComponent& re) { return re.patternWrites_; }
};

}  // namespace zembrat::platform
