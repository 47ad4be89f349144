// Conversions between the program's GBK text and Unicode, and between named encodings.
//
// GBK text is decoded and encoded as GB18030 (a superset of GBK), so every character the file
// system or a page can hold round-trips. The lenient conversions never fail as a whole: an
// invalid byte becomes U+FFFD and the rest is converted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zembrat::text {

// The converter's name of the encoding the program's GBK text is read and written in.
inline constexpr char kGbkCharset[] = "GB18030";

std::u16string Utf16FromGbk(std::string_view gbk);
std::string GbkFromUtf16(std::u16string_view utf16);
std::string Utf8FromGbk(std::string_view gbk);
std::string GbkFromUtf8(std::string_view utf8);

// UTF-16 text that remembers where in the GBK input each unit's character starts: a
// checkpoint every kCheckpointUnits units, and a short walk over the GBK bytes from there.
class MappedUtf16 {
  public:
    static constexpr std::size_t kCheckpointUnits = 64;

    std::u16string text;

    // The offset in gbk (the text this was decoded from) of the first byte of the character
    // that unit belongs to; gbk.size() for the unit after the last. Both halves of a surrogate
    // pair belong to one character. Still valid after text has been moved away.
    std::size_t ByteOffset(std::string_view gbk, std::size_t unit) const;
    std::size_t units() const { return units_; }

  private:
    friend MappedUtf16 Utf16FromGbkMapped(std::string_view gbk);
    struct Checkpoint {
        std::uint32_t unit;  // at or before a multiple of kCheckpointUnits, at a character start
        std::uint32_t byte;
    };
    std::vector<Checkpoint> checkpoints_;
    std::size_t units_ = 0;
};
MappedUtf16 Utf16FromGbkMapped(std::string_view gbk);

// True when every character of the GBK text is either an ASCII byte or a two-byte character
// (a lead byte 81..FE and a trail byte 40..7E or 80..FE) whose code point is no ASCII character
// nor one that matches an ASCII letter ignoring case: a search for ASCII delimiters and words
// may then go over the bytes and take each byte of 0x80 and above, with the byte after it, as
// one character that is none of them. False for any other byte sequence (a four-byte character,
// a byte that is no character).
bool HasOnlyAsciiAndTwoByteCharacters(std::string_view gbk);

// Conversion between two encodings named as iconv names them ("UTF-8", "GB18030", "BIG5",
// "UTF-16LE", ...). Empty when the input holds an invalid or incomplete sequence, or when the
// converter does not know one of the names.
std::optional<std::string> ConvertStrict(std::string_view input, const char* from, const char* to);

// What a conversion that never gives up puts in for a sequence the converter refuses.
struct Replacement {
    std::string_view text;  // in the target encoding
    // The bytes a refused sequence at the start of rest takes up; they are skipped.
    std::size_t (*badLength)(std::string_view rest);
    // An unfinished sequence at the very end is replaced once and ends the conversion (instead
    // of being skipped by badLength and converted on).
    bool unfinishedEndIsOne = false;
};
// Conversion between two encodings (named as for ConvertStrict) that replaces each refused
// sequence and goes on after it. Empty when the converter does not know one of the names.
std::string ConvertReplacing(std::string_view input, const char* from, const char* to,
                             const Replacement& replacement);

}  // namespace zembrat::text

namespace zembrat::text::literals {

// "转存结果"_gbk: a text written in the (UTF-8) source, as the program's GBK text.
inline std::string operator""_gbk(const char* utf8, std::size_t size) {
    return GbkFromUtf8(std::string_view(utf8, size));
}

}  // namespace zembrat::text::literals
