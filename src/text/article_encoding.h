// Which encoding an article's bytes are in, told from the bytes alone.
#pragma once

#include <string_view>

namespace zembrat::text {

enum class ArticleEncoding { Gbk, Utf8 };

// True when every byte of 0x80 and above belongs to a well-formed UTF-8 sequence (no overlong
// forms, no surrogates, nothing above U+10FFFF). sawMultibyte, when given, tells whether there
// was any such sequence at all.
bool IsValidUtf8(std::string_view s, bool* sawMultibyte = nullptr);

// Utf8 when the article begins with the UTF-8 byte-order mark, or holds bytes of 0x80 and
// above that all form valid UTF-8 sequences; otherwise Gbk.
ArticleEncoding DetectArticleEncoding(std::string_view article);

}  // namespace zembrat::text
