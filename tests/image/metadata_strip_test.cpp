#include "image/metadata_strip.h"

#include <gtest/gtest.h>

#include <string>

#include "image_fixtures.h"

namespace zembrat::image {
namespace {

using namespace testing;

TEST(StripJpeg, DropsEveryMetadataSegmentAndKeepsTheScanByteForByte) {
    const VImage photo = Photo(240, 160);
    const std::string jpeg = JpegWithMetadata(photo, 3);
    const auto stripped = StripJpeg(jpeg);
    ASSERT_TRUE(stripped);
    const Decoded d = Decode(*stripped);
    EXPECT_FALSE(d.exif);
    EXPECT_FALSE(d.xmp);
    EXPECT_EQ(stripped->find("Exif"), std::string::npos);
    EXPECT_EQ(stripped->find("Photoshop"), std::string::npos);
    EXPECT_EQ(stripped->find("Elm Street"), std::string::npos);
    EXPECT_NE(stripped->find("JFIF"), std::string::npos);
    // Not re-encoded: what follows the start of scan is the same bytes.
    const std::string scan = "\xFF\xDA";
    EXPECT_EQ(stripped->substr(stripped->find(scan)), jpeg.substr(jpeg.find(scan)));
    EXPECT_EQ(MeanDifference(d.pixels, Decode(Jpeg(photo)).pixels), 0.0);
}

TEST(StripJpeg, KeepsTheColourProfile) {
    const VImage p3 =
        Photo(120, 80).icc_transform("p3", VImage::option()->set("input_profile", "srgb"));
    const std::string jpeg = TakeBytes(p3.jpegsave_buffer());
    const auto stripped = StripJpeg(jpeg);
    ASSERT_TRUE(stripped);
    EXPECT_TRUE(Decode(*stripped).icc);
}

TEST(StripPng, DropsTextExifAndTimeChunksAndKeepsThePixelsAndProfile) {
    const VImage drawing = Drawing(200, 100, true);
    const std::string png = PngWithMetadata(drawing);
    ASSERT_TRUE(Decode(png).exif);
    const auto stripped = StripPng(png);
    ASSERT_TRUE(stripped);
    for (const char* gone : {"eXIf", "tEXt", "iTXt", "tIME", "GPS"})
        EXPECT_EQ(stripped->find(gone), std::string::npos) << gone;
    const Decoded d = Decode(*stripped);
    EXPECT_FALSE(d.exif);
    EXPECT_EQ(d.bands, 4);
    EXPECT_EQ(MeanDifference(d.pixels, drawing), 0.0);
    EXPECT_EQ(*stripped, Png(drawing));
}

TEST(StripWebP, DropsTheExifAndXmpChunksAndTellsTheHeader) {
    VImage photo = Photo(160, 120).copy();
    const std::string exif = ExifWithGps(1);
    photo.set(VIPS_META_EXIF_NAME, nullptr, const_cast<char*>(exif.data()), exif.size());
    photo.set(VIPS_META_XMP_NAME, nullptr, const_cast<char*>(kXmp.data()), kXmp.size());
    const std::string webp = WebP(photo);
    ASSERT_NE(webp.find("EXIF"), std::string::npos);
    const auto stripped = StripWebP(webp);
    ASSERT_TRUE(stripped);
    EXPECT_EQ(stripped->find("EXIF"), std::string::npos);
    EXPECT_EQ(stripped->find("GPS"), std::string::npos);
    EXPECT_EQ(stripped->size() % 2, 0u);
    const std::uint32_t riff =
        static_cast<unsigned char>((*stripped)[4]) |
        (static_cast<unsigned char>((*stripped)[5]) << 8) |
        (static_cast<unsigned char>((*stripped)[6]) << 16) |
        (static_cast<std::uint32_t>(static_cast<unsigned char>((*stripped)[7])) << 24);
    EXPECT_EQ(riff + 8, stripped->size());
    const Decoded d = Decode(*stripped);
    EXPECT_FALSE(d.exif);
    EXPECT_FALSE(d.xmp);
    EXPECT_EQ(MeanDifference(d.pixels, Decode(webp).pixels), 0.0);
}

TEST(StripGif, DropsCommentsAndXmpAndKeepsTheLoopAndEveryFrame) {
    const std::string gif = AnimatedGif(80, 60, 3);
    // After the header, the screen and its colour table: a comment and an XMP application block.
    const std::size_t afterTable =
        13 + ((static_cast<unsigned char>(gif[10]) & 0x80) ? 3u << ((gif[10] & 0x07) + 1) : 0u);
    const std::string comment = std::string("\x21\xFE\x0Bhome 31 Elm") + '\0';
    const std::string xmp = std::string("\x21\xFF\x0BXMP DataXMP") + '\x05' + "GPS!!" + '\0';
    const std::string marked = gif.substr(0, afterTable) + comment + xmp + gif.substr(afterTable);
    ASSERT_EQ(Decode(marked).pages, 3);
    const auto stripped = StripGif(marked);
    ASSERT_TRUE(stripped);
    EXPECT_EQ(*stripped, gif);
    EXPECT_EQ(stripped->find("Elm"), std::string::npos);
}

TEST(Strip, BrokenFilesAreRefused) {
    const std::string jpeg = JpegWithMetadata(Photo(64, 48), 1);
    const std::string png = PngWithMetadata(Drawing(64, 48, false));
    const std::string webp = WebP(Photo(64, 48));
    const std::string gif = AnimatedGif(64, 48, 2);
    for (const std::size_t cut : {std::size_t{3}, std::size_t{20}, std::size_t{60}}) {
        EXPECT_FALSE(StripJpeg(jpeg.substr(0, cut))) << cut;
        EXPECT_FALSE(StripPng(png.substr(0, cut))) << cut;
        EXPECT_FALSE(StripGif(gif.substr(0, cut))) << cut;
    }
    EXPECT_FALSE(StripWebP(webp.substr(0, webp.size() / 2)));
    EXPECT_FALSE(StripJpeg("not an image"));
    EXPECT_FALSE(StripPng(jpeg));
    EXPECT_FALSE(StripWebP(png));
    EXPECT_FALSE(StripGif(webp));
}

}  // namespace
}  // namespace zembrat::image
