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

PlaceholderProof::Verdict PlaceholderProof::Judge(const Source& source, std::uint32_t crc,
                                                  std::size_t size, bool more,
                                                  std::optional<Source>* earlier) {
    for (const PlaceholderMark& mark : marks_) {
        if (mark.crc == crc && mark.size == size)
            return more ? Verdict::AskAgain : Verdict::Placeholder;
    }
    const Body body{crc, size};
    const auto [answers, first] = answers_.try_emplace(source.address);
    if (first)
        answers->second.first = body;
    else if (answers->second.first != body)
        answers->second.changed = true;
    const std::string host = web::HostOf(source.address);
    std::set<Body>& alike = alike_[host];
    if (!alike.contains(body)) {
        std::map<Body, Source>& seen = seen_[host];
        const auto it = seen.find(body);
        if (it == seen.end()) {
            seen.emplace(body, source);
            return Verdict::Keep;
        }
        if (it->second.address == source.address) return Verdict::Keep;  // the same image again
        // Two addresses, one body: both are asked again.
        if (earlier) *earlier = it->second;
        seen.erase(it);
        alike.insert(body);
    }
    return Again(source.address, more);
}

PlaceholderProof::Verdict PlaceholderProof::Again(const std::string& address, bool more) const {
    if (more) return Verdict::AskAgain;
    const auto it = answers_.find(address);
    return it != answers_.end() && it->second.changed ? Verdict::Placeholder : Verdict::Keep;
}

}  // namespace zembrat::job
