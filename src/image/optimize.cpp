#include "image/optimize.h"

#include <glib.h>

#include <cmath>
#include <cstdint>
#include <exception>
#include <optional>
#include <unordered_set>
#include <vips/vips8>

#include "image/metadata_strip.h"

namespace zembrat::image {
namespace {

using vips::VImage;

// The most pixels (every frame of an animation counted) an image may have to be decoded: beyond
// it the image is stored as it came, so that no file can make a run take gigabytes.
constexpr std::uint64_t kMaxPixels = 120'000'000;

// The quality a lossy re-encode in the image's own format uses when only the metadata goes and
// the pixels had to be turned upright.
constexpr int kOwnFormatQuality = 90;

// The loaders this module calls, by their class names; every other loader stays blocked, so no
// file reaches a loader for a kind it was not sniffed as.
constexpr const char* kLoaders[] = {
    "VipsForeignLoadJpegBuffer", "VipsForeignLoadPngBuffer",  "VipsForeignLoadNsgifBuffer",
    "VipsForeignLoadWebpBuffer", "VipsForeignLoadHeifBuffer", "VipsForeignLoadMagickBuffer",
};

void IgnoreLibraryMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// Starts the library once: one worker (encodes are deterministic and a run optimises one image
// at a time), no operation cache (a cached result would outlive the bytes it was made from and
// hold memory across images), its warnings kept off the console.
bool LibraryReady() {
    static const bool ready = [] {
        if (vips_init("zembrat") != 0) return false;
        vips_concurrency_set(1);
        vips_cache_set_max(0);
        vips_cache_set_max_mem(0);
        vips_operation_block_set("VipsForeignLoad", TRUE);
        for (const char* loader : kLoaders) vips_operation_block_set(loader, FALSE);
        g_log_set_handler("VIPS",
                          static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE |
                                                      G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
                          IgnoreLibraryMessage, nullptr);
        return true;
    }();
    return ready;
}

// The library's blob over bytes the caller keeps alive; released when it goes.
class Blob {
  public:
    explicit Blob(std::string_view bytes)
        : blob_(vips_blob_new(nullptr, bytes.data(), bytes.size())) {}
    ~Blob() { vips_area_unref(VIPS_AREA(blob_)); }
    Blob(const Blob&) = delete;
    Blob& operator=(const Blob&) = delete;
    VipsBlob* get() const { return blob_; }

  private:
    VipsBlob* blob_;
};

std::string TakeBytes(VipsBlob* blob) {
    std::size_t size = 0;
    const void* data = vips_blob_get(blob, &size);
    std::string bytes(static_cast<const char*>(data), size);
    vips_area_unref(VIPS_AREA(blob));
    return bytes;
}

// The image in bytes, every frame of an animation one below the other. A truncated or broken
// file fails instead of being filled in. jpegShrink > 1 decodes a JPEG at 1/2, 1/4 or 1/8 size.
// A JPEG or PNG read top to bottom once (sequential) is never held whole; turning one needs
// random access.
VImage Load(std::string_view bytes, Kind kind, int jpegShrink = 1,
            VipsAccess access = VIPS_ACCESS_RANDOM) {
    const Blob blob(bytes);
    auto options = [] { return VImage::option()->set("fail_on", VIPS_FAIL_ON_TRUNCATED); };
    switch (kind) {
        case Kind::Jpeg:
            return VImage::jpegload_buffer(
                blob.get(), options()->set("shrink", jpegShrink)->set("access", access));
        case Kind::Png:
            return VImage::pngload_buffer(blob.get(), options()->set("access", access));
        case Kind::Gif:
            return VImage::gifload_buffer(blob.get(), options()->set("n", -1));
        case Kind::WebP:
            return VImage::webpload_buffer(blob.get(), options()->set("n", -1));
        case Kind::Avif:
            return VImage::heifload_buffer(blob.get(), options());
        case Kind::Bmp:
            return VImage::magickload_buffer(blob.get());
        case Kind::Other:
            break;
    }
    throw vips::VError("no loader for this kind");
}

int Pages(const VImage& image) {
    return std::max(1, vips_image_get_n_pages(image.get_image()));
}

// 1 (upright) when the image tells no EXIF orientation, or is an animation.
int Orientation(const VImage& image) {
    if (Pages(image) > 1) return 1;
    return vips_image_get_orientation(image.get_image());
}

int UprightWidth(const VImage& image) {
    return vips_image_get_orientation_swap(image.get_image()) && Pages(image) == 1 ? image.height()
                                                                                   : image.width();
}

bool HasField(const VImage& image, const char* name) {
    return image.get_typeof(name) != 0;
}

bool IsLosslessWebP(std::string_view bytes) {
    return bytes.find("VP8L") != std::string_view::npos &&
           bytes.find("VP8 ") == std::string_view::npos;
}

// The pixels in the image's colour space at 8 bits, for counting colours.
VImage EightBit(const VImage& image) {
    if (image.format() == VIPS_FORMAT_UCHAR) return image;
    return image.cast(VIPS_FORMAT_UCHAR, VImage::option()->set("shift", true));
}

// Few colours: a screenshot, a diagram, line art. At most 256 distinct colours, or fewer than
// one for every 64 pixels (a photo has many times that); counting stops as soon as it is over.
bool FewColours(const VImage& memoryImage) {
    const VImage pixels = EightBit(memoryImage).copy_memory();
    const int bands = pixels.bands();
    if (bands > 4) return false;
    const std::size_t count = static_cast<std::size_t>(pixels.width()) * pixels.height();
    const std::size_t limit = std::max<std::size_t>(256, count / 64);  // count <= kMaxPixels
    const auto* data = static_cast<const std::uint8_t*>(pixels.data());
    std::unordered_set<std::uint32_t> seen;
    seen.reserve(limit + 1);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t colour = 0;
        for (int b = 0; b < bands; ++b) colour = (colour << 8) | data[i * bands + b];
        if (seen.insert(colour).second && seen.size() > limit) return false;
    }
    return true;
}

// Shrinks to width (which is smaller than the image's), keeping the aspect; every frame of an
// animation alike. Alpha is premultiplied for the resampling, so transparent pixels do not
// bleed their colour into the edges.
VImage ShrinkTo(const VImage& image, int width) {
    const int pages = Pages(image);
    const int pageHeight =
        pages > 1 ? vips_image_get_page_height(image.get_image()) : image.height();
    const double hscale = static_cast<double>(width) / image.width();
    const int newPageHeight = std::max(1, static_cast<int>(std::lround(pageHeight * hscale)));
    const double vscale = static_cast<double>(newPageHeight) / pageHeight;
    auto resize = [&](const VImage& in) {
        return in.resize(hscale, VImage::option()->set("vscale", vscale));
    };
    VImage out;
    if (image.has_alpha()) {
        const VipsBandFormat format = image.format();
        out = resize(image.premultiply()).unpremultiply().cast(format);
    } else {
        out = resize(image);
    }
    if (out.width() != width || out.height() != newPageHeight * pages)
        out = out.extract_area(0, 0, std::min(out.width(), width),
                               std::min(out.height(), newPageHeight * pages));
    if (pages > 1) {
        out = out.copy();
        out.set("page-height", newPageHeight);
    }
    return out;
}

// The pixels converted to sRGB by the embedded colour profile, so that stripping the profile
// with the rest of the metadata does not shift the colours. As it was when the profile cannot
// be used.
VImage InSrgb(const VImage& image) {
    if (!HasField(image, VIPS_META_ICC_NAME)) return image;
    try {
        return image.icc_transform("srgb", VImage::option()->set("embedded", true));
    } catch (const vips::VError&) {
        return image;
    }
}

// The image without the fields its encoder would write as metadata: EXIF, XMP, IPTC, the
// colour profile and comments. (The encoders' own strip switch is not relied on: the WebP one
// of Debian 12's libvips writes the metadata regardless.)
VImage WithoutMetadataFields(const VImage& image) {
    static constexpr std::string_view kPrefixes[] = {
        "exif-", "xmp-", "iptc-", "icc-profile-", "png-comment-", "gif-comment", "orientation"};
    VImage out = image.copy();
    gchar** fields = vips_image_get_fields(out.get_image());
    for (gchar** field = fields; *field != nullptr; ++field) {
        const std::string_view name(*field);
        for (const std::string_view prefix : kPrefixes) {
            if (name.substr(0, prefix.size()) == prefix) {
                out.remove(*field);
                break;
            }
        }
    }
    g_strfreev(fields);
    return out;
}

// The image encoded into target. Debian 12's libvips writes an EXIF block into WebP and AVIF
// even when asked to strip, made from the image's fields (orientation, resolution, size): with
// strip the fields that carry photo information are removed first, and from a WebP the block is
// dropped afterwards, as it is when the image came with none. (In an AVIF that neutral block
// stays: it sits among the image's own boxes.)
std::string Encode(VImage image, Target target, bool lossless, int quality, bool strip) {
    const bool dropExif = strip || !HasField(image, VIPS_META_EXIF_NAME);
    if (strip) image = WithoutMetadataFields(image);
    if (target == Target::Avif) {
        return TakeBytes(
            image.heifsave_buffer(VImage::option()
                                      ->set("Q", quality)
                                      ->set("lossless", lossless)
                                      ->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1)
                                      ->set("strip", strip)));
    }
    std::string webp = TakeBytes(image.webpsave_buffer(
        VImage::option()->set("Q", quality)->set("lossless", lossless)->set("strip", strip)));
    if (!dropExif) return webp;
    std::optional<std::string> stripped = StripWebP(webp);
    return stripped ? std::move(*stripped) : webp;
}

// The image encoded again in its own kind after it was turned upright, without metadata.
std::optional<std::string> EncodeOwnKind(const VImage& image, Kind kind, std::string_view bytes) {
    switch (kind) {
        case Kind::Jpeg:
            return TakeBytes(WithoutMetadataFields(image).jpegsave_buffer(
                VImage::option()->set("Q", kOwnFormatQuality)->set("strip", true)));
        case Kind::Png:
            return TakeBytes(
                WithoutMetadataFields(image).pngsave_buffer(VImage::option()->set("strip", true)));
        case Kind::WebP:
            return Encode(image, Target::WebP, IsLosslessWebP(bytes), kOwnFormatQuality, true);
        case Kind::Avif:
            return Encode(image, Target::Avif, false, kOwnFormatQuality, true);
        case Kind::Gif:
        case Kind::Bmp:
        case Kind::Other:
            break;
    }
    return std::nullopt;
}

// The bytes without their photo information, the file's own parts dropped; as they came when
// the file cannot be walked (a viewer could not read it either) or its kind carries none.
std::string WithoutMetadata(std::string_view bytes, Kind kind) {
    std::optional<std::string> stripped;
    switch (kind) {
        case Kind::Jpeg:
            stripped = StripJpeg(bytes);
            break;
        case Kind::Png:
            stripped = StripPng(bytes);
            break;
        case Kind::WebP:
            stripped = StripWebP(bytes);
            break;
        case Kind::Gif:
            stripped = StripGif(bytes);
            break;
        case Kind::Avif:
        case Kind::Bmp:
        case Kind::Other:
            break;
    }
    return stripped ? std::move(*stripped) : std::string(bytes);
}

// What is stored when no optimised bytes are: the original, or with strip its photo
// information removed. A turned image loses the EXIF that turns it, so it is turned and encoded
// again in its own kind; so is an AVIF that carries EXIF or XMP (its metadata sits in boxes
// among the image's).
Stored Original(std::string_view bytes, Kind kind, bool strip, const VImage* header) {
    if (!strip) return {std::string(bytes), kind};
    if (header != nullptr) {
        const bool turned = Orientation(*header) > 1;
        const bool avifMetadata = kind == Kind::Avif && (HasField(*header, VIPS_META_EXIF_NAME) ||
                                                         HasField(*header, VIPS_META_XMP_NAME));
        if (turned || avifMetadata) {
            VImage image = InSrgb(Load(bytes, kind));
            if (turned) image = image.autorot();
            if (auto encoded = EncodeOwnKind(image, kind, bytes))
                return {std::move(*encoded), kind};
        }
    }
    return {WithoutMetadata(bytes, kind), kind};
}

Kind KindOf(Target target) {
    return target == Target::Avif ? Kind::Avif : Kind::WebP;
}

// The largest JPEG decode shrink (8, 4, 2) that keeps the upright width at least width.
int JpegShrinkFor(int uprightWidth, int width) {
    for (const int factor : {8, 4, 2}) {
        if (uprightWidth / factor >= width) return factor;
    }
    return 1;
}

Stored Optimised(std::string_view bytes, Kind kind, const Options& options) {
    const VImage header = Load(bytes, kind, 1, VIPS_ACCESS_SEQUENTIAL);
    if (static_cast<std::uint64_t>(header.width()) * static_cast<std::uint64_t>(header.height()) >
        kMaxPixels)
        throw vips::VError("too many pixels");
    if (options.optimize == Target::None)
        return Original(bytes, kind, options.stripMetadata, &header);

    const bool animated = Pages(header) > 1;
    const Target target = animated ? Target::WebP : options.optimize;
    const int uprightWidth = UprightWidth(header);
    const bool turn = Orientation(header) > 1;
    const bool shrink = options.maxWidth > 0 && uprightWidth > options.maxWidth;
    if (!shrink && !turn && (kind == Kind::WebP || kind == Kind::Avif))
        return Original(bytes, kind, options.stripMetadata, &header);

    const int factor =
        kind == Kind::Jpeg && shrink ? JpegShrinkFor(uprightWidth, options.maxWidth) : 1;
    VImage image = header;
    if (turn) {
        image = Load(bytes, kind, factor, VIPS_ACCESS_RANDOM).autorot();
    } else if (factor > 1) {
        image = Load(bytes, kind, factor, VIPS_ACCESS_SEQUENTIAL);
    }
    if (shrink) image = ShrinkTo(image, options.maxWidth);
    if (options.stripMetadata) image = InSrgb(image);

    bool lossless = kind == Kind::Gif;
    if (kind == Kind::Png || kind == Kind::Bmp || (kind == Kind::WebP && IsLosslessWebP(bytes))) {
        image = image.copy_memory();
        lossless = FewColours(image);
    }
    std::string encoded =
        Encode(image, target, lossless, QualityFor(options, target), options.stripMetadata);
    // A shrunk image is stored shrunk whatever its size. Otherwise the optimised bytes must be
    // at least a tenth smaller than what would be stored without them: the original, or with
    // strip the original without its metadata (so dropping metadata counts for nothing here).
    // A turned image kept so stays as it came, its EXIF still turning it, or when that goes is
    // turned in its own kind.
    if (shrink) return {std::move(encoded), KindOf(target)};
    Stored original = Original(bytes, kind, options.stripMetadata, &header);
    if (encoded.size() * 10 <= original.bytes.size() * 9)
        return {std::move(encoded), KindOf(target)};
    return original;
}

}  // namespace

int QualityFor(const Options& options, Target target) {
    if (options.quality >= Options::kMinQuality && options.quality <= Options::kMaxQuality)
        return options.quality;
    return target == Target::Avif ? Options::kAvifQuality : Options::kWebPQuality;
}

Stored Optimize(std::string_view bytes, Kind kind, const Options& options) {
    const bool acts = options.optimize != Target::None || options.stripMetadata;
    if (kind == Kind::Other || !acts) return {std::string(bytes), kind};
    // The library cannot start or read the image (a viewer most likely cannot either), or it is
    // beyond the pixels allowed: stored as it came, its metadata parts dropped where they can be
    // found.
    auto asItCame = [&] {
        return Stored{options.stripMetadata ? WithoutMetadata(bytes, kind) : std::string(bytes),
                      kind};
    };
    if (!LibraryReady()) return asItCame();
    try {
        return Optimised(bytes, kind, options);
    } catch (const std::exception&) {
        return asItCame();
    }
}

}  // namespace zembrat::image
