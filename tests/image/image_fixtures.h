// Real image files made in the test with libvips, and a reader that decodes what the optimiser
// gave back, for asserting on what a browser would show.
#pragma once

#include <zlib.h>
#include <cstdint>
#include <string>
#include <string_view>
#include <vips/vips8>

namespace zembrat::image::testing {

using vips::VImage;

inline void StartLibrary() {
    static const bool started = vips_init("image_tests") == 0;
    (void)started;
}

inline std::string TakeBytes(VipsBlob* blob) {
    std::size_t size = 0;
    const void* data = vips_blob_get(blob, &size);
    std::string bytes(static_cast<const char*>(data), size);
    vips_area_unref(VIPS_AREA(blob));
    return bytes;
}

// A photograph's worth of detail: smooth colour gradients under fine noise.
inline VImage Photo(int width, int height, int seed = 1) {
    StartLibrary();
    const VImage x = VImage::xyz(width, height)[0];
    const VImage y = VImage::xyz(width, height)[1];
    const VImage noise =
        VImage::gaussnoise(width, height, VImage::option()->set("sigma", 18.0)->set("seed", seed))
            .gaussblur(0.8);
    const VImage r = (x * (200.0 / width) + noise + 20).sin() * 40 + x * (180.0 / width) + noise;
    const VImage g = y * (200.0 / height) + noise * 0.8 + 10;
    const VImage b = (x + y) * (120.0 / (width + height)) + 60 + noise * 1.2;
    return r.bandjoin(g)
        .bandjoin(b)
        .cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

// Line art: a few flat colours in blocks and stripes, with a transparent band when alpha.
inline VImage Drawing(int width, int height, bool alpha) {
    StartLibrary();
    const VImage x = VImage::xyz(width, height)[0];
    const VImage y = VImage::xyz(width, height)[1];
    const VImage r = ((x / 16).cast(VIPS_FORMAT_INT) % 2) * 200 + 30;
    const VImage g = ((y / 24).cast(VIPS_FORMAT_INT) % 3) * 90 + 20;
    const VImage b = VImage::black(width, height) + 128;
    VImage image = r.bandjoin(g).bandjoin(b);
    if (alpha) image = image.bandjoin((y > height / 2).ifthenelse(255, 0));
    return image.cast(VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
}

inline std::string Jpeg(const VImage& image, int quality = 92) {
    return TakeBytes(
        image.jpegsave_buffer(VImage::option()->set("Q", quality)->set("strip", true)));
}
inline std::string Png(const VImage& image) {
    return TakeBytes(image.pngsave_buffer(VImage::option()->set("strip", true)));
}
inline std::string WebP(const VImage& image, bool lossless = false) {
    return TakeBytes(image.webpsave_buffer(VImage::option()->set("lossless", lossless)));
}
inline std::string Avif(const VImage& image) {
    return TakeBytes(image.heifsave_buffer(
        VImage::option()->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1)));
}
inline std::string Bmp(const VImage& image) {
    return TakeBytes(image.magicksave_buffer(VImage::option()->set("format", "bmp")));
}

// An animated GIF of frames frames, each a drawing shifted along, 100 ms apart, looping.
inline std::string AnimatedGif(int width, int height, int frames) {
    StartLibrary();
    VImage strip;
    for (int i = 0; i < frames; ++i) {
        const VImage frame =
            Drawing(width, height, false).wrap(VImage::option()->set("x", i * 7)->set("y", 0));
        strip = i == 0 ? frame : strip.join(frame, VIPS_DIRECTION_VERTICAL);
    }
    strip = strip.copy();
    strip.set("page-height", height);
    strip.set("delay", std::vector<int>(static_cast<std::size_t>(frames), 100));
    strip.set("loop", 0);
    return TakeBytes(strip.gifsave_buffer());
}

// A decoded image: all its frames, as a viewer would see them.
struct Decoded {
    int width = 0;
    int pageHeight = 0;
    int pages = 0;
    int bands = 0;
    bool exif = false;
    bool gps = false;  // a GPS position in the EXIF
    bool xmp = false;
    bool icc = false;
    int orientation = 1;
    VImage pixels;
};

inline Decoded Decode(std::string_view bytes) {
    StartLibrary();
    VImage image =
        VImage::new_from_buffer(bytes.data(), bytes.size(), "", VImage::option()->set("n", -1));
    Decoded d;
    d.width = image.width();
    d.pages = std::max(1, vips_image_get_n_pages(image.get_image()));
    d.pageHeight = d.pages > 1 ? vips_image_get_page_height(image.get_image()) : image.height();
    d.bands = image.bands();
    d.exif = image.get_typeof(VIPS_META_EXIF_NAME) != 0;
    d.gps = image.get_typeof("exif-ifd3-GPSLatitude") != 0;
    d.xmp = image.get_typeof(VIPS_META_XMP_NAME) != 0;
    d.icc = image.get_typeof(VIPS_META_ICC_NAME) != 0;
    d.orientation = vips_image_get_orientation(image.get_image());
    d.pixels = image.copy_memory();  // the bytes may go before the pixels are looked at
    return d;
}

// The mean of the absolute differences of two images' pixels, band by band.
inline double MeanDifference(const VImage& a, const VImage& b) {
    return (a.cast(VIPS_FORMAT_FLOAT) - b.cast(VIPS_FORMAT_FLOAT)).abs().avg();
}

// TIFF-coded EXIF as it stands in a JPEG's APP1 or a WebP's EXIF chunk: "Exif\0\0", then an
// IFD0 with the orientation and a pointer to a GPS IFD holding latitude 31 deg 14' N.
inline std::string ExifWithGps(int orientation, bool withHeader = true) {
    std::string t = "II*";
    t += '\0';
    auto u16 = [&t](unsigned v) {
        t += static_cast<char>(v & 0xFF);
        t += static_cast<char>(v >> 8);
    };
    auto u32 = [&](unsigned v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    u32(8);
    // IFD0 at 8: two entries (2 + 2*12 + 4 = 30 bytes), so the GPS IFD starts at 38.
    u16(2);
    u16(0x0112), u16(3), u32(1), u16(static_cast<unsigned>(orientation)), u16(0);
    u16(0x8825), u16(4), u32(1), u32(38);
    u32(0);
    // GPS IFD at 38: two entries (30 bytes), the rationals at 68.
    u16(2);
    u16(0x0001), u16(2), u32(2), t += "N", t += '\0', u16(0);
    u16(0x0002), u16(5), u32(3), u32(68);
    u32(0);
    u32(31), u32(1), u32(14), u32(1), u32(0), u32(1);
    return withHeader ? std::string("Exif\0\0", 6) + t : t;
}

inline constexpr std::string_view kXmp =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF><rdf:Description "
    "exif:GPSLatitude=\"31,14N\"/></rdf:RDF></x:xmpmeta>";

inline std::string JpegSegment(unsigned char marker, std::string_view payload) {
    std::string s = "\xFF";
    s += static_cast<char>(marker);
    const std::size_t length = payload.size() + 2;
    s += static_cast<char>(length >> 8);
    s += static_cast<char>(length & 0xFF);
    s += payload;
    return s;
}

// A JPEG of image at quality carrying, as cameras write them after a JFIF segment, EXIF
// (orientation and GPS), XMP, IPTC and a comment.
inline std::string JpegWithMetadata(const VImage& image, int orientation, int quality = 92) {
    const std::string plain = Jpeg(image, quality);  // no JFIF segment of its own
    const std::string jfif("JFIF\0\1\1\0\0\1\0\1\0\0", 14);
    const std::string segments =
        JpegSegment(0xE0, jfif) + JpegSegment(0xE1, ExifWithGps(orientation)) +
        JpegSegment(0xE1,
                    "http://ns.adobe.com/xap/1.0/" + std::string(1, '\0') + std::string(kXmp)) +
        JpegSegment(0xED, "Photoshop 3.0" + std::string(1, '\0') + "8BIM") +
        JpegSegment(0xFE, "shot at home, 31 Elm Street");
    return plain.substr(0, 2) + segments + plain.substr(2);
}

inline std::string PngChunk(std::string_view type, std::string_view data) {
    std::string chunk;
    const auto length = static_cast<std::uint32_t>(data.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        chunk += static_cast<char>((length >> shift) & 0xFF);
    const std::string body = std::string(type) + std::string(data);
    chunk += body;
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    for (int shift = 24; shift >= 0; shift -= 8) chunk += static_cast<char>((crc >> shift) & 0xFF);
    return chunk;
}

// A PNG of image with an iCCP profile kept from the encoder, and eXIf, tEXt, iTXt (XMP) and
// tIME chunks put in after IHDR.
inline std::string PngWithMetadata(const VImage& image) {
    const std::string plain = Png(image);
    const std::size_t afterHeader = 8 + 25;
    const std::string extra =
        PngChunk("eXIf", ExifWithGps(6, false)) +
        PngChunk("tEXt", std::string("Comment\0home", 12)) +
        PngChunk("iTXt", "XML:com.adobe.xmp" + std::string(5, '\0') + std::string(kXmp)) +
        PngChunk("tIME", std::string("\x07\xEA\x0C\x0A\x0B\x16\x00", 7));
    return plain.substr(0, afterHeader) + extra + plain.substr(afterHeader);
}

}  // namespace zembrat::image::testing
