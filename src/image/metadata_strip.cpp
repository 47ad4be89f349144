#include "image/metadata_strip.h"

#include <algorithm>
#include <cstdint>

namespace zembrat::image {
namespace {

std::uint8_t Byte(std::string_view s, std::size_t at) {
    return static_cast<std::uint8_t>(s[at]);
}

std::uint32_t BigEndian16(std::string_view s, std::size_t at) {
    return (std::uint32_t{Byte(s, at)} << 8) | Byte(s, at + 1);
}

std::uint32_t BigEndian32(std::string_view s, std::size_t at) {
    return (BigEndian16(s, at) << 16) | BigEndian16(s, at + 2);
}

std::uint32_t LittleEndian32(std::string_view s, std::size_t at) {
    return std::uint32_t{Byte(s, at)} | (std::uint32_t{Byte(s, at + 1)} << 8) |
           (std::uint32_t{Byte(s, at + 2)} << 16) | (std::uint32_t{Byte(s, at + 3)} << 24);
}

void PutLittleEndian32(std::string& s, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// The JPEG segments a viewer needs before the scan: APP0 "JFIF" (not the JFXX thumbnail),
// APP2 "ICC_PROFILE" and APP14 "Adobe"; every other APPn and COM is information about the
// photo, and every non-APP segment (tables, frame header) is image data.
bool KeepJpegSegment(std::uint8_t marker, std::string_view payload) {
    if (marker == 0xFE) return false;  // COM
    if (marker < 0xE0 || marker > 0xEF) return true;
    if (marker == 0xE0) return StartsWith(payload, std::string_view("JFIF\0", 5));
    if (marker == 0xE2) return StartsWith(payload, std::string_view("ICC_PROFILE\0", 12));
    if (marker == 0xEE) return StartsWith(payload, "Adobe");
    return false;
}

}  // namespace

std::optional<std::string> StripJpeg(std::string_view bytes) {
    if (bytes.size() < 4 || Byte(bytes, 0) != 0xFF || Byte(bytes, 1) != 0xD8) return std::nullopt;
    std::string out(bytes.substr(0, 2));
    std::size_t at = 2;
    for (;;) {
        if (at >= bytes.size() || Byte(bytes, at) != 0xFF) return std::nullopt;
        while (at < bytes.size() && Byte(bytes, at) == 0xFF) ++at;  // fill bytes
        if (at >= bytes.size()) return std::nullopt;
        const std::uint8_t marker = Byte(bytes, at);
        ++at;
        if (marker == 0xD9) {  // EOI before any scan: nothing left to walk
            out += "\xFF\xD9";
            return out;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) return std::nullopt;
        if (at + 2 > bytes.size()) return std::nullopt;
        const std::size_t length = BigEndian16(bytes, at);
        if (length < 2 || at + length > bytes.size()) return std::nullopt;
        const std::string_view payload = bytes.substr(at + 2, length - 2);
        if (marker == 0xDA) {  // start of scan: the rest is image data
            out += '\xFF';
            out += static_cast<char>(marker);
            out += bytes.substr(at);
            return out;
        }
        if (KeepJpegSegment(marker, payload)) {
            out += '\xFF';
            out += static_cast<char>(marker);
            out += bytes.substr(at, length);
        }
        at += length;
    }
}

std::optional<std::string> StripPng(std::string_view bytes) {
    static constexpr std::string_view kSignature("\x89PNG\r\n\x1A\n", 8);
    if (!StartsWith(bytes, kSignature)) return std::nullopt;
    std::string out(kSignature);
    std::size_t at = kSignature.size();
    for (;;) {
        if (at + 12 > bytes.size()) return std::nullopt;
        const std::size_t length = BigEndian32(bytes, at);
        if (length > bytes.size() - at - 12) return std::nullopt;
        const std::string_view type = bytes.substr(at + 4, 4);
        const std::size_t whole = 12 + length;
        if (type != "eXIf" && type != "tEXt" && type != "zTXt" && type != "iTXt" && type != "tIME")
            out += bytes.substr(at, whole);
        at += whole;
        if (type == "IEND") return out;
    }
}

std::optional<std::string> StripWebP(std::string_view bytes) {
    if (bytes.size() < 12 || !StartsWith(bytes, "RIFF") || bytes.substr(8, 4) != "WEBP")
        return std::nullopt;
    const std::size_t riffEnd = std::size_t{LittleEndian32(bytes, 4)} + 8;
    if (riffEnd > bytes.size() || riffEnd < 12) return std::nullopt;
    std::string out(bytes.substr(0, 12));
    std::size_t vp8x = std::string::npos;  // where the VP8X payload sits in out
    std::size_t at = 12;
    while (at < riffEnd) {
        if (at + 8 > riffEnd) return std::nullopt;
        const std::string_view fourcc = bytes.substr(at, 4);
        const std::size_t size = LittleEndian32(bytes, at + 4);
        const std::size_t whole = 8 + size + (size & 1);
        if (size > riffEnd - at - 8) return std::nullopt;
        const std::size_t copied = std::min(whole, riffEnd - at);
        if (fourcc == "VP8X") {
            if (size < 10) return std::nullopt;
            vp8x = out.size() + 8;
        }
        if (fourcc != "EXIF" && fourcc != "XMP ") out += bytes.substr(at, copied);
        at += whole;
    }
    if (vp8x != std::string::npos) {
        constexpr std::uint8_t kExifFlag = 0x08, kXmpFlag = 0x04;
        out[vp8x] = static_cast<char>(Byte(out, vp8x) & ~(kExifFlag | kXmpFlag));
    }
    if (out.size() & 1) out += '\0';
    PutLittleEndian32(out, 4, static_cast<std::uint32_t>(out.size() - 8));
    return out;
}

std::optional<std::string> StripGif(std::string_view bytes) {
    if (bytes.size() < 13 || (!StartsWith(bytes, "GIF87a") && !StartsWith(bytes, "GIF89a")))
        return std::nullopt;
    auto colourTable = [](std::uint8_t flags) -> std::size_t {
        return (flags & 0x80) ? 3u << ((flags & 0x07) + 1) : 0;
    };
    std::size_t at = 13 + colourTable(Byte(bytes, 10));
    if (at > bytes.size()) return std::nullopt;
    std::string out(bytes.substr(0, at));
    // Sub-blocks from at: a size byte, that many bytes, ... up to a zero size. The end, or
    // npos when they run past the bytes.
    auto subBlocksEnd = [&bytes](std::size_t from) {
        while (from < bytes.size()) {
            const std::size_t size = Byte(bytes, from);
            ++from;
            if (size == 0) return from;
            from += size;
        }
        return std::string_view::npos;
    };
    for (;;) {
        if (at >= bytes.size()) return std::nullopt;
        const std::uint8_t introducer = Byte(bytes, at);
        if (introducer == 0x3B) {
            out += '\x3B';
            return out;
        }
        std::size_t end = std::string_view::npos;
        bool keep = true;
        if (introducer == 0x21) {
            if (at + 2 > bytes.size()) return std::nullopt;
            const std::uint8_t label = Byte(bytes, at + 1);
            end = subBlocksEnd(at + 2);
            if (label == 0xFE) keep = false;
            if (label == 0xFF) {
                const std::string_view name = bytes.substr(at + 2, 12);
                keep = name == "\x0BNETSCAPE2.0" || name ==
                                                        "\x0B"
                                                        "ANIMEXTS1.0";
            }
        } else if (introducer == 0x2C) {
            if (at + 10 > bytes.size()) return std::nullopt;
            const std::size_t data = at + 10 + colourTable(Byte(bytes, at + 9)) + 1;
            if (data > bytes.size()) return std::nullopt;
            end = subBlocksEnd(data);
        } else {
            return std::nullopt;
        }
        if (end == std::string_view::npos || end > bytes.size()) return std::nullopt;
        if (keep) out += bytes.substr(at, end - at);
        at = end;
    }
}

}  // namespace zembrat::image
