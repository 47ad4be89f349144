#include "job/content_type.h"

#include <cstdint>

#include "job/image_names.h"
#include "text/gbk.h"

namespace zembrat::job {
namespace {

bool StartsWithBytes(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsHtmlSpace(char c) {
    return IsXmlSpace(c) || c == '\f';
}

std::uint32_t BigEndian32(std::string_view s, std::size_t at) {
    return (std::uint32_t{static_cast<unsigned char>(s[at])} << 24) |
           (std::uint32_t{static_cast<unsigned char>(s[at + 1])} << 16) |
           (std::uint32_t{static_cast<unsigned char>(s[at + 2])} << 8) |
           std::uint32_t{static_cast<unsigned char>(s[at + 3])};
}

// An ISO base media file: its "ftyp" box names the brands; AVIF wins over the HEIF brands, so
// an AVIF file that also lists "mif1" is AVIF.
ImageType FtypType(std::string_view s) {
    if (s.size() < 16 || s.substr(4, 4) != "ftyp") return ImageType::None;
    std::size_t boxEnd = BigEndian32(s, 0);
    if (boxEnd < 16) return ImageType::None;
    if (boxEnd > s.size()) boxEnd = s.size();
    bool heif = false;
    auto look = [&heif](std::string_view brand) {
        if (brand == "avif" || brand == "avis") return true;
        if (brand == "heic" || brand == "heix" || brand == "hevc" || brand == "hevx" ||
            brand == "heim" || brand == "heis" || brand == "mif1" || brand == "msf1")
            heif = true;
        return false;
    };
    if (look(s.substr(8, 4))) return ImageType::Avif;
    for (std::size_t at = 16; at + 4 <= boxEnd; at += 4) {
        if (look(s.substr(at, 4))) return ImageType::Avif;
    }
    return heif ? ImageType::Heic : ImageType::None;
}

// Steps over white space, the XML declaration, processing instructions, comments and a
// doctype, then wants the "<svg" element.
ImageType SvgType(std::string_view s) {
    if (StartsWithBytes(s, "\xEF\xBB\xBF")) s.remove_prefix(3);
    std::size_t i = 0;
    for (;;) {
        while (i < s.size() && IsXmlSpace(s[i])) ++i;
        const std::string_view rest = s.substr(i);
        std::size_t end = std::string_view::npos;
        if (StartsWithBytes(rest, "<?")) {
            end = rest.find("?>");
            if (end != std::string_view::npos) end += 2;
        } else if (StartsWithBytes(rest, "<!--")) {
            end = rest.find("-->", 4);
            if (end != std::string_view::npos) end += 3;
        } else if (StartsWithBytes(rest, "<!DOCTYPE") || StartsWithBytes(rest, "<!doctype")) {
            end = rest.find('>');
            if (end != std::string_view::npos) end += 1;
        } else if (StartsWithBytes(rest, "<svg")) {
            if (rest.size() == 4) return ImageType::Svg;
            const char after = rest[4];
            return IsXmlSpace(after) || after == '>' || after == '/' ? ImageType::Svg
                                                                     : ImageType::None;
        } else {
            return ImageType::None;
        }
        if (end == std::string_view::npos) return ImageType::None;
        i += end;
    }
}

}  // namespace

ImageType DetectImageType(std::string_view s) {
    if (StartsWithBytes(s, "\xFF\xD8\xFF")) return ImageType::Jpeg;
    if (StartsWithBytes(s, "\x89PNG\r\n\x1A\n")) return ImageType::Png;
    if (StartsWithBytes(s, "GIF87a") || StartsWithBytes(s, "GIF89a")) return ImageType::Gif;
    if (s.size() >= 12 && StartsWithBytes(s, "RIFF") && s.substr(8, 4) == "WEBP")
        return ImageType::WebP;
    // "BM" alone starts too many texts: the file header's reserved words must be zero.
    if (s.size() >= 14 && StartsWithBytes(s, "BM") &&
        s.substr(6, 4) == std::string_view("\0\0\0\0", 4))
        return ImageType::Bmp;
    if (s.size() >= 6 && StartsWithBytes(s, std::string_view("\0\0\1\0", 4)) &&
        (s[4] != 0 || s[5] != 0))
        return ImageType::Ico;
    if (const ImageType iso = FtypType(s); iso != ImageType::None) return iso;
    return SvgType(s);
}

std::string_view ExtensionOf(ImageType type) {
    switch (type) {
        case ImageType::Jpeg:
            return "jpg";
        case ImageType::Png:
            return "png";
        case ImageType::Gif:
            return "gif";
        case ImageType::WebP:
            return "webp";
        case ImageType::Bmp:
            return "bmp";
        case ImageType::Ico:
            return "ico";
        case ImageType::Avif:
            return "avif";
        case ImageType::Heic:
            return "heic";
        case ImageType::Svg:
            return "svg";
        case ImageType::None:
            break;
    }
    return {};
}

std::string StoredExtension(std::string_view address, std::string_view bytes, bool checkContent) {
    if (checkContent) {
        const std::string_view detected = ExtensionOf(DetectImageType(bytes));
        if (!detected.empty()) return std::string(detected);
    }
    return ImageExtension(address);
}

namespace {

// The media type of a Content-Type value: parameters, surrounding white space and letter case
// left out.
std::string MediaType(std::string_view contentType) {
    std::string_view media = contentType.substr(0, contentType.find(';'));
    while (!media.empty() && IsHtmlSpace(media.front())) media.remove_prefix(1);
    while (!media.empty() && IsHtmlSpace(media.back())) media.remove_suffix(1);
    return text::AsciiLower(media);
}

// A body that opens as markup of a page: after a byte-order mark and white space, a doctype of
// HTML, one of the page's own elements, or an XML prolog that is not an SVG image's.
bool OpensAsPage(std::string_view body) {
    if (StartsWithBytes(body, "\xEF\xBB\xBF")) body.remove_prefix(3);
    std::size_t i = 0;
    while (i < body.size() && IsHtmlSpace(body[i])) ++i;
    const std::string start = text::AsciiLower(body.substr(i, 14));
    for (std::string_view page : {"<!doctype html", "<html", "<head", "<body", "<script"}) {
        if (start.starts_with(page)) return true;
    }
    return start.starts_with("<?xml") && DetectImageType(body) != ImageType::Svg;
}

}  // namespace

bool IsWebPage(std::string_view contentType, std::string_view body) {
    const std::string media = MediaType(contentType);
    if (media == "text/html" || media == "application/xhtml+xml") return true;
    if ((media == "application/json" || media == "text/plain") &&
        DetectImageType(body) == ImageType::None)
        return true;
    return OpensAsPage(body);
}

}  // namespace zembrat::job
