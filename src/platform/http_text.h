// The texts of an HTTP request and its answer: what a method, a header or a URL may hold, the URL
// as it goes out, and the charset a Content-Type names. Private to platform/.
#pragma once

#include <string>
#include <string_view>

namespace zembrat::platform::http_detail {

// A byte below 0x20 (CR, LF and the other controls) or DEL.
bool HasControlCharacter(std::string_view s);
// RFC 9110 token characters: what a method or a header name may hold.
bool IsToken(std::string_view s);
// s without the spaces, tabs, CRs and LFs around it.
std::string TrimWhitespace(std::string_view s);
// The URL as curl gets it: non-ASCII characters as percent-encoded UTF-8, spaces as %20.
std::string WireUrl(std::string_view gbkUrl);
// The value of the charset parameter of a Content-Type value, lower-cased; empty when none.
std::string CharsetOf(std::string_view contentType);
// A charset whose text is the program's own GBK text as it stands.
bool IsGbkFamily(std::string_view charset);

}  // namespace zembrat::platform::http_detail
