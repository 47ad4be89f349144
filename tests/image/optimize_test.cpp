#include "image/optimize.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_fixtures.h"

namespace zembrat::image {
namespace {

using namespace testing;

Options WebPOptions(int maxWidth = 0, bool strip = false) {
    Options o;
    o.optimize = Target::WebP;
    o.maxWidth = maxWidth;
    o.stripMetadata = strip;
    return o;
}

Options AvifOptions(int maxWidth = 0) {
    Options o = WebPOptions(maxWidth);
    o.optimize = Target::Avif;
    return o;
}

// Every decoded kind, in each target, bounded to a width: the stored image is the target kind
// at the bounded size, its aspect kept.
struct KindCase {
    const char* name;
    Kind kind;
    std::string (*make)();
};

const KindCase kKinds[] = {
    {"jpeg", Kind::Jpeg, [] { return Jpeg(Photo(640, 480)); }},
    {"png", Kind::Png, [] { return Png(Photo(640, 480)); }},
    {"gif", Kind::Gif, [] { return AnimatedGif(640, 480, 1); }},
    {"webp", Kind::WebP, [] { return WebP(Photo(640, 480)); }},
    {"avif", Kind::Avif, [] { return Avif(Photo(640, 480)); }},
    {"bmp", Kind::Bmp, [] { return Bmp(Photo(640, 480)); }},
};

TEST(Optimize, EveryDecodedKindIsShrunkIntoEitherTarget) {
    for (const KindCase& c : kKinds) {
        const std::string bytes = c.make();
        for (const Options& options : {WebPOptions(320), AvifOptions(320)}) {
            SCOPED_TRACE(std::string(c.name) +
                         (options.optimize == Target::Avif ? " avif" : " webp"));
            const Stored stored = Optimize(bytes, c.kind, options);
            EXPECT_EQ(stored.kind, options.optimize == Target::Avif ? Kind::Avif : Kind::WebP);
            const Decoded d = Decode(stored.bytes);
            EXPECT_EQ(d.width, 320);
            EXPECT_EQ(d.pageHeight, 240);
            EXPECT_EQ(d.pages, 1);
        }
    }
}

TEST(Optimize, AJpegPhotoBecomesASmallerWebPThatLooksTheSame) {
    const VImage photo = Photo(800, 600);
    const std::string jpeg = Jpeg(photo);
    const Stored stored = Optimize(jpeg, Kind::Jpeg, WebPOptions());
    ASSERT_EQ(stored.kind, Kind::WebP);
    EXPECT_LT(stored.bytes.size() * 10, jpeg.size() * 9);
    const Decoded d = Decode(stored.bytes);
    EXPECT_EQ(d.width, 800);
    EXPECT_EQ(d.pageHeight, 600);
    EXPECT_LT(MeanDifference(d.pixels, photo), 6.0);
}

TEST(Optimize, KindsThatAreNotDecodedAndUnreadableBytesAreStoredAsTheyCame) {
    const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"4000\"/>";
    const std::string ico("\0\0\1\0\1\0\20\20\0\0\1\0\40\0", 14);
    std::string truncated = Jpeg(Photo(400, 300));
    truncated.resize(truncated.size() / 2);
    const std::string garbage = "\x89PNG\r\n\x1A\n not really a png";

    const struct {
        const std::string& bytes;
        Kind kind;
    } cases[] = {
        {svg, Kind::Other},
        {ico, Kind::Other},
        {truncated, Kind::Jpeg},
        {garbage, Kind::Png},
    };
    for (const auto& c : cases) {
        for (const Options& options : {WebPOptions(100, true), AvifOptions(100)}) {
            const Stored stored = Optimize(c.bytes, c.kind, options);
            EXPECT_EQ(stored.bytes, c.bytes);
            EXPECT_EQ(stored.kind, c.kind);
        }
    }
}

// A valid black PNG of 12000 x 12000 pixels (144 megapixels, over the bound): it would shrink
// to the width, but it is never decoded.
TEST(Optimize, AnImageOfTooManyPixelsIsStoredAsItCame) {
    const int side = 12000;
    std::string idat;
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, 9), Z_OK);
    const std::string row(1 + 3 * side, '\0');  // filter byte, then black
    char out[1 << 16];
    for (int y = 0; y < side; ++y) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(row.data()));
        z.avail_in = static_cast<uInt>(row.size());
        const int flush = y + 1 == side ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef*>(out);
            z.avail_out = sizeof out;
            deflate(&z, flush);
            idat.append(out, sizeof out - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    std::string header = std::string("\0\0\x2E\xE0\0\0\x2E\xE0\x08\x02\0\0\0", 13);
    const std::string huge = std::string("\x89PNG\r\n\x1A\n", 8) + PngChunk("IHDR", header) +
                             PngChunk("IDAT", idat) + PngChunk("IEND", "");
    // The library reads it: its header says so.
    StartLibrary();
    ASSERT_EQ(VImage::new_from_buffer(huge.data(), huge.size(), "").width(), side);
    const Stored stored = Optimize(huge, Kind::Png, WebPOptions(100));
    EXPECT_EQ(stored.kind, Kind::Png);
    EXPECT_EQ(stored.bytes, huge);
}

TEST(Optimize, NothingIsDoneWithoutAnOption) {
    const std::string jpeg = JpegWithMetadata(Photo(300, 200), 6);
    const Stored stored = Optimize(jpeg, Kind::Jpeg, Options{});
    EXPECT_EQ(stored.bytes, jpeg);
    EXPECT_EQ(stored.kind, Kind::Jpeg);
}

TEST(Optimize, AnImageIsNeverEnlargedToTheWidth) {
    const std::string jpeg = Jpeg(Photo(200, 150));
    const Stored stored = Optimize(jpeg, Kind::Jpeg, WebPOptions(1000));
    const Decoded d = Decode(stored.bytes);
    EXPECT_EQ(d.width, 200);
    EXPECT_EQ(d.pageHeight, 150);
}

TEST(Optimize, AWideJpegIsDecodedSmallerAndShrunkToExactlyTheWidth) {
    // 3000 wide to 700: decoded at a quarter (750) and resampled the rest of the way.
    const Stored stored = Optimize(Jpeg(Photo(3000, 2000)), Kind::Jpeg, WebPOptions(700));
    const Decoded d = Decode(stored.bytes);
    EXPECT_EQ(d.width, 700);
    EXPECT_EQ(d.pageHeight, 467);
}

TEST(Optimize, AnAnimatedGifBecomesAnAnimatedWebPWithEveryFrame) {
    const std::string gif = AnimatedGif(300, 200, 5);
    for (const Options& options : {WebPOptions(), AvifOptions(), WebPOptions(150)}) {
        const Stored stored = Optimize(gif, Kind::Gif, options);
        ASSERT_EQ(stored.kind, Kind::WebP);
        EXPECT_LT(stored.bytes.size(), gif.size());
        const Decoded d = Decode(stored.bytes);
        EXPECT_EQ(d.pages, 5);
        EXPECT_EQ(d.width, options.maxWidth == 0 ? 300 : 150);
        EXPECT_EQ(d.pageHeight, options.maxWidth == 0 ? 200 : 100);
    }
}

TEST(Optimize, AnAnimationAlreadyInWebPIsKeptUnlessItMustShrink) {
    const Stored animated = Optimize(AnimatedGif(300, 200, 4), Kind::Gif, WebPOptions());
    ASSERT_EQ(animated.kind, Kind::WebP);
    EXPECT_EQ(Optimize(animated.bytes, Kind::WebP, WebPOptions()).bytes, animated.bytes);
    const Stored shrunk = Optimize(animated.bytes, Kind::WebP, WebPOptions(100));
    const Decoded d = Decode(shrunk.bytes);
    EXPECT_EQ(d.pages, 4);
    EXPECT_EQ(d.width, 100);
}

TEST(Optimize, AFewColourPngWithAlphaIsEncodedLosslesslyKeepingItsAlpha) {
    const VImage drawing = Drawing(400, 300, true);
    const std::string png = Png(drawing);
    const Stored stored = Optimize(png, Kind::Png, WebPOptions());
    ASSERT_EQ(stored.kind, Kind::WebP);
    const Decoded d = Decode(stored.bytes);
    EXPECT_EQ(d.bands, 4);
    // The same picture: the colour under a fully transparent pixel is nobody's to see.
    EXPECT_EQ(MeanDifference(d.pixels.premultiply(), drawing.premultiply()), 0.0);
}

TEST(Optimize, APhotoPngIsEncodedLossily) {
    const VImage photo = Photo(400, 300);
    const std::string png = Png(photo);
    const Stored stored = Optimize(png, Kind::Png, WebPOptions());
    ASSERT_EQ(stored.kind, Kind::WebP);
    EXPECT_LT(stored.bytes.size() * 4, png.size());
    const double difference = MeanDifference(Decode(stored.bytes).pixels, photo);
    EXPECT_GT(difference, 0.0);
    EXPECT_LT(difference, 6.0);
}

TEST(Optimize, AlphaSurvivesALossyEncodeAndAShrink) {
    VImage photo = Photo(400, 300);
    photo = photo.bandjoin(VImage::xyz(400, 300)[0] > 200).cast(VIPS_FORMAT_UCHAR);
    const Stored stored = Optimize(Png(photo), Kind::Png, WebPOptions(200));
    const Decoded d = Decode(stored.bytes);
    ASSERT_EQ(d.bands, 4);
    const VImage alpha = d.pixels[3];
    EXPECT_LT(alpha.extract_area(0, 0, 90, 150).avg(), 8.0);
    EXPECT_GT(alpha.extract_area(110, 0, 90, 150).avg(), 247.0);
}

// The 10% rule: an image the target does not make at least a tenth smaller is stored as it
// came; with strip, its metadata still goes.
TEST(Optimize, WhatIsNotATenthSmallerIsStoredAsItCame) {
    static constexpr char kPixel[] =
        "GIF89a\1\0\1\0\x80\0\0\0\0\0\xFF\xFF\xFF!\xF9\4\1\0\0\0\0,\0\0\0\0\1\0\1\0\0\2\2D\1\0;";
    const std::string tinyGif(kPixel, sizeof kPixel - 1);
    const std::string lowJpeg = Jpeg(Photo(64, 48), 30);
    for (const std::string* bytes : {&tinyGif, &lowJpeg}) {
        const Kind kind = bytes == &tinyGif ? Kind::Gif : Kind::Jpeg;
        const Stored stored = Optimize(*bytes, kind, AvifOptions());
        if (stored.kind == kind) {
            EXPECT_EQ(stored.bytes, *bytes);
        } else {
            EXPECT_LE(stored.bytes.size() * 10, bytes->size() * 9);
        }
    }
    const Stored tiny = Optimize(tinyGif, Kind::Gif, WebPOptions());
    EXPECT_EQ(tiny.kind, Kind::Gif);
    EXPECT_EQ(tiny.bytes, tinyGif);
    // With strip, the stripped original is what the optimised bytes must beat: a comment on
    // the tiny GIF does not make the WebP worth it.
    const std::string commented = tinyGif.substr(0, 19) +
                                  std::string("\x21\xFE\x11shot in Elm St 31") + '\0' +
                                  tinyGif.substr(19);
    ASSERT_EQ(Decode(commented).width, 1);
    const Stored kept = Optimize(commented, Kind::Gif, WebPOptions(0, true));
    EXPECT_EQ(kept.kind, Kind::Gif);
    EXPECT_EQ(kept.bytes, tinyGif);
}

TEST(Optimize, AStillWebPOrAvifIsNotReencoded) {
    const std::string webp = WebP(Photo(400, 300));
    const std::string avif = Avif(Photo(400, 300));
    EXPECT_EQ(Optimize(webp, Kind::WebP, WebPOptions()).bytes, webp);
    EXPECT_EQ(Optimize(webp, Kind::WebP, AvifOptions()).bytes, webp);
    EXPECT_EQ(Optimize(avif, Kind::Avif, WebPOptions()).bytes, avif);
}

TEST(Optimize, TheQualityIsApplied) {
    const std::string jpeg = Jpeg(Photo(600, 400), 95);
    std::vector<std::size_t> sizes;
    for (const int quality : {20, 50, 90}) {
        Options o = WebPOptions();
        o.quality = quality;
        sizes.push_back(Optimize(jpeg, Kind::Jpeg, o).bytes.size());
    }
    EXPECT_LT(sizes[0], sizes[1]);
    EXPECT_LT(sizes[1], sizes[2]);
    EXPECT_EQ(QualityFor(Options{}, Target::WebP), 75);
    EXPECT_EQ(QualityFor(Options{}, Target::Avif), 60);
}

TEST(Optimize, TheSameInputAndOptionsGiveTheSameBytes) {
    const std::string jpeg = Jpeg(Photo(500, 400, 7));
    const std::string gif = AnimatedGif(200, 120, 3);
    const std::string png = Png(Drawing(300, 200, true));
    const struct {
        const std::string& bytes;
        Kind kind;
        Options options;
    } cases[] = {{jpeg, Kind::Jpeg, WebPOptions()},
                 {jpeg, Kind::Jpeg, AvifOptions(300)},
                 {gif, Kind::Gif, WebPOptions(100)},
                 {png, Kind::Png, WebPOptions(0, true)},
                 {png, Kind::Png, AvifOptions()}};
    for (const auto& c : cases) {
        const Stored first = Optimize(c.bytes, c.kind, c.options);
        const Stored second = Optimize(c.bytes, c.kind, c.options);
        EXPECT_EQ(first.bytes, second.bytes);
        EXPECT_NE(first.bytes, c.bytes);
    }
}

// A phone photo held sideways: 300x200 pixels that EXIF orientation 6 turns to 200x300.
TEST(Optimize, ARotatedJpegIsMadeUprightAndStripped) {
    const VImage photo = Photo(300, 200);
    const std::string jpeg = JpegWithMetadata(photo, 6);
    const VImage upright = photo.rot90();
    Options avif = AvifOptions();
    avif.stripMetadata = true;
    const Kind kinds[] = {Kind::WebP, Kind::Jpeg, Kind::Avif};
    const Options options[] = {WebPOptions(0, true), Options{.stripMetadata = true}, avif};
    for (int i = 0; i < 3; ++i) {
        const Stored stored = Optimize(jpeg, Kind::Jpeg, options[i]);
        EXPECT_EQ(stored.kind, kinds[i]);
        const Decoded d = Decode(stored.bytes);
        EXPECT_EQ(d.width, 200);
        EXPECT_EQ(d.pageHeight, 300);
        EXPECT_EQ(d.orientation, 1);
        EXPECT_FALSE(d.gps);
        // Debian 12's libvips leaves a neutral EXIF block (size, resolution) in an AVIF.
        if (stored.kind != Kind::Avif) {
            EXPECT_FALSE(d.exif);
        }
        EXPECT_FALSE(d.xmp);
        EXPECT_EQ(stored.bytes.find("GPS"), std::string::npos);
        EXPECT_EQ(stored.bytes.find("Elm Street"), std::string::npos);
        EXPECT_LT(MeanDifference(d.pixels, upright), 6.0);
    }
}

TEST(Optimize, ARotatedJpegNotMadeSmallerKeepsTheExifThatTurnsIt) {
    const std::string jpeg = JpegWithMetadata(Photo(64, 48), 6);
    Options o = WebPOptions();
    o.quality = 100;
    const Stored stored = Optimize(jpeg, Kind::Jpeg, o);
    if (stored.kind == Kind::Jpeg) {
        EXPECT_EQ(stored.bytes, jpeg);
    } else {
        EXPECT_EQ(Decode(stored.bytes).width, 48);
    }
}

TEST(Optimize, TheColourProfileIsKeptOrTheColoursConvertedToSrgb) {
    // A photo tagged with a wide-gamut profile: its pixel values mean other colours than sRGB's.
    const VImage photo = Photo(400, 300);
    const VImage p3 = photo.icc_transform("p3", VImage::option()->set("input_profile", "srgb"));
    const std::string jpeg = TakeBytes(p3.jpegsave_buffer(VImage::option()->set("Q", 92)));
    ASSERT_TRUE(Decode(jpeg).icc);
    const Decoded kept = Decode(Optimize(jpeg, Kind::Jpeg, WebPOptions()).bytes);
    EXPECT_TRUE(kept.icc);
    EXPECT_LT(MeanDifference(kept.pixels, p3), 6.0);
    const Decoded converted = Decode(Optimize(jpeg, Kind::Jpeg, WebPOptions(0, true)).bytes);
    EXPECT_FALSE(converted.icc);
    EXPECT_LT(MeanDifference(converted.pixels, photo), 6.0);
}

}  // namespace
}  // namespace zembrat::image
