// Target URLs: scheme://[user@]host[:port]/base/path/?option=value&...
#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "publish/target_url.h"

namespace zembrat::publish {
namespace {

struct SchemeInfo {
    std::string_view scheme;
    Protocol protocol;
    int port;  // the usual one
};

constexpr SchemeInfo kSchemes[] = {
    {"sftp", Protocol::Sftp, 22},
    {"ftp", Protocol::Ftp, 21},
    {"ftpes", Protocol::FtpExplicit, 21},
    {"ftps", Protocol::FtpImplicit, 990},
    {"dav", Protocol::Dav, 80},
    {"davs", Protocol::Davs, 443},
    {"s3", Protocol::S3, 0},
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        unsigned cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1;
            cp = c & 0x1Fu;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2;
            cp = c & 0x0Fu;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3;
            cp = c & 0x07u;
        } else {
            return false;
        }
        for (std::size_t k = 1; k <= n; ++k) {
            if (i + k >= s.size()) return false;
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3Fu);
        }
        // Overlong forms, surrogates and values past U+10FFFF are no UTF-8.
        if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
            return false;
        i += n + 1;
    }
    return true;
}

// Percent-decodes text into UTF-8; nullopt with error set when an escape is broken, the result
// is no UTF-8 or holds a control character.
std::optional<std::string> Decode(std::string_view text, std::string_view what,
                                  std::string& error) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int hi = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int lo = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
            error = "broken percent escape in the " + std::string(what);
            return std::nullopt;
        }
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    if (!IsUtf8(out)) {
        error = "the " + std::string(what) + " is not UTF-8 once decoded";
        return std::nullopt;
    }
    for (const char c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            error = "the " + std::string(what) + " holds a control character";
            return std::nullopt;
        }
    }
    return out;
}

bool IsBase64(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/';
    });
}

// "SHA256:" and the unpadded base64 of 32 bytes (43 characters), as ssh-keygen -l prints it.
bool IsSha256Fingerprint(std::string_view s) {
    constexpr std::string_view kPrefix = "SHA256:";
    if (s.substr(0, kPrefix.size()) != kPrefix) return false;
    std::string_view digest = s.substr(kPrefix.size());
    if (digest.size() == 44 && digest.back() == '=') digest.remove_suffix(1);
    return digest.size() == 43 && IsBase64(digest);
}

// An endpoint is a scheme, a host and maybe a port: nothing after them but an optional "/".
bool IsEndpoint(std::string_view s) {
    std::string_view rest;
    if (s.substr(0, 8) == "https://") {
        rest = s.substr(8);
    } else if (s.substr(0, 7) == "http://") {
        rest = s.substr(7);
    } else {
        return false;
    }
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    if (rest.empty()) return false;
    return std::all_of(rest.begin(), rest.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' ||
               c == '[' || c == ']';
    });
}

// The host part of a bucket name or an S3 region: letters, digits, dots and dashes.
bool IsHostWord(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
    });
}

bool ParsePort(std::string_view s, int& port) {
    if (s.empty() || s.size() > 5) return false;
    int value = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = value;
    return true;
}

// Fills the S3 endpoint, addressing and region from the provider preset and the options.
bool ApplyS3(Target& t, const std::map<std::string, std::string>& options, std::string& error) {
    auto option = [&](const char* key) {
        const auto it = options.find(key);
        return it == options.end() ? std::string() : it->second;
    };
    const std::string provider = option("provider");
    const std::string account = option("account");
    const std::string style = option("style");
    t.provider = provider;
    t.region = option("region");
    t.endpoint = option("endpoint");
    t.profile = option("profile");
    t.accessKeyId = option("keyid");
    if (!t.region.empty() && !IsHostWord(t.region)) {
        error = "the region \"" + t.region + "\" is not a region name";
        return false;
    }
    if (!account.empty() && provider != "r2") {
        error = "account= is only for provider=r2";
        return false;
    }
    auto needRegion = [&]() {
        if (!t.region.empty()) return true;
        error = "provider=" + provider + " needs region=";
        return false;
    };
    bool virtualHosted = false;
    std::string presetEndpoint;
    if (provider == "aws") {
        if (!needRegion()) return false;
        presetEndpoint = "https://s3." + t.region + ".amazonaws.com";
        virtualHosted = true;
    } else if (provider == "r2") {
        if (account.empty() || !IsHostWord(account)) {
            error = "provider=r2 needs account= (the Cloudflare account id)";
            return false;
        }
        presetEndpoint = "https://" + account + ".r2.cloudflarestorage.com";
        if (t.region.empty()) t.region = "auto";
    } else if (provider == "minio" || provider.empty()) {
        if (t.endpoint.empty()) {
            error = provider.empty() ? "an s3 target needs endpoint= or provider="
                                     : "provider=minio needs endpoint=";
            return false;
        }
        if (t.region.empty()) t.region = "us-east-1";
    } else if (provider == "oss") {
        if (!needRegion()) return false;
        presetEndpoint = "https://oss-" + t.region + ".aliyuncs.com";
        virtualHosted = true;
    } else if (provider == "cos") {
        if (!needRegion()) return false;
        presetEndpoint = "https://cos." + t.region + ".myqcloud.com";
        virtualHosted = true;
    } else if (provider == "qiniu") {
        if (!needRegion()) return false;
        presetEndpoint = "https://s3." + t.region + ".qiniucs.com";
        virtualHosted = true;
    } else {
        error = "unknown provider \"" + provider + "\" (aws, r2, minio, oss, cos or qiniu)";
        return false;
    }
    if (t.endpoint.empty()) t.endpoint = presetEndpoint;
    if (!IsEndpoint(t.endpoint)) {
        error = "the endpoint \"" + t.endpoint +
                "\" is not http:// or https:// with a host and maybe a port";
        return false;
    }
    if (t.endpoint.back() == '/') t.endpoint.pop_back();
    if (style == "path") {
        virtualHosted = false;
    } else if (style == "virtual") {
        virtualHosted = true;
    } else if (!style.empty()) {
        error = "style= takes path or virtual";
        return false;
    }
    t.pathStyle = !virtualHosted;
    return true;
}

}  // namespace

std::string Redacted(std::string_view text) {
    std::string out;
    for (std::size_t at = 0;;) {
        const std::size_t scheme = text.find("://", at);
        if (scheme == std::string_view::npos) return out.append(text.substr(at));
        const std::size_t start = scheme + 3;
        std::size_t end = text.find_first_of("/?#", start);
        if (end == std::string_view::npos) end = text.size();
        // The authority's user information ends at its last "@"; a password follows its ":".
        const std::string_view authority = text.substr(start, end - start);
        const std::size_t atSign = authority.rfind('@');
        const std::size_t colon = authority.substr(0, atSign).find(':');
        out.append(text.substr(at, start - at));
        if (atSign != std::string_view::npos && colon != std::string_view::npos)
            out.append(authority.substr(0, colon + 1))
                .append("***")
                .append(authority.substr(atSign));
        else
            out.append(authority);
        at = end;
    }
}

std::optional<Target> ParseTargetUrl(std::string_view url, std::string& error) {
    error.clear();
    auto fail = [&](const std::string& why) -> std::optional<Target> {
        error = "target \"" + Redacted(url) + "\": " + why;
        return std::nullopt;
    };
    const std::size_t colon = url.find("://");
    if (colon == std::string_view::npos || colon == 0)
        return fail("no scheme (sftp://, ftp://, ftpes://, ftps://, dav://, davs:// or s3://)");
    const std::string scheme = Lower(std::string(url.substr(0, colon)));
    const auto known = std::find_if(std::begin(kSchemes), std::end(kSchemes),
                                    [&](const SchemeInfo& s) { return s.scheme == scheme; });
    if (known == std::end(kSchemes))
        return fail("unknown scheme \"" + scheme + "\" (sftp, ftp, ftpes, ftps, dav, davs or s3)");
    Target t;
    t.name = std::string(url);
    t.protocol = known->protocol;

    std::string_view rest = url.substr(colon + 3);
    std::string_view query;
    if (const std::size_t fragment = rest.find('#'); fragment != std::string_view::npos)
        return fail("a target has no fragment (#)");
    if (const std::size_t q = rest.find('?'); q != std::string_view::npos) {
        query = rest.substr(q + 1);
        rest = rest.substr(0, q);
    }
    const std::size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    const std::string_view rawPath =
        slash == std::string_view::npos ? std::string_view() : rest.substr(slash);

    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        if (userInfo.find(':') != std::string_view::npos)
            return fail("no password in a target: it comes from the keyring, ~/.netrc or keys");
        const auto user = Decode(userInfo, "user name", error);
        if (!user) return fail(error);
        if (user->empty()) return fail("empty user name before \"@\"");
        t.user = *user;
        authority = authority.substr(at + 1);
    }
    std::string_view portText;
    bool hasPort = false;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return fail("unclosed \"[\" in the host");
        t.host = std::string(authority.substr(1, close - 1));
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return fail("unexpected text after the host");
            portText = after.substr(1);
            hasPort = true;
        }
        if (t.host.empty() ||
            t.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return fail("\"" + t.host + "\" is no IPv6 address");
    } else {
        const std::size_t portColon = authority.find(':');
        if (portColon != std::string_view::npos) {
            portText = authority.substr(portColon + 1);
            hasPort = true;
            authority = authority.substr(0, portColon);
        }
        const auto host = Decode(authority, "host", error);
        if (!host) return fail(error);
        t.host = *host;
        const bool plain = std::all_of(t.host.begin(), t.host.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ||
                   c == '_' || static_cast<unsigned char>(c) >= 0x80;
        });
        if (!plain) return fail("\"" + t.host + "\" is no host name");
    }
    if (t.host.empty()) return fail(t.protocol == Protocol::S3 ? "no bucket" : "no host");
    if (hasPort && !ParsePort(portText, t.port))
        return fail("the port \"" + std::string(portText) + "\" is not a number from 1 to 65535");

    auto path = Decode(rawPath, "path", error);
    if (!path) return fail(error);
    for (std::size_t at = 0; at < path->size();) {
        std::size_t end = path->find('/', at);
        if (end == std::string::npos) end = path->size();
        const std::string_view piece = std::string_view(*path).substr(at, end - at);
        if (piece == "." || piece == "..")
            return fail("\".\" and \"..\" are not allowed in the path");
        if (piece.empty() && at != 0 && end != path->size())
            return fail("empty folder name (\"//\") in the path");
        at = end + 1;
    }
    if (!path->empty() && path->back() != '/') *path += '/';
    t.path = *path;

    std::map<std::string, std::string> options;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) continue;
        const std::size_t eq = pair.find('=');
        if (eq == std::string_view::npos)
            return fail("option \"" + std::string(pair) + "\" has no value");
        const std::string key(pair.substr(0, eq));
        const auto value = Decode(pair.substr(eq + 1), "option " + key, error);
        if (!value) return fail(error);
        if (value->empty()) return fail("option " + key + "= is empty");
        if (!options.emplace(key, *value).second) return fail("option " + key + "= given twice");
    }
    const bool s3 = t.protocol == Protocol::S3;
    for (const auto& [key, value] : options) {
        const bool s3Option = key == "endpoint" || key == "region" || key == "style" ||
                              key == "provider" || key == "account" || key == "profile" ||
                              key == "keyid";
        if (key == "uploads") {
            int uploads = 0;
            const auto [end, failure] =
                std::from_chars(value.data(), value.data() + value.size(), uploads);
            if (failure != std::errc() || end != value.data() + value.size() || uploads < 1 ||
                uploads > kMaxUploads)
                return fail("uploads= is a number from 1 to " + std::to_string(kMaxUploads));
            t.uploads = uploads;
        } else if (key == "public") {
            if (value.substr(0, 7) != "http://" && value.substr(0, 8) != "https://")
                return fail("public= is an http:// or https:// address");
            t.publicAddress = value;
        } else if (key == "ca") {
            if (t.protocol == Protocol::Sftp || t.protocol == Protocol::Ftp ||
                t.protocol == Protocol::Dav)
                return fail("ca= is only for targets over TLS");
            t.caFile = value;
        } else if (key == "key") {
            if (t.protocol != Protocol::Sftp) return fail("key= is only for sftp targets");
            t.keyFile = value;
        } else if (key == "fingerprint") {
            if (t.protocol != Protocol::Sftp) return fail("fingerprint= is only for sftp targets");
            if (!IsSha256Fingerprint(value))
                return fail(
                    "fingerprint= is \"SHA256:\" and the 43 characters ssh-keygen -l prints");
            t.hostKeySha256 = value;
        } else if (s3Option) {
            if (!s3) return fail(key + "= is only for s3 targets");
        } else {
            return fail("unknown option \"" + key + "\"");
        }
    }
    if (s3) {
        if (!t.user.empty() || t.port != 0)
            return fail("an s3 target names a bucket: no user and no port before it");
        if (!IsHostWord(t.host)) return fail("\"" + t.host + "\" is no bucket name");
        if (!t.path.empty() && t.path.front() == '/') t.path.erase(0, 1);
        if (!ApplyS3(t, options, error)) return fail(error);
        // The bucket is named here; the host is the endpoint's.
        t.bucket = std::move(t.host);
        t.host.clear();
    }
    return t;
}

namespace {

// Percent-encodes what a URL piece cannot hold as it is; keep: the characters that stand as they
// are in this piece besides letters, digits and "-._~".
std::string Encoded(std::string_view text, std::string_view keep) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '-' || c == '.' || c == '_' || c == '~' || u >= 0x80 ||
            keep.find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

}  // namespace

std::string TargetUrl(const Target& target, std::string_view name) {
    const SchemeInfo& scheme =
        *std::find_if(std::begin(kSchemes), std::end(kSchemes),
                      [&](const SchemeInfo& s) { return s.protocol == target.protocol; });
    std::string url = std::string(scheme.scheme) + "://";
    std::string query;
    const auto option = [&query](std::string_view key, std::string_view value) {
        if (value.empty()) return;
        query += query.empty() ? "?" : "&";
        query += std::string(key) + "=" + Encoded(value, ":/@");
    };
    if (target.protocol == Protocol::S3) {
        url += target.bucket + "/" + Encoded(target.path, "/");
        option("endpoint", target.endpoint);
        option("region", target.region);
        option("style", target.pathStyle ? "path" : "virtual");
        option("provider", target.provider);
        option("profile", target.profile);
        option("keyid", target.accessKeyId);
    } else {
        if (!target.user.empty()) url += Encoded(target.user, "") + "@";
        url += target.host.find(':') != std::string::npos ? "[" + target.host + "]"
                                                          : Encoded(target.host, "");
        if (target.port) url += ":" + std::to_string(target.port);
        std::string path = Encoded(target.path, "/");
        if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
        url += path;
        option("key", target.keyFile);
        option("fingerprint", target.hostKeySha256);
    }
    option("ca", target.caFile);
    option("public", target.publicAddress);
    if (target.uploads) option("uploads", std::to_string(target.uploads));
    option("name", name);
    return url + query;
}

std::string TargetPlace(const Target& target) {
    const SchemeInfo& scheme =
        *std::find_if(std::begin(kSchemes), std::end(kSchemes),
                      [&](const SchemeInfo& s) { return s.protocol == target.protocol; });
    std::string place = std::string(scheme.scheme) + "://";
    if (target.protocol == Protocol::S3) {
        // The endpoint's scheme and host in lower case; its port as given.
        return place + target.bucket + "/" + target.path + "?endpoint=" + Lower(target.endpoint);
    }
    const bool fromLogin =
        target.protocol == Protocol::Ftp || target.protocol == Protocol::FtpExplicit ||
        target.protocol == Protocol::FtpImplicit ||
        (target.protocol == Protocol::Sftp &&
         (target.path.empty() || target.path.front() != '/' || target.path.starts_with("/~/")));
    if (fromLogin) place += target.user + "@";
    const std::string host = Lower(target.host);
    place += host.find(':') != std::string::npos ? "[" + host + "]" : host;
    place += ":" + std::to_string(target.port ? target.port : scheme.port);
    std::string path = target.path;
    if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
    if (path.back() != '/') path += '/';
    return place + path;
}

}  // namespace zembrat::publish
