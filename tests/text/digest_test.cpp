#include "text/digest.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace zembrat::text {
namespace {

TEST(Digest, KnownDigestsOfBytesAndOfFiles) {
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex(std::string("a\0b", 3)), "70350f6027bce3713f6b76473084309b");

    // A million bytes: more than one piece of the streaming read.
    const testing::TempDir dir;
    const std::string million = dir.Write("million", std::string(1000000, 'a'));
    EXPECT_EQ(FileSha256Hex(million),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(FileMd5Hex(million), "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(FileSha256Hex(dir.Write("empty", "")), Sha256Hex(""));
    EXPECT_EQ(FileSha256Hex(dir / "missing"), std::nullopt);
    EXPECT_EQ(FileMd5Hex(dir / "missing"), std::nullopt);
}

}  // namespace
}  // namespace zembrat::text
