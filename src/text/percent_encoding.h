// Percent-encoding of URL bytes (RFC 3986): a byte that is not kept becomes "%" and its two
// upper-case hex digits. What is kept depends on the part of the address being written.
#pragma once

#include <string>
#include <string_view>

namespace zembrat::text {

// Which bytes PercentEncoded keeps as they are.
enum class UrlKeeps {
    // The unreserved characters (letters, digits, "-", ".", "_", "~"): a query name or value, a
    // user name, S3's canonical query.
    Unreserved,
    // The unreserved characters and "/": a path of pieces (WebDAV, S3, FTP and SFTP addresses).
    UnreservedAndSlash,
    // Every byte below 0x80 but the space: a whole address whose delimiters and escapes already
    // stand, made fit to send (what browsers send for non-ASCII text and spaces).
    AsciiButSpace,
    // Every byte below 0x80: a whole address asked for with its bytes as they stand, only the
    // non-ASCII ones written out (a space stays, as the article wrote it).
    Ascii,
};

std::string PercentEncoded(std::string_view bytes, UrlKeeps keeps);

// Each "%" and two hex digits as the byte they stand for; anything else (a "%" without two hex
// digits after it included) as it is.
std::string PercentDecoded(std::string_view text);

}  // namespace zembrat::text
