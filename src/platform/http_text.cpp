#include "platform/http_text.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "text/codec.h"
#include "text/gbk.h"
#include "text/percent_encoding.h"

namespace zembrat::platform::http_detail {

bool HasControlCharacter(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

bool IsToken(std::string_view s) {
    if (s.empty()) return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || u <= 0x20) return false;
        return std::isalnum(u) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
    });
}

std::string TrimWhitespace(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(first, last - first + 1));
}

std::string WireUrl(std::string_view gbkUrl) {
    const bool ascii = std::none_of(gbkUrl.begin(), gbkUrl.end(),
                                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    return text::PercentEncoded(ascii ? std::string(gbkUrl) : text::Utf8FromGbk(gbkUrl),
                                text::UrlKeeps::AsciiButSpace);
}

std::string CharsetOf(std::string_view contentType) {
    const std::string lower = text::AsciiLower(contentType);
    const auto at = lower.find("charset=");
    if (at == std::string::npos) return {};
    std::string value = lower.substr(at + 8);
    value = value.substr(0, value.find_first_of("; \t"));
    value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
    value.erase(std::remove(value.begin(), value.end(), '\''), value.end());
    return value;
}

bool IsGbkFamily(std::string_view charset) {
    return charset == "gbk" || charset == "gb2312" || charset == "gb18030" || charset == "cp936" ||
           charset == "x-gbk";
}

}  // namespace zembrat::platform::http_detail
