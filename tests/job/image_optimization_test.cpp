// Where the run meets the image module: the options it passes, the stored extension, the key
// the run record keeps a shaped image under.
#include "job/image_optimization.h"

#include <gtest/gtest.h>

#include <set>

#include "image/image_fixtures.h"

namespace zembrat::job {
namespace {

namespace pictures = image::testing;

ExtensionOptions Optimizing(const char* format, int quality = 0, bool strip = false) {
    ExtensionOptions o;
    o.optimizeImages = format;
    o.imageQuality = quality;
    o.stripMetadata = strip;
    return o;
}

TEST(ImageOptimization, NothingIsShapedWithoutTheOptionsAndTheRecordKeyIsTheAddress) {
    ExtensionOptions plain;
    plain.imageQuality = 50;  // quality and width alone shape nothing
    plain.maxImageWidth = 100;
    const std::string jpeg = pictures::Jpeg(pictures::Photo(200, 100));
    EXPECT_FALSE(ShapeImage("http://h/a.jpg", jpeg, plain));
    EXPECT_FALSE(ShapesImages(plain));
    EXPECT_EQ(RecordedAddress("http://h/a.jpg", plain), "http://h/a.jpg");
}

TEST(ImageOptimization, TheStoredKindDecidesTheExtension) {
    const std::string jpeg = pictures::Jpeg(pictures::Photo(400, 300));
    const auto webp = ShapeImage("http://h/a.jpg", jpeg, Optimizing("webp"));
    ASSERT_TRUE(webp);
    EXPECT_EQ(webp->extension, "webp");
    EXPECT_EQ(webp->bytes.substr(8, 4), "WEBP");
    const auto avif = ShapeImage("http://h/a.jpg", jpeg, Optimizing("avif"));
    ASSERT_TRUE(avif);
    EXPECT_EQ(avif->extension, "avif");
    // Kept as it came: the usual extension, here by the address as without the content check.
    const std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\"/>";
    const auto kept = ShapeImage("http://h/logo.svg", svg, Optimizing("webp"));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->bytes, svg);
    EXPECT_EQ(kept->extension, StoredExtension("http://h/logo.svg", svg, false));
    ExtensionOptions checked = Optimizing("webp");
    checked.checkContent = true;
    EXPECT_EQ(ShapeImage("http://h/logo", svg, checked)->extension, "svg");
    // Stripped only: its own kind and extension.
    ExtensionOptions strip;
    strip.stripMetadata = true;
    const auto stripped =
        ShapeImage("http://h/p.jpg", pictures::JpegWithMetadata(pictures::Photo(64, 48), 1), strip);
    ASSERT_TRUE(stripped);
    EXPECT_EQ(stripped->extension, "jpg");
    EXPECT_FALSE(pictures::Decode(stripped->bytes).exif);
}

TEST(ImageOptimization, TheRecordKeyChangesWithWhatShapesTheStoredFile) {
    const std::string a = "http://h/a.jpg";
    const ExtensionOptions cases[] = {Optimizing("webp"), Optimizing("webp", 40),
                                      Optimizing("avif"), Optimizing("webp", 0, true),
                                      Optimizing("", 0, true)};
    std::set<std::string> keys;
    for (const ExtensionOptions& o : cases) {
        const std::string key = RecordedAddress(a, o);
        EXPECT_TRUE(key.starts_with(a + "\n"));
        keys.insert(key);
    }
    EXPECT_EQ(keys.size(), std::size(cases));
    ExtensionOptions bounded = Optimizing("webp");
    bounded.maxImageWidth = 800;
    EXPECT_NE(RecordedAddress(a, bounded), RecordedAddress(a, Optimizing("webp")));
    // The quality a format uses when none is set is that quality set.
    EXPECT_EQ(RecordedAddress(a, Optimizing("webp", 75)), RecordedAddress(a, Optimizing("webp")));
    EXPECT_EQ(RecordedAddress(a, Optimizing("avif", 60)), RecordedAddress(a, Optimizing("avif")));
}

}  // namespace
}  // namespace zembrat::job
