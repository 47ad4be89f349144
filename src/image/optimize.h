// Making a downloaded image lighter before it is stored: bytes and options in, bytes and their
// kind out. Pure and deterministic: the same bytes and options give the same bytes on every
// run, so a name made from the stored bytes stays stable.
#pragma once

#include <string>
#include <string_view>

namespace zembrat::image {

// What a file is, as its first bytes show (the caller's content check tells it).
enum class Kind { Other, Jpeg, Png, Gif, WebP, Avif, Bmp };

// The format an image is optimised into.
enum class Target { None, WebP, Avif };

struct Options {
    static constexpr int kMinQuality = 1;
    static constexpr int kMaxQuality = 100;
    static constexpr int kWebPQuality = 75;  // the quality when none is set
    static constexpr int kAvifQuality = 60;
    static constexpr int kLargestMaxWidth = 16383;  // the widest image WebP holds

    Target optimize = Target::None;  // None: the pixels are left as they came
    int quality = 0;                 // kMinQuality..kMaxQuality; 0: the target's own default
    int maxWidth = 0;                // wider images are shrunk to it; 0: no bound
    bool stripMetadata = false;      // EXIF, GPS, XMP, IPTC and comments removed

    friend bool operator==(const Options&, const Options&) = default;
};

// The quality an encode into target uses under options.
int QualityFor(const Options& options, Target target);

struct Stored {
    std::string bytes;
    Kind kind = Kind::Other;
};

// The bytes to store for an image of the given kind:
// - Other (SVG, ICO, anything unknown), any image the library cannot read and any of more than
//   120 megapixels (all frames counted): as it came (stripped when asked, where the file's own
//   parts can be dropped).
// - With optimize: decoded, turned upright by its EXIF orientation, shrunk to maxWidth when
//   wider (never enlarged), and encoded into the target, keeping alpha and the colour profile
//   (converted to sRGB when the metadata goes). An animated GIF or WebP becomes an animated
//   WebP whatever the target. Few-colour images (screenshots, line art, GIFs) are encoded
//   losslessly, photos lossily at the quality. The result is used when it had to be shrunk, or
//   when it is at least 10% smaller than what is stored otherwise: the original, as it came or
//   (with stripMetadata) stripped. An image already in WebP or AVIF is re-encoded only when it
//   must be shrunk or turned.
// - With stripMetadata: the photo information removed, from a JPEG, PNG, WebP or GIF without
//   re-encoding; an image whose EXIF orientation turns it is turned and re-encoded in its own
//   format, losslessly where the format allows.
Stored Optimize(std::string_view bytes, Kind kind, const Options& options);

}  // namespace zembrat::image
