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

}  // namespace zembrat::text
