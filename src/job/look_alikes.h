// Look-alike answers: different addresses of one host that answered byte-identical bodies in one
// run. A host that guards its images answers a foreign request with one placeholder picture and
// 200; without the hotlink option such answers are stored as they came, and the run says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "job/run_events.h"

namespace zembrat::job {

class LookAlikes {
  public:
    // A settled row: a body stored (or found stored) in this run counts by its address, CRC-32
    // and size; a failed row, or one reused from the record without a download, does not.
    void Add(const ImageRecord& record);
    // The address answered the same bytes as another address of its host.
    bool Concerns(const std::string& address) const;
    // How many addresses did.
    std::size_t Count() const { return count_; }

  private:
    using Body = std::pair<std::uint32_t, std::uint64_t>;  // CRC-32, size
    std::map<std::string, std::map<Body, std::set<std::string>>> byHost_;
    std::set<std::string> concerned_;
    std::size_t count_ = 0;
};

}  // namespace zembrat::job
