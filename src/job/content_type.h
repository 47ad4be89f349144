// What a downloaded body is: the image type its first bytes show, the extension the stored
// file gets under the content check, and whether a 2xx answer is a web page instead.
#pragma once

#include <string>
#include <string_view>

namespace zembrat::job {

enum class ImageType { None, Jpeg, Png, Gif, WebP, Bmp, Ico, Avif, Heic, Svg };

// The type the first bytes of a body show; None when they show no image type known here.
// SVG is recognised as text: an optional UTF-8 byte-order mark, white space, an XML
// declaration, comments and a doctype may come before the "<svg" element.
ImageType DetectImageType(std::string_view firstBytes);

// "jpg", "png", "gif", "webp", "bmp", "ico", "avif", "heic", "svg"; empty for None.
std::string_view ExtensionOf(ImageType type);

// The extension of the stored file. Without the check, or when the bytes show no type, the
// usual rule on the address (ImageExtension). With it, the detected type's extension: that
// is the usual one when the address's extension agrees with the bytes, and replaces it when
// the address has none (".../640?wx_fmt=png") or one that disagrees (a GIF served as .jpg).
std::string StoredExtension(std::string_view address, std::string_view bytes, bool checkContent);

// True when a 2xx answer is a web page or a text and not an image. Its media type (any letter
// case, parameters ignored) is text/html or application/xhtml+xml; or application/json or
// text/plain with a body that shows no image type; or its body begins, after a byte-order mark
// and white space, with "<!doctype html", "<html", "<head", "<body", "<script" or an "<?xml"
// prolog in any letter case. An SVG image ("<svg" after its prolog) is no web page.
bool IsWebPage(std::string_view contentType, std::string_view body);

}  // namespace zembrat::job
