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

}  // namespace
}  // namespace zembrat::publish
