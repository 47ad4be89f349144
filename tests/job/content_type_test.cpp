#include "job/content_type.h"

#include <gtest/gtest.h>

#include <string>

namespace zembrat::job {
namespace {

using namespace std::string_literals;

std::string Ftyp(std::string major, std::string compatible) {
    const std::string body = major + "\0\0\0\0"s + compatible;
    const std::size_t size = 8 + body.size();
    std::string box = "\0\0\0"s + static_cast<char>(size) + "ftyp" + body;
    return box + "\0\0\0\x08mdat"s;
}

TEST(ContentTypeTest, FirstBytesGiveTheImageType) {
    struct Case {
        std::string bytes;
        ImageType type;
        std::string_view extension;
    };
    const Case cases[] = {
        {"\xFF\xD8\xFF\xE0\0\x10JFIF"s, ImageType::Jpeg, "jpg"},
        {"\x89PNG\r\n\x1A\n\0\0\0\rIHDR"s, ImageType::Png, "png"},
        {"GIF89a\x01\0\x01\0"s, ImageType::Gif, "gif"},
        {"GIF87a"s, ImageType::Gif, "gif"},
        {"RIFF\x24\0\0\0WEBPVP8 "s, ImageType::WebP, "webp"},
        {"BM\x46\0\0\0\0\0\0\0\x36\0\0\0"s, ImageType::Bmp, "bmp"},
        {"\0\0\1\0\1\0\x10\x10"s, ImageType::Ico, "ico"},
        {Ftyp("avif", "mif1miaf"), ImageType::Avif, "avif"},
        {Ftyp("mif1", "heicmiaf"), ImageType::Heic, "heic"},
        {Ftyp("mif1", "avifmiaf"), ImageType::Avif, "avif"},  // AVIF named among the brands
        {"<svg xmlns=\"http://www.w3.org/2000/svg\"/>", ImageType::Svg, "svg"},
        {"\xEF\xBB\xBF  <?xml version=\"1.0\"?>\n<!-- made by hand -->\n"
         "<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" \"x.dtd\">\n<svg>",
         ImageType::Svg, "svg"},
        // Not images: a page, a text, a CUR file, a RIFF that is not WebP, "BM" text, a video
        // ftyp, an <svgx> element, a cut-off header and nothing at all.
        {"<!DOCTYPE html><html>", ImageType::None, ""},
        {"BMW of course", ImageType::None, ""},
        {"\0\0\2\0\1\0"s, ImageType::None, ""},
        {"RIFF\x24\0\0\0WAVEfmt "s, ImageType::None, ""},
        {Ftyp("isom", "mp41"), ImageType::None, ""},
        {"<?xml version=\"1.0\"?><svgx>", ImageType::None, ""},
        {"\x89PNG", ImageType::None, ""},
        {"", ImageType::None, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(DetectImageType(c.bytes), c.type);
        EXPECT_EQ(ExtensionOf(DetectImageType(c.bytes)), c.extension);
    }
}

TEST(ContentTypeTest, StoredExtensionFollowsTheBytesOnlyUnderTheCheck) {
    const std::string png = "\x89PNG\r\n\x1A\n\0\0"s;
    const std::string gif = "GIF89a\x01\0"s;
    const std::string jpeg = "\xFF\xD8\xFF\xE0"s;
    const std::string page = "<html><body>not found</body></html>";
    struct Case {
        std::string_view address;
        const std::string& bytes;
        std::string_view off, on;
    };
    const Case cases[] = {
        {"http://mmbiz.qpic.cn/mmbiz_png/abc/640?wx_fmt=png", png, "jpg", "png"},
        {"http://a.com/anim.jpg", gif, "jpg", "gif"},
        {"http://a.com/photo.JPEG", jpeg, "jpg", "jpg"},
        {"http://a.com/icon.PNG", png, "png", "png"},
        {"http://a.com/x.gif", page, "gif", "gif"},  // no type: the address decides
        {"http://a.com/x", page, "jpg", "jpg"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(StoredExtension(c.address, c.bytes, false), c.off);
        EXPECT_EQ(StoredExtension(c.address, c.bytes, true), c.on);
    }
}

TEST(ContentTypeTest, WebPagesAreToldFromImages) {
    struct Case {
        std::string_view contentType;
        std::string body;
        bool page;
    };
    const std::string png = "\x89PNG\r\n\x1A\n\0\0"s;
    const Case cases[] = {
        {"text/html", png, true},
        {"Text/HTML; charset=gbk", "", true},
        {" application/XHTML+xml ", png, true},
        {"", " \r\n\t<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">", true},
        {"image/jpeg", "<!doctype html><title>404</title>", true},
        {"application/octet-stream", "\n<HTML><BODY>", true},
        {"image/png", "\xEF\xBB\xBF<html>", true},
        {"image/png", "\xEF\xBB\xBF \n<HEAD><title>x", true},
        {"", "<Body>gone</body>", true},
        {"image/gif", "\t<SCRIPT>location='/'</script>", true},
        {"", "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\">", true},
        {"", "<?XML version=\"1.0\"?><error>no such key</error>", true},
        {"application/json", "{\"error\":\"not found\"}", true},
        {"Text/Plain; charset=utf-8", "File not found", true},
        // Images: by their bytes, an SVG after its prolog, an image sent as a text or JSON.
        {"image/png", png, false},
        {"text/htmlx", "GIF89a", false},
        {"image/svg+xml", "<?xml version=\"1.0\"?><svg/>", false},
        {"", "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- x -->\n<svg xmlns=\"s\">", false},
        {"text/plain", png, false},
        {"application/json", "\xFF\xD8\xFF\xE0", false},
        {"application/json; x=1", "<svg/>", false},
        {"", "x<html>", false},
        {"", "<!doctype svg>", false},
        {"application/octet-stream", "{\"looks\": \"like json\"}", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.contentType) + " | " + c.body);
        EXPECT_EQ(IsWebPage(c.contentType, c.body), c.page);
    }
}

}  // namespace
}  // namespace zembrat::job
