#include "web/page_decoding.h"

#include <algorithm>
#include <optional>

#include "platform/files.h"
#include "text/codec.h"
#include "text/markers.h"

namespace zembrat::web {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

// The declarations as stored: two apostrophes stand for a double quote.
constexpr std::string_view kUtf8Declarations =
    "charset=UTF-8[fg]charset=''UTF-8''[fg]charset='UTF-8'";
constexpr std::string_view kBig5Declarations = "charset=Big5[fg]charset=''Big5''[fg]charset='Big5'";
constexpr std::string_view kBig5HkscsDeclarations =
    "charset=Big5-HKSCS[fg]charset=''Big5-HKSCS''[fg]charset='Big5-HKSCS'";

const char* ConverterName(int selector) {
    switch (selector) {
        case kUtf8:
            return "UTF-8";
        case kUtf16Le:
            return "UTF-16LE";
        case kUtf16Be:
            return "UTF-16BE";
        case kBig5:
            return "BIG5";
        case kBig5Hkscs:
            return "BIG5-HKSCS";
        default:
            return "UTF-8";
    }
}

// How many bytes an invalid sequence that starts at s takes up.
using InvalidLength = std::size_t (*)(std::string_view s);
std::size_t OneUnit(std::string_view) {
    return 2;
}
// UTF-8: a whole character that has no GBK form is one bad character; any other invalid
// byte is one on its own.
std::size_t Utf8Character(std::string_view s) {
    const auto at = [s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = at(0);
    std::size_t length = 1;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    }
    if (length == 1 || s.size() < length || at(1) < low || at(1) > high) return 1;
    for (std::size_t i = 2; i < length; ++i)
        if (at(i) < 0x80 || at(i) > 0xBF) return 1;
    return length;
}
// Big5: a lead byte takes its trail byte with it, as one bad character.
std::size_t LeadAndTrail(std::string_view s) {
    return static_cast<unsigned char>(s[0]) >= 0x81 && s.size() > 1 ? 2 : 1;
}

// Converts to GBK without giving up: each invalid sequence becomes "?" and the conversion goes
// on after it, as the platform's wide-character conversions do; an unfinished one at the end is
// one "?".
std::string ConvertReplacing(std::string_view input, const char* from, InvalidLength invalid) {
    return text::ConvertReplacing(input, from, text::kGbkCharset, {"?", invalid, true});
}

// The decoders that take over when the strict conversion of a known encoding gives nothing.
std::string SecondDecoder(int detected, std::string_view bytes) {
    switch (detected) {
        case kUtf8:
            return text::TextOf(ConvertReplacing(bytes, "UTF-8", Utf8Character));
        case kUtf16Le:
        case kUtf16Be:
            // Each in its own byte order (a big-endian body read as little-endian would only
            // give garbage).
            return text::TextOf(ConvertReplacing(bytes, ConverterName(detected), OneUnit));
        case kBig5:
            return ConvertReplacing(text::TextOf(bytes), "CP950", LeadAndTrail);
        case kBig5Hkscs:
            return ConvertReplacing(text::TextOf(bytes), "BIG5-HKSCS", LeadAndTrail);
        default:
            return {};
    }
}

// A read position over the source bytes.
class Reader {
  public:
    explicit Reader(std::string_view data) : data_(data) {}
    std::string_view Read(std::size_t n) {
        const std::size_t take = std::min(n, data_.size() - pos_);
        const std::string_view s = data_.substr(pos_, take);
        pos_ += take;
        return s;
    }
    void Rewind() { pos_ = 0; }
    void Skip(std::size_t n) { pos_ = std::min(data_.size(), pos_ + n); }
    std::string_view Rest() const { return data_.substr(pos_); }

  private:
    std::string_view data_;
    std::size_t pos_ = 0;
};

}  // namespace

bool ContainsAny(std::string_view textIn, std::string_view list) {
    for (const std::string& alternative : text::Split(list, "[fg]")) {
        if (alternative.empty()) continue;
        if (text::FindNoCase(textIn, alternative) != text::kNotFound) return true;
    }
    return false;
}

MetaCharsetResult MetaCharset(std::string_view page) {
    static const std::string utf8 = text::ReplaceAll(kUtf8Declarations, "''", "\"");
    static const std::string big5 = text::ReplaceAll(kBig5Declarations, "''", "\"");
    static const std::string hkscs = text::ReplaceAll(kBig5HkscsDeclarations, "''", "\"");
    std::string head = text::TextBetweenMarkers(page, "<head>", "</head>");
    if (head.empty()) head = page;
    std::size_t position = 0;
    while (true) {
        const std::size_t close = text::Find(head, ">", position);
        if (close == text::kNotFound) return {};
        const std::size_t meta = text::FindLastNoCase(head, "<meta", close);
        if (meta == text::kNotFound) return {};
        const std::size_t from = meta + 5;
        const std::string_view tag = std::string_view(head).substr(from, close - from);
        position = close + 1;
        if (tag.empty()) return {};
        if (ContainsAny(tag, utf8)) return {true, 1};
        if (ContainsAny(tag, hkscs)) return {true, 3};
        if (ContainsAny(tag, big5)) return {true, 2};
    }
}

DecodedText DecodeText(std::string_view fileName, int selector, std::string_view sourceBytes,
                       std::string_view sourceText) {
    text::Bytes fileBytes;
    std::string_view source;
    if (!fileName.empty()) {
        if (!platform::ReadWholeFile(fileName, fileBytes)) return {};
        source = fileBytes;
    } else {
        source = !sourceBytes.empty() ? sourceBytes : sourceText;
    }
    if (selector < kDetectEncoding || selector > kBig5Hkscs) selector = kGbkOrUtf8;

    Reader reader(source);
    int detected = selector;
    if (selector == kDetectEncoding) {
        if (reader.Read(3) == kUtf8Mark) {
            detected = kUtf8;
        } else if (reader.Rewind(), reader.Read(2) == kUtf16LeMark) {
            detected = kUtf16Le;
        } else if (reader.Rewind(), reader.Read(2) == kUtf16BeMark) {
            detected = kUtf16Be;
        } else {
            reader.Rewind();
            const MetaCharsetResult meta = MetaCharset(text::TextOf(source));
            reader.Rewind();
            if (meta.found) {
                detected = meta.result == 1 ? kUtf8 : meta.result == 2 ? kBig5 : kBig5Hkscs;
                if (detected == kUtf8 && reader.Read(3) != kUtf8Mark) reader.Rewind();
            } else {
                detected = kGbkOrUtf8;
            }
        }
    } else if (selector == kUtf16Le || selector == kUtf16Be) {
        reader.Skip(2);
    } else if (selector == kUtf8) {
        if (reader.Read(3) != kUtf8Mark) reader.Rewind();
    }

    const std::string_view rest = reader.Rest();
    std::string decoded;
    if (detected >= kUtf8 && detected <= kBig5Hkscs) {
        if (auto converted = text::ConvertStrict(rest, ConverterName(detected), text::kGbkCharset))
            decoded = text::TextOf(*converted);
        if (decoded.empty()) decoded = SecondDecoder(detected, rest);
    } else {
        if (auto converted = text::ConvertStrict(rest, "UTF-8", text::kGbkCharset))
            decoded = text::TextOf(*converted);
        if (!decoded.empty() && decoded.size() < rest.size()) detected = kUtf8;
    }
    if (decoded.empty()) {
        decoded = text::TextOf(source);
        detected = kGbkOrUtf8;
    }
    return {std::move(decoded), detected};
}

}  // namespace zembrat::web
