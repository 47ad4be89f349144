#include "job/image_names.h"

#include <gtest/gtest.h>

#include "text/codec.h"
#include "text/crc32.h"

namespace zembrat::job {
namespace {
using namespace text::literals;

TEST(ContentName, UpperCaseHexWithoutLeadingZeros) {
    EXPECT_EQ(ContentName("123456789"), "CBF43926");
    // Find bytes whose CRC has leading zero digits: the name is shorter than eight digits.
    std::string bytes;
    for (int i = 0;; ++i) {
        bytes = "img" + std::to_string(i);
        if (ContentName(bytes).size() < 8) break;
    }
    const std::string name = ContentName(bytes);
    EXPECT_NE(name[0], '0');
    EXPECT_EQ(std::stoul(name, nullptr, 16), text::Crc32(bytes));
}

TEST(ImageExtension, FourKeptExtensionsAndJpgForTheRest) {
    EXPECT_EQ(ImageExtension("http://a/b.GIF"), "gif");
    EXPECT_EQ(ImageExtension("http://a/b.png"), "png");
    EXPECT_EQ(ImageExtension("http://a/favicon.Ico"), "ico");
    EXPECT_EQ(ImageExtension("http://a/b.bmp"), "bmp");
    EXPECT_EQ(ImageExtension("http://a/b.JPEG"), "jpg");
    EXPECT_EQ(ImageExtension("http://a/b.webp"), "jpg");
    EXPECT_EQ(ImageExtension("http://a/img.php?id=3"),
              "jpg");  // the last dot counts, even before a query
    EXPECT_EQ(ImageExtension("http://a/x.gif?v=1.png"), "png");
    EXPECT_EQ(ImageExtension("http://host.gif/path"), "jpg");  // ".gif/path"
    EXPECT_EQ(ImageExtension("noDot"), "jpg");
}

TEST(ImageAddresses, RelativePathAndNewAddress) {
    EXPECT_EQ(ImageRelPath("files/img", "ABC", "png"), "files/img/ABC.png");
    EXPECT_EQ(ImageRelPath("files\\img", "ABC", "png"),
              "files/img/ABC.png");  // a typed "\" reads as "/"
    EXPECT_EQ(ImageRelPath("图片"_gbk + "\x81\x5C", "A", "gif"),
              "图片"_gbk + "\x81\x5C/A.gif");  // a trail byte stays
    EXPECT_EQ(NewAddress("files/img/ABC.png", ""), "/files/img/ABC.png");
    EXPECT_EQ(NewAddress("files/img/ABC.png", "www.mysite.cn"),
              "http://www.mysite.cn/files/img/ABC.png");
    EXPECT_EQ(NewAddress("img/A.jpg", "my.cn/blog"), "http://my.cn/blog/img/A.jpg");
}

TEST(Rewrite, EveryOccurrenceLeftToRightWithoutRescanning) {
    const std::string src = "http://a.com/1.jpg";
    const std::string article =
        "<img src=\"" + src + "\">" + "说明"_gbk + src + " <a href=" + src + ">";
    EXPECT_EQ(Rewrite(article, src, "/img/X.jpg"),
              "<img src=\"/img/X.jpg\">" + "说明"_gbk + "/img/X.jpg <a href=/img/X.jpg>");
    // The inserted text is not searched again, even when it holds the source.
    EXPECT_EQ(Rewrite("a.jpg a.jpg", "a.jpg", "/x/a.jpg"), "/x/a.jpg /x/a.jpg");
    // A prefix of another source rewritten first leaves the longer one's tail behind it.
    std::string t = Rewrite("s=a.jpg s=a.jpg?x=1", "a.jpg", "/N.jpg");
    EXPECT_EQ(t, "s=/N.jpg s=/N.jpg?x=1");
    EXPECT_EQ(Rewrite(t, "a.jpg?x=1", "/M.jpg"), t);
    // No occurrence starts on a trail byte: 81 2F... is no GBK, so take 81 68 ("乨" has trail 'h').
    EXPECT_EQ(Rewrite("\x81hxx hxx", "hxx", "Y"), "\x81hxx Y");
    EXPECT_EQ(Rewrite("abc", "", "Y"), "abc");
    // In place, with working space kept between calls.
    std::string text = "a.jpg b.jpg a.jpg", scratch;
    RewriteInPlace(text, "a.jpg", "/N.jpg", scratch);
    RewriteInPlace(text, "c.jpg", "/M.jpg", scratch);
    RewriteInPlace(text, "b.jpg", "/M.jpg", scratch);
    EXPECT_EQ(text, "/N.jpg /M.jpg /N.jpg");
}

}  // namespace
}  // namespace zembrat::job
