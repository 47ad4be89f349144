#include "text/percent_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace zembrat::text {
namespace {

TEST(PercentEncoding, EachPartOfAnAddressKeepsItsOwnCharacters) {
    struct Case {
        std::string bytes;
        UrlKeeps keeps;
        std::string encoded;
    };
    const std::string delimiters = "!#$&'()*+,/:;=?@[]%";
    const Case cases[] = {
        // A path of pieces: the unreserved characters and "/" stay; hex is upper case.
        {"img/猫 a+b~._-.png", UrlKeeps::UnreservedAndSlash, "img/%E7%8C%AB%20a%2Bb~._-.png"},
        {delimiters, UrlKeeps::UnreservedAndSlash,
         "%21%23%24%26%27%28%29%2A%2B%2C/%3A%3B%3D%3F%40%5B%5D%25"},
        {"AZaz09-._~", UrlKeeps::UnreservedAndSlash, "AZaz09-._~"},
        // A query name or value (or a user name): "/" is encoded too.
        {"a b/c=d&e", UrlKeeps::Unreserved, "a%20b%2Fc%3Dd%26e"},
        {delimiters, UrlKeeps::Unreserved,
         "%21%23%24%26%27%28%29%2A%2B%2C%2F%3A%3B%3D%3F%40%5B%5D%25"},
        {std::string("\x00\x1F\x7F", 3), UrlKeeps::Unreserved, "%00%1F%7F"},
        // A whole address made fit to send: its delimiters and escapes stand, spaces and
        // non-ASCII bytes are written out.
        {"http://h/a b/猫?q=%41&x#f", UrlKeeps::AsciiButSpace,
         "http://h/a%20b/%E7%8C%AB?q=%41&x#f"},
        {delimiters, UrlKeeps::AsciiButSpace, delimiters},
        // A whole address with only its non-ASCII bytes written out: a space stays.
        {"http://h/a b/猫", UrlKeeps::Ascii, "http://h/a b/%E7%8C%AB"},
        {"\x80\xFF", UrlKeeps::Ascii, "%80%FF"},
        {"", UrlKeeps::Unreserved, ""},
        {"", UrlKeeps::Ascii, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes + " / " + std::to_string(static_cast<int>(c.keeps)));
        EXPECT_EQ(PercentEncoded(c.bytes, c.keeps), c.encoded);
    }
}

}  // namespace
}  // namespace zembrat::text
