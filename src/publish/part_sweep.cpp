#include "publish/part_sweep.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "publish/protocol_transports.h"

namespace zembrat::publish {

bool IsPartName(std::string_view name) {
    if (!name.ends_with(kPartEnding) || name.size() != 17 + kPartEnding.size() || name[0] != '.')
        return false;
    return std::all_of(name.begin() + 1, name.begin() + 17,
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

void SweepStaleParts(Transport& transport, const std::string& folder,
                     std::set<std::string>& swept) {
    if (!swept.insert(folder).second) return;
    std::string message;
    const std::optional<std::vector<RemoteEntry>> entries = transport.List(folder, message);
    if (!entries) return;
    const auto now = std::chrono::system_clock::now();
    for (const RemoteEntry& entry : *entries) {
        if (entry.folder || !IsPartName(entry.name) || !entry.modified) continue;
        if (now - *entry.modified > kStalePart) transport.Delete(folder + entry.name, message);
    }
}

}  // namespace zembrat::publish
