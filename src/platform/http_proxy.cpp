#include "platform/http_proxy.h"

#include <cctype>
#include <cstdlib>

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

bool EnvironmentProxies(const std::string& scheme, const std::string& host) {
    const auto value = [](const std::string& name) {
        const char* v = std::getenv(name.c_str());
        return std::string(v ? v : "");
    };
    std::string lower = scheme;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string upper = lower;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string proxy = value(lower + "_proxy");
    if (proxy.empty() && lower != "http") proxy = value(upper + "_PROXY");
    if (proxy.empty()) proxy = value("all_proxy");
    if (proxy.empty()) proxy = value("ALL_PROXY");
    if (proxy.empty()) return false;
    std::string noProxy = value("no_proxy");
    if (noProxy.empty()) noProxy = value("NO_PROXY");
    std::string name = host;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t from = 0;
    while (from <= noProxy.size()) {
        std::size_t end = noProxy.find_first_of(", ", from);
        if (end == std::string::npos) end = noProxy.size();
        std::string entry = noProxy.substr(from, end - from);
        from = end + 1;
        for (char& c : entry) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (entry == "*") return false;
        if (!entry.empty() && entry[0] == '.') entry.erase(0, 1);
        if (entry.empty()) continue;
        if (name == entry || (name.size() > entry.size() && name.ends_with("." + entry)))
            return false;
    }
    return true;
}

}  // namespace zembrat::platform::http_detail
