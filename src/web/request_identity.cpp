#include "web/request_identity.h"

#include "text/codec.h"
#include "text/gbk.h"
#include "web/web_client.h"

namespace zembrat::web {

const char* IdentityName(IdentityKind kind) {
    switch (kind) {
        case IdentityKind::Plain:
            return "";
        case IdentityKind::NoReferer:
            return "no referer";
        case IdentityKind::Origin:
            return "origin";
        case IdentityKind::Page:
            return "page";
        case IdentityKind::Rule:
            return "rule";
    }
    return "";
}

std::optional<SiteRule> ParseSiteRule(std::string_view line) {
    std::vector<std::string> fields;
    std::string field;
    for (const char c : line) {
        if (c == '|') {
            fields.push_back(text::Trim(field));
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(text::Trim(field));
    if (fields.size() > 4 || fields[0].empty()) return std::nullopt;
    fields.resize(4);
    return SiteRule{text::AsciiLower(fields[0]), fields[1], fields[2], fields[3]};
}

std::string SiteRuleText(const SiteRule& rule) {
    return rule.hostPattern + "|" + rule.referer + "|" + rule.userAgent + "|" + rule.cookie;
}

namespace {

// scheme (lower-cased, "http" when none) and authority (without user) of an address.
std::pair<std::string, std::string> SchemeAndAuthority(std::string_view address) {
    const std::string a = text::Trim(address);
    std::string scheme = "http";
    std::size_t from = 0;
    if (const std::size_t sep = a.find("://"); sep != std::string::npos) {
        scheme = text::AsciiLower(a.substr(0, sep));
        from = sep + 3;
    }
    std::size_t end = a.find_first_of("/?#\\", from);
    if (end == std::string::npos) end = a.size();
    std::string authority = a.substr(from, end - from);
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos)
        authority.erase(0, at + 1);
    return {scheme, text::AsciiLower(authority)};
}

bool GlobMatches(std::string_view pattern, std::string_view s) {
    // Iterative wildcard match, "*" only: linear backtracking to the last star.
    std::size_t p = 0, i = 0, star = std::string_view::npos, mark = 0;
    while (i < s.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = i;
        } else if (p < pattern.size() && pattern[p] == s[i]) {
            ++p;
            ++i;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            i = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

std::string HostOf(std::string_view address) {
    std::string authority = SchemeAndAuthority(address).second;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        return close == std::string::npos ? authority : authority.substr(0, close + 1);
    }
    if (const std::size_t colon = authority.find(':'); colon != std::string::npos)
        authority.erase(colon);
    return authority;
}

std::string OriginOf(std::string_view address) {
    const auto [scheme, authority] = SchemeAndAuthority(address);
    if (authority.empty()) return {};
    return scheme + "://" + authority + "/";
}

bool HostMatches(std::string_view pattern, std::string_view host) {
    return !host.empty() && GlobMatches(text::AsciiLower(pattern), text::AsciiLower(host));
}

std::vector<RequestIdentity> IdentityLadder(std::string_view address, std::string_view pageAddress,
                                            const std::vector<SiteRule>& rules) {
    const std::string host = HostOf(address);
    for (const SiteRule& rule : rules) {
        if (!HostMatches(rule.hostPattern, host)) continue;
        return {{IdentityKind::Rule, rule.referer,
                 rule.userAgent.empty() ? std::string(kBrowserUserAgent) : rule.userAgent,
                 rule.cookie}};
    }
    std::vector<RequestIdentity> ladder{{IdentityKind::NoReferer, {}, kBrowserUserAgent, {}}};
    const std::string origin = OriginOf(address);
    if (!origin.empty()) ladder.push_back({IdentityKind::Origin, origin, kBrowserUserAgent, {}});
    const std::string page = text::Trim(pageAddress);
    if (!page.empty() && page != origin)
        ladder.push_back({IdentityKind::Page, page, kBrowserUserAgent, {}});
    return ladder;
}

void ApplyIdentity(const RequestIdentity& identity, RequestArguments& arguments) {
    if (identity.kind == IdentityKind::Plain) return;
    arguments.referer = identity.referer;
    arguments.noReferer = identity.referer.empty();
    arguments.userAgent = identity.userAgent;
    // "-1" would send an empty Cookie header; no cookie means none is sent at all.
    arguments.cookies = identity.cookie;
}

}  // namespace zembrat::web
