// Decoding of web pages (and files) into the program's GBK text.
#pragma once

#include <string>
#include <string_view>

#include "text/gbk.h"

namespace zembrat::web {

// Encoding selectors of DecodeText.
enum PageEncoding : int {
    kDetectEncoding = 0,
    kGbkOrUtf8 = 1,  // GBK, though a valid UTF-8 body is still recognised
    kUtf8 = 2,
    kUtf16Le = 3,
    kUtf16Be = 4,
    kBig5 = 5,
    kBig5Hkscs = 6,
};

struct DecodedText {
    std::string text;  // GBK
    int detected = 0;  // the selector that was used; 0 when the source could not be read
};

// Decodes a source: the named file when fileName is not empty, else sourceBytes when not
// empty, else sourceText. Selector 0 detects the encoding (byte-order mark, then a charset
// declared in a "<meta" tag of the head, then a trial as UTF-8); any value outside 0 to 6
// acts as 1. What cannot be converted comes back unconverted, so the text is empty only for an
// empty or unreadable source and, as text ends at a zero byte, for some that start with one.
DecodedText DecodeText(std::string_view fileName, int selector, std::string_view sourceBytes,
                       std::string_view sourceText);

struct MetaCharsetResult {
    bool found = false;
    int result = 0;  // 1 UTF-8, 2 Big5, 3 Big5-HKSCS
};

// The charset declared by the "<meta" tags of the page's head (the whole page when it has no
// head), read tag by tag up to the first ">" that no "<meta" precedes.
MetaCharsetResult MetaCharset(std::string_view page);

// True when text holds any alternative of list (alternatives separated by "[fg]"), ASCII case
// ignored. Empty alternatives are skipped.
bool ContainsAny(std::string_view text, std::string_view list);

}  // namespace zembrat::web
