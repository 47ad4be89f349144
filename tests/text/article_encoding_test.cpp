#include "text/article_encoding.h"

#include <gtest/gtest.h>

namespace zembrat::text {
namespace {

TEST(ArticleEncoding, OnlyWellFormedUtf8CountsAsUtf8) {
    bool multibyte = true;
    EXPECT_TRUE(IsValidUtf8("<img src=x>", &multibyte));
    EXPECT_FALSE(multibyte);
    EXPECT_TRUE(IsValidUtf8("\xE4\xB8\xAD \xF0\x9F\x98\x80 \xC2\xA9 \xF4\x8F\xBF\xBF", &multibyte));
    EXPECT_TRUE(multibyte);
    for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "\xE4\xB8", "\xD6\xD0\xCE\xC4", "\x80", "\xF5\x80\x80\x80"}) {
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
        EXPECT_EQ(DetectArticleEncoding(std::string("<p>") + bad), ArticleEncoding::Gbk);
    }
    EXPECT_EQ(DetectArticleEncoding("\xEF\xBB\xBF\xD6\xD0"), ArticleEncoding::Utf8);
    EXPECT_EQ(DetectArticleEncoding("\xE4\xB8\xAD\xE6\x96\x87"), ArticleEncoding::Utf8);
    EXPECT_EQ(DetectArticleEncoding("plain ASCII"), ArticleEncoding::Gbk);
}

}  // namespace
}  // namespace zembrat::text
