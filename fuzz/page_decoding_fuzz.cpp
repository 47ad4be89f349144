// Random page bodies through DecodeText with every selector (from the bytes, from the text and
// now and then from a file), and through MetaCharset and ContainsAny. Besides crashes and
// sanitizer reports it checks what callers rely on: the text is empty only when the source
// gives no text at all, it holds no zero byte, the detected selector is one of the encodings,
// a conversion that succeeds is faithful, and the searches ignore ASCII case.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "platform/files.h"
#include "text/codec.h"
#include "text/gbk.h"
#include "web/page_decoding.h"

namespace {

using zembrat::web::DecodedText;
using zembrat::web::DecodeText;
namespace text = zembrat::text;
namespace web = zembrat::web;

const std::string& ScratchFile() {
    static const std::string path = zembrat::fuzzing::ScratchPath("page.htm");
    return path;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

bool IsAscii(std::string_view s) {
    for (const char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// The characters of valid UTF-8: every byte but the continuation bytes starts one.
std::size_t CodePoints(std::string_view utf8) {
    std::size_t n = 0;
    for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

const char* ConverterName(int selector) {
    switch (selector) {
        case web::kUtf8:
            return "UTF-8";
        case web::kUtf16Le:
            return "UTF-16LE";
        case web::kUtf16Be:
            return "UTF-16BE";
        case web::kBig5:
            return "BIG5";
        default:
            return "BIG5-HKSCS";
    }
}

// The body as UTF-8 when it is valid in the selector's encoding. It goes through UTF-32 since
// the platform's UTF-8 to UTF-8 conversion copies invalid bytes unchecked.
std::optional<std::string> StrictUtf8(std::string_view body, int selector) {
    const auto units = text::ConvertStrict(body, ConverterName(selector), "UTF-32LE");
    if (!units) return std::nullopt;
    return text::ConvertStrict(*units, "UTF-32LE", "UTF-8");
}

// The bytes an explicit selector converts: after the two bytes UTF-16 always drops, or after a
// UTF-8 byte-order mark.
std::string_view RestFor(int selector, std::string_view body) {
    if (selector == web::kUtf16Le || selector == web::kUtf16Be)
        return body.substr(std::min<std::size_t>(2, body.size()));
    if (selector == web::kUtf8 && StartsWith(body, "\xEF\xBB\xBF")) return body.substr(3);
    return body;
}

void CheckDecoding(std::string_view body) {
    const std::string asText = text::TextOf(body);
    const DecodedText gbk = DecodeText({}, web::kGbkOrUtf8, body, {});

    for (int selector = -1; selector <= 7; ++selector) {
        const DecodedText bytes = DecodeText({}, selector, body, {});
        const DecodedText fromText = DecodeText({}, selector, {}, body);
        // The source bytes win over the source text.
        const DecodedText both = DecodeText({}, selector, body, "<meta charset=Big5>");
        FUZZ_CHECK(bytes.text == fromText.text && bytes.detected == fromText.detected);
        if (!body.empty()) FUZZ_CHECK(both.text == bytes.text && both.detected == bytes.detected);

        const std::string& t = bytes.text;
        const int d = bytes.detected;
        FUZZ_CHECK(d >= web::kGbkOrUtf8 && d <= web::kBig5Hkscs);
        FUZZ_CHECK(t.find('\0') == std::string::npos);
        // Empty only when even the unconverted text is: an empty body or one that starts with
        // a zero byte.
        if (t.empty()) FUZZ_CHECK(asText.empty());
        if (selector < web::kDetectEncoding || selector > web::kBig5Hkscs) {
            FUZZ_CHECK(t == gbk.text && d == gbk.detected);
        } else if (selector == web::kGbkOrUtf8) {
            FUZZ_CHECK(d == web::kGbkOrUtf8 || d == web::kUtf8);
            if (IsAscii(body)) {
                // ASCII is the same in both encodings: it comes back as it is.
                FUZZ_CHECK(t == asText);
                const bool cut = asText.size() < body.size() && !asText.empty();
                FUZZ_CHECK(d == (cut ? web::kUtf8 : web::kGbkOrUtf8));
            }
        } else if (selector != web::kDetectEncoding) {
            FUZZ_CHECK(d == selector || d == web::kGbkOrUtf8);
            if (d == web::kGbkOrUtf8) FUZZ_CHECK(t == asText);
            // A body valid in its encoding decodes to the same characters, as far as they have
            // a form in GB18030 (a few private-use code points have none in the converter).
            const std::string_view rest = RestFor(selector, body);
            const auto utf8 = StrictUtf8(rest, selector);
            if (utf8 && !utf8->empty() && (*utf8)[0] != '\0') {
                FUZZ_CHECK(d == selector);
                const std::string whole = text::TextOf(*utf8);
                if (text::ConvertStrict(whole, "UTF-8", "GB18030")) {
                    const auto back = text::ConvertStrict(t, "GB18030", "UTF-8");
                    FUZZ_CHECK(back && *back == whole);
                } else if (selector <= web::kUtf16Be) {
                    // Each character without a form is one "?": none is lost or doubled.
                    const auto units = text::ConvertStrict(t, "GB18030", "UTF-32LE");
                    FUZZ_CHECK(units && units->size() / 4 == CodePoints(whole));
                }
            }
        } else {
            // Detection: a byte-order mark decides, else a declaration, else the UTF-8 trial.
            if (StartsWith(body, "\xEF\xBB\xBF")) {
                FUZZ_CHECK(d == web::kUtf8 || d == web::kGbkOrUtf8);
            } else if (StartsWith(body, "\xFF\xFE")) {
                FUZZ_CHECK(d == web::kUtf16Le || d == web::kGbkOrUtf8);
            } else if (StartsWith(body, "\xFE\xFF")) {
                FUZZ_CHECK(d == web::kUtf16Be || d == web::kGbkOrUtf8);
            } else {
                const web::MetaCharsetResult meta = web::MetaCharset(asText);
                if (meta.found) {
                    const int declared = meta.result == 1   ? web::kUtf8
                                         : meta.result == 2 ? web::kBig5
                                                            : web::kBig5Hkscs;
                    FUZZ_CHECK(d == declared || d == web::kGbkOrUtf8);
                } else {
                    FUZZ_CHECK(t == gbk.text && d == gbk.detected);
                }
            }
            if (d == web::kGbkOrUtf8 && t != gbk.text) FUZZ_CHECK(t == asText);
        }
    }
}

void CheckFile(std::string_view body, int selector) {
    const std::string& path = ScratchFile();
    if (!zembrat::platform::WriteWholeFile(path, body)) return;
    const DecodedText fromFile = DecodeText(path, selector, "ignored", "ignored");
    const DecodedText fromBytes = DecodeText({}, selector, body, {});
    FUZZ_CHECK(fromFile.text == fromBytes.text && fromFile.detected == fromBytes.detected);
}

const std::string& AllDeclarations() {
    static const std::string all =
        "charset=UTF-8[fg]charset=\"UTF-8\"[fg]charset='UTF-8'[fg]"
        "charset=Big5[fg]charset=\"Big5\"[fg]charset='Big5'[fg]"
        "charset=Big5-HKSCS[fg]charset=\"Big5-HKSCS\"[fg]charset='Big5-HKSCS'";
    return all;
}

void CheckMetaCharset(std::string_view page) {
    const web::MetaCharsetResult meta = web::MetaCharset(page);
    if (meta.found) {
        FUZZ_CHECK(meta.result >= 1 && meta.result <= 3);
        FUZZ_CHECK(web::ContainsAny(page, AllDeclarations()));
        FUZZ_CHECK(text::FindNoCase(page, "<meta") != text::kNotFound);
    } else {
        FUZZ_CHECK(meta.result == 0);
    }
    // Tags, markers and declarations are all matched without regard to ASCII case.
    for (const std::string& cased : {text::AsciiUpper(page), text::AsciiLower(page)}) {
        const web::MetaCharsetResult other = web::MetaCharset(cased);
        FUZZ_CHECK(other.found == meta.found && other.result == meta.result);
    }
}

// Whether s is one whole alternative of a list: no "[fg]" inside, and no lone lead byte at
// its end that would take the "[" of a following separator as its second byte.
bool IsWholeAlternative(std::string_view s) {
    if (s.find("[fg]") != std::string_view::npos) return false;
    std::size_t last = 0;
    for (std::size_t i = 0; i < s.size(); i += text::CharLength(s, i)) last = i;
    return s.empty() || text::CharLength(s, last) == 2 ||
           !text::IsLeadByte(static_cast<unsigned char>(s[last]));
}

void CheckContainsAny(FuzzedDataProvider& in, const std::string& haystack) {
    const std::string a = in.ConsumeRandomLengthString(12);
    const std::string b = in.ConsumeRandomLengthString(12);
    const bool inA = web::ContainsAny(haystack, a);
    const bool inB = web::ContainsAny(haystack, b);
    FUZZ_CHECK(!web::ContainsAny(haystack, ""));
    FUZZ_CHECK(!web::ContainsAny(haystack, "[fg][fg]"));
    FUZZ_CHECK(web::ContainsAny(text::AsciiUpper(haystack), a) == inA);
    FUZZ_CHECK(web::ContainsAny(text::AsciiLower(haystack), a) == inA);
    if (IsWholeAlternative(a) && IsWholeAlternative(b)) {
        FUZZ_CHECK(web::ContainsAny(haystack, a + "[fg]" + b) == (inA || inB));
        FUZZ_CHECK(web::ContainsAny(haystack, "[fg]" + a + "[fg][fg]") == inA);
    }
    // A piece cut from the text at character boundaries is found in it.
    std::size_t from = 0;
    const std::size_t skip = in.ConsumeIntegralInRange<std::size_t>(0, 64);
    for (std::size_t n = 0; n < skip && from < haystack.size(); ++n)
        from += text::CharLength(haystack, from);
    std::size_t to = from;
    const std::size_t take = in.ConsumeIntegralInRange<std::size_t>(1, 16);
    for (std::size_t n = 0; n < take && to < haystack.size(); ++n)
        to += text::CharLength(haystack, to);
    const std::string piece = haystack.substr(from, to - from);
    if (!piece.empty() && piece.find("[fg]") == std::string::npos) {
        FUZZ_CHECK(web::ContainsAny(haystack, piece));
        FUZZ_CHECK(web::ContainsAny(text::AsciiUpper(haystack), piece));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::uint8_t mode = in.ConsumeIntegral<std::uint8_t>();
    const std::string body = in.ConsumeRemainingBytesAsString();
    CheckDecoding(body);
    const std::string page = text::TextOf(body);
    CheckMetaCharset(page);
    if ((mode & 0x0F) == 0) CheckFile(body, (mode >> 4) % 9 - 1);

    // The searches of ContainsAny take their needles from the start of the input again, so
    // that they often meet the page's own bytes.
    FuzzedDataProvider needles(data, size);
    CheckContainsAny(needles, page);
    return 0;
}
