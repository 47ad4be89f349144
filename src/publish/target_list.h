// The targets a user keeps in the settings file: each one a target URL (see ParseTargetUrl),
// which may carry its own name as "name=" among its query parameters.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "publish/target_url.h"

namespace zembrat::publish {

// The name a target URL goes by: its "name=" parameter, else its host (an s3:// URL: its bucket).
// UTF-8 in, UTF-8 out.
std::string TargetName(std::string_view url);

// The target named nameOrUrl among the kept URLs (by name; a number from 1 picks by place), or
// nameOrUrl itself when it is a URL; an empty nameOrUrl takes the first kept one. nullopt with
// error set (UTF-8) when there is none or the URL is not a target's.
std::optional<Target> ResolveTarget(const std::vector<std::string>& urls,
                                    std::string_view nameOrUrl, std::string& error);

}  // namespace zembrat::publish
