#include "text/percent_encoding.h"

namespace zembrat::text {
namespace {

bool Kept(unsigned char c, UrlKeeps keeps) {
    switch (keeps) {
        case UrlKeeps::Ascii:
            return c < 0x80;
        case UrlKeeps::AsciiButSpace:
            return c < 0x80 && c != ' ';
        case UrlKeeps::UnreservedAndSlash:
            if (c == '/') return true;
            [[fallthrough]];
        case UrlKeeps::Unreserved:
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   c == '-' || c == '.' || c == '_' || c == '~';
    }
    return false;
}

}  // namespace

std::string PercentEncoded(std::string_view bytes, UrlKeeps keeps) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (Kept(c, keeps)) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string PercentDecoded(std::string_view text) {
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 &&
            hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace zembrat::text
