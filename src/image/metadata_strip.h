// Removing the photo information (EXIF with its GPS position, XMP, IPTC, comments, camera
// thumbnails) from an image file by dropping the parts of the file that carry it, without
// decoding or re-encoding a single pixel. Colour profiles, transparency, animation and
// everything else a viewer needs are kept byte for byte.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zembrat::image {

// A JPEG without its APP1 (EXIF, XMP), APP13 (IPTC), COM and other metadata segments. APP0
// JFIF, APP2 ICC_PROFILE and APP14 Adobe (which says how the colours are coded) stay, as does
// everything from the start of the scan on. Empty when the segments before the scan cannot be
// walked.
std::optional<std::string> StripJpeg(std::string_view bytes);

// A PNG without its eXIf, tEXt, zTXt, iTXt and tIME chunks; nothing after IEND. Empty when
// the chunks cannot be walked.
std::optional<std::string> StripPng(std::string_view bytes);

// A WebP without its EXIF and XMP chunks, the VP8X flags and the RIFF size told so. Empty when
// the chunks cannot be walked.
std::optional<std::string> StripWebP(std::string_view bytes);

// A GIF without its comment extensions and the application extensions other than the loop
// count (NETSCAPE2.0, ANIMEXTS1.0), which is how GIFs carry XMP. Empty when the blocks cannot
// be walked.
std::optional<std::string> StripGif(std::string_view bytes);

}  // namespace zembrat::image
