// Who a request says it is: its Referer, User-Agent and Cookie. The plain request names the
// image's own address as Referer and an old browser as User-Agent; hosts that guard their
// images against use from other sites refuse that, or answer it with a "not allowed" picture.
// Under the hotlink option a download asks as a current browser, first with no Referer, then
// with the image's own origin, then with the article's page; a per-site rule, when one matches
// the image's host, is the only identity asked.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zembrat::web {

struct RequestArguments;

// A current desktop browser, sent by every identity of the ladder and by a rule that names none.
inline constexpr char kBrowserUserAgent[] =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/124.0.0.0 Safari/537.36";

enum class IdentityKind {
    Plain,      // the plain request: the image's address as Referer, the default User-Agent
    NoReferer,  // no Referer at all
    Origin,     // the image's own origin ("scheme://host/") as Referer
    Page,       // the article's page as Referer
    Rule,       // what the matching per-site rule says
};

// "no referer", "origin", "page", "rule"; empty for the plain request.
const char* IdentityName(IdentityKind kind);

// One per-site rule: images whose host matches hostPattern are asked with these headers alone.
// The pattern is a host name, ASCII case ignored, in which "*" stands for any run of characters
// ("*.sinaimg.cn"). An empty referer sends none; an empty user agent sends the browser's; an
// empty cookie sends none.
struct SiteRule {
    std::string hostPattern;
    std::string referer;
    std::string userAgent;
    std::string cookie;

    friend bool operator==(const SiteRule&, const SiteRule&) = default;
};

// A rule as one line of text: "host|referer|user agent|cookie" (the trailing empty fields may be
// left out). nullopt for a line with no host pattern or with more than four fields.
std::optional<SiteRule> ParseSiteRule(std::string_view line);
std::string SiteRuleText(const SiteRule& rule);

struct RequestIdentity {
    IdentityKind kind = IdentityKind::Plain;
    std::string referer;  // empty: no Referer header (except for the plain request)
    std::string userAgent;
    std::string cookie;
};

// The host of an address (without scheme, user, port; lower-cased); empty when it has none.
std::string HostOf(std::string_view address);
// "scheme://host[:port]/" of an absolute address (no scheme: "http://"); empty when no host.
std::string OriginOf(std::string_view address);
// Whether host matches the rule's host pattern.
bool HostMatches(std::string_view pattern, std::string_view host);

// The identities a download of address asks with, in order: the first matching rule alone, or
// no Referer, the origin, and the page (only when pageAddress is not empty and differs from the
// origin).
std::vector<RequestIdentity> IdentityLadder(std::string_view address, std::string_view pageAddress,
                                            const std::vector<SiteRule>& rules);

// Sets the request's Referer, User-Agent and Cookie to the identity's.
void ApplyIdentity(const RequestIdentity& identity, RequestArguments& arguments);

}  // namespace zembrat::web
