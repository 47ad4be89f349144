// The parts an earlier publish left behind: an upload is written under a part name first
// (PartName) and renamed when whole, so a publish killed between the two leaves its part. The
// one rule for sweeping them, shared by every transport that writes parts.
#pragma once

#include <chrono>
#include <set>
#include <string>
#include <string_view>

#include "publish/transport.h"

namespace zembrat::publish {

// Whether name is a part name (PartName's form: "." and 16 hexadecimal digits, then the ending).
bool IsPartName(std::string_view name);

// A part this much older than now was left by a publish that was killed between its upload and
// its rename (a part is renamed seconds after it arrives); room is left for the server's clock.
inline constexpr auto kStalePart = std::chrono::hours(1);

// Deletes the stale parts of folder (relative to the base path, "/"-ended or empty): those its
// listing shows older than kStalePart. Once per folder per swept (the folders already swept); a
// folder the server does not list, or a part whose time it does not tell, is left as it is.
void SweepStaleParts(Transport& transport, const std::string& folder, std::set<std::string>& swept);

}  // namespace zembrat::publish
