#include "job/page_address.h"

#include <map>

#include "text/gbk.h"

namespace zembrat::job {
namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// The attributes of the tag whose name ends at `at`, names lower-cased; `at` ends after its '>'.
std::map<std::string, std::string> Attributes(std::string_view s, std::size_t& at) {
    std::map<std::string, std::string> attributes;
    while (at < s.size()) {
        while (at < s.size() && (IsSpace(s[at]) || s[at] == '/')) ++at;
        if (at >= s.size() || s[at] == '>') break;
        std::size_t nameEnd = at;
        while (nameEnd < s.size() && !IsSpace(s[nameEnd]) && s[nameEnd] != '=' &&
               s[nameEnd] != '>' && s[nameEnd] != '/')
            ++nameEnd;
        std::string name = text::AsciiLower(s.substr(at, nameEnd - at));
        at = nameEnd;
        while (at < s.size() && IsSpace(s[at])) ++at;
        std::string value;
        if (at < s.size() && s[at] == '=') {
            ++at;
            while (at < s.size() && IsSpace(s[at])) ++at;
            if (at < s.size() && (s[at] == '"' || s[at] == '\'')) {
                const char quote = s[at++];
                const std::size_t close = s.find(quote, at);
                const std::size_t end = close == std::string_view::npos ? s.size() : close;
                value = s.substr(at, end - at);
                at = end + 1;
            } else {
                const std::size_t from = at;
                while (at < s.size() && !IsSpace(s[at]) && s[at] != '>') ++at;
                value = s.substr(from, at - from);
            }
        }
        attributes.emplace(std::move(name), text::Trim(value));
    }
    ++at;
    return attributes;
}

bool HasToken(std::string_view list, std::string_view token) {
    for (const std::string& part : text::Split(text::AsciiLower(list), " "))
        if (part == token) return true;
    return false;
}

bool Absolute(std::string_view address) {
    const std::string lower = text::AsciiLower(address.substr(0, 8));
    return lower.starts_with("http://") || lower.starts_with("https://");
}

}  // namespace

std::string ArticlePageAddress(std::string_view article) {
    std::string ogUrl;
    std::size_t at = 0;
    while ((at = article.find('<', at)) != std::string_view::npos) {
        ++at;
        std::size_t nameEnd = at;
        while (nameEnd < article.size() && !IsSpace(article[nameEnd]) && article[nameEnd] != '>' &&
               article[nameEnd] != '/')
            ++nameEnd;
        const std::string tag = text::AsciiLower(article.substr(at, nameEnd - at));
        if (tag != "link" && tag != "meta") continue;
        at = nameEnd;
        const std::map<std::string, std::string> a = Attributes(article, at);
        const auto get = [&a](const char* name) {
            const auto it = a.find(name);
            return it == a.end() ? std::string() : it->second;
        };
        if (tag == "link" && HasToken(get("rel"), "canonical") && Absolute(get("href"))) {
            return get("href");
        }
        if (tag == "meta" && ogUrl.empty() && text::AsciiLower(get("property")) == "og:url" &&
            Absolute(get("content")))
            ogUrl = get("content");
    }
    return ogUrl;
}

}  // namespace zembrat::job
