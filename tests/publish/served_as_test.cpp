// The media type a published file is served with, by the kind its name tells.
#include "publish/served_as.h"

#include <gtest/gtest.h>

namespace zembrat::publish {
namespace {

TEST(ServedAs, TheMediaTypeComesFromTheExtensionInAnyLetterCase) {
    const std::pair<std::string, std::string> cases[] = {
        {"files/img/1a2b3c4d.png", "image/png"},
        {"a.JPG", "image/jpeg"},
        {"a.jpeg", "image/jpeg"},
        {"图/a.svg", "image/svg+xml"},
        {"a.webp", "image/webp"},
        {"a.gif", "image/gif"},
        {"文章/一.htm", "text/html"},
        {"a.Html", "text/html"},
        {"notes.md", "text/markdown"},
        {"a.bin", "application/octet-stream"},
        {"no-extension", "application/octet-stream"},
        {"dir.png/name", "application/octet-stream"},
    };
    for (const auto& [name, type] : cases) EXPECT_EQ(ContentTypeOf(name), type) << name;
}

// A text names the charset its bytes are read in; other types, and a type that names one, stay.
TEST(ServedAs, ATextNamesTheCharsetItsBytesAreReadIn) {
    const struct {
        std::string type, bytes, served;
    } cases[] = {
        {"text/html", "<p>\xD6\xD0\xCE\xC4</p>", "text/html; charset=GBK"},
        {"text/html", "<p>plain</p>", "text/html; charset=GBK"},
        {"text/html", "<p>\xE4\xB8\xAD\xE6\x96\x87</p>", "text/html; charset=UTF-8"},
        {"text/markdown", "\xEF\xBB\xBF# title", "text/markdown; charset=UTF-8"},
        {"text/html; charset=Big5", "<p>\xA4\xA4</p>", "text/html; charset=Big5"},
        {"image/svg+xml", "<svg/>", "image/svg+xml"},
        {"", "x", ""},
    };
    for (const auto& c : cases) {
        const ServedAs served = WithCharset({c.type, "public, max-age=300"}, c.bytes);
        EXPECT_EQ(served.contentType, c.served) << c.type << " " << c.bytes;
        EXPECT_EQ(served.cacheControl, "public, max-age=300");
    }
}

}  // namespace
}  // namespace zembrat::publish
