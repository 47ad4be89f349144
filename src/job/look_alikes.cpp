#include "job/look_alikes.h"

#include "web/request_identity.h"

namespace zembrat::job {

void LookAlikes::Add(const ImageRecord& record) {
    const bool answered =
        record.outcome == ImageOutcome::Stored || record.outcome == ImageOutcome::Reused;
    if (!answered || record.reason == FailReason::Recorded) return;
    std::set<std::string>& addresses =
        byHost_[web::HostOf(record.address)][{record.crc, record.storedSize}];
    if (!addresses.insert(record.address).second || addresses.size() < 2) return;
    // The second address makes both look-alikes; each later one adds itself.
    for (const std::string& address : addresses) {
        if (concerned_.insert(address).second) ++count_;
    }
}

bool LookAlikes::Concerns(const std::string& address) const {
    return concerned_.contains(address);
}

}  // namespace zembrat::job
