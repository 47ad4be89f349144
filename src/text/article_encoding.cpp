#include "text/article_encoding.h"

namespace zembrat::text {

bool IsValidUtf8(std::string_view s, bool* sawMultibyte) {
    bool multibyte = false;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t n;
        char32_t cp;
        if (c >= 0xC2 && c <= 0xDF)
            n = 2, cp = c & 0x1F;
        else if (c >= 0xE0 && c <= 0xEF)
            n = 3, cp = c & 0x0F;
        else if (c >= 0xF0 && c <= 0xF4)
            n = 4, cp = c & 0x07;
        else
            return false;
        if (i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            const unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        multibyte = true;
        i += n;
    }
    if (sawMultibyte) *sawMultibyte = multibyte;
    return true;
}

ArticleEncoding DetectArticleEncoding(std::string_view article) {
    if (article.starts_with("\xEF\xBB\xBF")) return ArticleEncoding::Utf8;
    bool multibyte = false;
    return IsValidUtf8(article, &multibyte) && multibyte ? ArticleEncoding::Utf8
                                                         : ArticleEncoding::Gbk;
}

}  // namespace zembrat::text
