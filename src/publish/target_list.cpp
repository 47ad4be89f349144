#include "publish/target_list.h"

#include <charconv>

namespace zembrat::publish {
namespace {

// The URL without its "name=" parameter, and that name (percent-decoded), if any.
std::string WithoutName(std::string_view url, std::string* name) {
    const std::size_t query = url.find('?');
    if (query == std::string_view::npos) return std::string(url);
    std::string kept(url.substr(0, query));
    std::string_view rest = url.substr(query + 1);
    char separator = '?';
    while (!rest.empty()) {
        const std::size_t amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        if (pair.starts_with("name=")) {
            if (name) {
                name->clear();
                const std::string_view value = pair.substr(5);
                for (std::size_t i = 0; i < value.size(); ++i) {
                    int byte = 0;
                    if (value[i] == '%' && i + 2 < value.size() &&
                        std::from_chars(value.data() + i + 1, value.data() + i + 3, byte, 16).ptr ==
                            value.data() + i + 3) {
                        name->push_back(static_cast<char>(byte));
                        i += 2;
                    } else {
                        name->push_back(value[i] == '+' ? ' ' : value[i]);
                    }
                }
            }
        } else if (!pair.empty()) {
            kept.push_back(separator);
            kept.append(pair);
            separator = '&';
        }
        if (amp == std::string_view::npos) break;
        rest = rest.substr(amp + 1);
    }
    return kept;
}

}  // namespace

std::string TargetName(std::string_view url) {
    std::string name;
    const std::string plain = WithoutName(url, &name);
    if (!name.empty()) return name;
    std::string error;
    if (const std::optional<Target> target = ParseTargetUrl(plain, error))
        return target->protocol == Protocol::S3 ? target->bucket : target->host;
    return plain;
}

std::optional<Target> ResolveTarget(const std::vector<std::string>& urls,
                                    std::string_view nameOrUrl, std::string& error) {
    const auto parse = [&](std::string_view url) -> std::optional<Target> {
        std::optional<Target> target = ParseTargetUrl(WithoutName(url, nullptr), error);
        if (target) target->name = TargetName(url);
        return target;
    };
    if (nameOrUrl.find("://") != std::string_view::npos) return parse(nameOrUrl);
    if (nameOrUrl.empty()) {
        if (urls.empty()) {
            error = "no publish target is set: give one as a URL, or add one in the settings";
            return std::nullopt;
        }
        return parse(urls.front());
    }
    for (const std::string& url : urls) {
        if (TargetName(url) == nameOrUrl) return parse(url);
    }
    std::size_t place = 0;
    const auto [end, failure] =
        std::from_chars(nameOrUrl.data(), nameOrUrl.data() + nameOrUrl.size(), place);
    if (failure == std::errc() && end == nameOrUrl.data() + nameOrUrl.size() && place >= 1 &&
        place <= urls.size())
        return parse(urls[place - 1]);
    error = "no publish target is named " + Redacted(nameOrUrl);
    return std::nullopt;
}

}  // namespace zembrat::publish
