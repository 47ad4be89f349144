#include "platform/http_proxy.h"

#include <algorithm>

#include "platform/files.h"
#include "text/codec.h"

namespace zembrat::platform::http_detail {

bool HostMatchesBypass(const std::string& host, std::string_view bypassList) {
    std::string list(bypassList);
    std::replace_if(
        list.begin(), list.end(), [](char c) { return c == ';' || c == ',' || c == '\t'; }, ' ');
    for (const std::string& pattern : text::Split(list, " ")) {
        if (pattern.empty()) continue;
        if (pattern == "<local>") {
            if (host.find('.') == std::string::npos && host.find(':') == std::string::npos)
                return true;
        } else if (WildcardMatch(pattern, host)) {
            return true;
        }
    }
    return false;
}

std::string ChosenProxy(const Settings& settings, const std::string& scheme,
                        const std::string& host) {
    const std::string& server = settings.proxyServer;
    if (settings.proxySetting != kProxyNamed || server.empty()) return {};
    if (HostMatchesBypass(host, settings.proxyBypass)) return {};
    if (server.find('=') == std::string::npos) return server;
    std::string list = server;
    std::replace_if(
        list.begin(), list.end(), [](char c) { return c == ' ' || c == '\t'; }, ';');
    for (const std::string& entry : text::Split(list, ";")) {
        const auto eq = entry.find('=');
        if (eq != std::string::npos && text::EqualsNoCase(entry.substr(0, eq), scheme))
            return entry.substr(eq + 1);
    }
    return {};
}

bool AutoLogonAllowed(const Settings& settings, const std::string& chosenProxy,
                      const std::string& host) {
    static const bool spnego =
        (curl_version_info(CURLVERSION_NOW)->features & CURL_VERSION_SPNEGO) != 0;
    if (!spnego) return false;
    if (settings.autoLogon == kAutoLogonAlways) return true;
    // "Only if the host bypasses the proxy": a named proxy is set and this host is on its
    // bypass list. Without a proxy there is no way to tell an intranet host, so no.
    return settings.autoLogon == kAutoLogonOnlyIfBypassProxy &&
           settings.proxySetting == kProxyNamed && !settings.proxyServer.empty() &&
           chosenProxy.empty() && HostMatchesBypass(host, settings.proxyBypass);
}

}  // namespace zembrat::platform::http_detail
