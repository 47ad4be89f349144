// The choice of proxy for a request, and whether the login's own sign-on may answer. Private to
// platform/.
#pragma once

#include <string>
#include <string_view>

#include "platform/http_request_parts.h"

namespace zembrat::platform::http_detail {

// Host patterns ("*" and "?" wildcards, "<local>" for a host name without a dot) separated by
// ";", "," or white space.
bool HostMatchesBypass(const std::string& host, std::string_view bypassList);
// The proxy a request for scheme://host goes through under these settings; empty for a direct
// connection.
std::string ChosenProxy(const Settings& settings, const std::string& scheme,
                        const std::string& host);
// Whether curl, left to the environment, sends a request for scheme://host through a proxy: one
// named by <scheme>_proxy (HTTPS_PROXY too; HTTP_PROXY never), all_proxy or ALL_PROXY, unless
// no_proxy (or NO_PROXY) is "*" or names the host or a domain it is in.
bool EnvironmentProxies(const std::string& scheme, const std::string& host);
// The login's own sign-on (SPNEGO) may answer a challenge from host, reached through
// chosenProxy (empty: directly).
bool AutoLogonAllowed(const Settings& settings, const std::string& chosenProxy,
                      const std::string& host);

}  // namespace zembrat::platform::http_detail
