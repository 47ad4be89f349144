// What a downloaded body is, on random media types, addresses and bodies. Checked besides
// crashes: an image's signature followed by anything is that image and is a web page only when
// the media type alone makes it one, and the stored extension is always one of the known ones:
// the detected type's under the content check, the address's otherwise.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "job/content_type.h"
#include "job/image_names.h"

namespace {
using namespace zembrat::job;
using namespace std::string_view_literals;

struct Signature {
    std::string_view bytes;
    ImageType type;
};

// Each signature as a file of that type begins; four bytes after "RIFF" and two after "BM" are
// sizes, any value does. An "ftyp" box ends where its size says, so the brands of what follows
// it count for nothing.
constexpr std::array<Signature, 10> kSignatures{{
    {"\xFF\xD8\xFF"sv, ImageType::Jpeg},
    {"\x89PNG\r\n\x1A\n"sv, ImageType::Png},
    {"GIF87a"sv, ImageType::Gif},
    {"GIF89a"sv, ImageType::Gif},
    {"RIFF\x24\x10\0\0WEBPVP8 "sv, ImageType::WebP},
    {"BM\x36\x10\0\0\0\0\0\0\x36\0\0\0"sv, ImageType::Bmp},
    {"\0\0\1\0\1\0"sv, ImageType::Ico},
    {"\0\0\0\x18"
     "ftypavif\0\0\0\0mif1miaf"sv,
     ImageType::Avif},
    {"\0\0\0\x14"
     "ftypheic\0\0\0\0mif1"sv,
     ImageType::Heic},
    {"<svg xmlns=\"http://www.w3.org/2000/svg\">"sv, ImageType::Svg},
}};

constexpr std::array<std::string_view, 9> kExtensions{"jpg", "png",  "gif",  "webp", "bmp",
                                                      "ico", "avif", "heic", "svg"};

bool Known(std::string_view extension) {
    return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024) return 0;
    FuzzedDataProvider in(data, size);
    const Signature& signature = kSignatures[in.ConsumeIntegralInRange<std::size_t>(0, 9)];
    const std::string contentType = in.ConsumeRandomLengthString(48);
    const std::string address = in.ConsumeRandomLengthString(96);
    const std::string body = in.ConsumeRemainingBytesAsString();

    // Any body.
    const ImageType type = DetectImageType(body);
    FUZZ_CHECK(ExtensionOf(type).empty() == (type == ImageType::None));
    (void)IsWebPage(contentType, body);
    const std::string plain = StoredExtension(address, body, false);
    FUZZ_CHECK(plain == ImageExtension(address));
    FUZZ_CHECK(plain == "jpg" || plain == "png" || plain == "gif" || plain == "ico" ||
               plain == "bmp");
    const std::string checked = StoredExtension(address, body, true);
    FUZZ_CHECK(Known(checked));
    FUZZ_CHECK(checked == (type == ImageType::None ? plain : std::string(ExtensionOf(type))));

    // A signature followed by the body.
    const std::string image = std::string(signature.bytes) + body;
    FUZZ_CHECK(DetectImageType(image) == signature.type);
    // Whether an image's answer is a web page depends on its media type alone (text/html says so
    // whatever comes; JSON and text do not when the body begins as an image): the same for any
    // image format and any body after the signature.
    static const std::string gif = "GIF89a";
    FUZZ_CHECK(IsWebPage(contentType, image) == IsWebPage(contentType, gif));
    FUZZ_CHECK(StoredExtension(address, image, true) == ExtensionOf(signature.type));
    FUZZ_CHECK(StoredExtension(address, image, false) == plain);
    return 0;
}
