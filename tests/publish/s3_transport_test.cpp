#include <gtest/gtest.h>
#include <sys/stat.h>

#include "publish/protocol_transports.h"
#include "support/s3_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "upload_helpers.h"

namespace zembrat::publish {
namespace {

class S3TransportTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(server_.started()) << server_.error(); }

    Target MakeTarget() const {
        Target target;
        target.name = "my-bucket";
        target.protocol = Protocol::S3;
        target.bucket = server_.bucket();
        target.endpoint = server_.endpoint();
        target.region = "us-east-1";
        target.path = "site/";
        return target;
    }

    testing::S3Server server_;
    testing::TempDir local_;
    testing::TempDir home_;
    testing::ScopedEnv token_{"AWS_SESSION_TOKEN", nullptr};
};

TEST_F(S3TransportTest, UploadsUnderEncodedKeysThenLooksAndFetches) {
    testing::ScopedEnv id("AWS_ACCESS_KEY_ID", server_.accessKey().c_str());
    testing::ScopedEnv secret("AWS_SECRET_ACCESS_KEY", server_.secretKey().c_str());
    auto transport = MakeS3Transport(MakeTarget(), {home_.path(), "", false});
    std::string message;
    ASSERT_TRUE(transport->Connect(message)) << message;

    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(5000, '\x07');
    const std::string gif = "GIF89a" + std::string(300, '\0') + "+ end";
    const std::string chinese = "图片/2024/猫 咪.png";
    const std::string spaced = "a b+c/d e+f.gif";
    for (const auto& [remote, bytes] : {std::pair{chinese, png}, std::pair{spaced, gif}}) {
        const auto file = WriteFile(local_ / "f.bin", bytes);
        const UploadResult result = transport->Upload(file, remote, {});
        EXPECT_EQ(result.status, UploadStatus::Uploaded) << result.message;
        EXPECT_EQ(result.bytes, bytes.size());
        EXPECT_EQ(server_.Object("site/" + remote), bytes) << remote;

        const auto found = transport->Look(remote, message);
        ASSERT_TRUE(found.has_value()) << message;
        EXPECT_TRUE(found->exists);
        EXPECT_EQ(found->size, bytes.size());
        EXPECT_EQ(transport->Fetch(remote, message), bytes) << message;
    }
    const auto absent = transport->Look("图片/none.png", message);
    ASSERT_TRUE(absent.has_value()) << message;
    EXPECT_FALSE(absent->exists);
    EXPECT_FALSE(transport->Fetch("图片/none.png", message).has_value());
    EXPECT_EQ(message, "\"my-bucket\": there is no object under that key (NoSuchKey)");

    // The keys of a profile in ~/.aws/credentials sign as well.
    testing::ScopedEnv noId("AWS_ACCESS_KEY_ID", nullptr);
    home_.Write(".aws/credentials", "[site]\naws_access_key_id = " + server_.accessKey() +
                                        "\naws_secret_access_key = " + server_.secretKey() + "\n");
    ::chmod((home_.path() + "/.aws/credentials").c_str(), 0600);  // the owner's alone
    Target profiled = MakeTarget();
    profiled.profile = "site";
    auto fromFile = MakeS3Transport(profiled, {home_.path(), "", false});
    EXPECT_TRUE(fromFile->Connect(message)) << message;
    EXPECT_EQ(fromFile->Fetch(spaced, message), gif) << message;
}

TEST_F(S3TransportTest, AFolderIsListedWithItsSizesOverPagesOfKeys) {
    testing::ScopedEnv id("AWS_ACCESS_KEY_ID", server_.accessKey().c_str());
    testing::ScopedEnv secret("AWS_SECRET_ACCESS_KEY", server_.secretKey().c_str());
    auto transport = MakeS3Transport(MakeTarget(), {home_.path(), "", false});
    std::string message;
    ASSERT_TRUE(transport->Connect(message)) << message;
    ExpectListsAFolder(*transport, local_.path());
    // More keys than one page holds (a thousand) are listed whole.
    for (int i = 0; i < 1005; ++i)
        ASSERT_EQ(transport
                      ->Upload(WriteFile(local_ / "n.bin", std::to_string(i)),
                               "多/" + std::to_string(i) + ".png", {})
                      .status,
                  UploadStatus::Uploaded);
    const auto many = transport->Listing("多/", message);
    ASSERT_TRUE(many) << message;
    EXPECT_EQ(many->size(), 1005u);
    EXPECT_EQ(many->at("1004.png").size, 4u);
}

TEST_F(S3TransportTest, RefusedOrMissingKeysAreToldNamingTheTarget) {
    testing::ScopedEnv id("AWS_ACCESS_KEY_ID", server_.accessKey().c_str());
    testing::ScopedEnv secret("AWS_SECRET_ACCESS_KEY", "not-the-secret");
    auto transport = MakeS3Transport(MakeTarget(), {home_.path(), "", false});
    std::string message;
    EXPECT_FALSE(transport->Connect(message));
    EXPECT_NE(message.find("\"my-bucket\""), std::string::npos) << message;
    EXPECT_NE(message.find("secret key was refused"), std::string::npos) << message;
    const UploadResult refused =
        transport->Upload(WriteFile(local_ / "a.png", "bytes"), "a.png", {});
    EXPECT_EQ(refused.status, UploadStatus::Failed);
    EXPECT_NE(refused.message.find("\"my-bucket\": the secret access key does not match the "
                                   "access key (SignatureDoesNotMatch)"),
              std::string::npos)
        << refused.message;
    EXPECT_FALSE(server_.Object("site/a.png").has_value());
    EXPECT_FALSE(transport->Look("a.png", message).has_value());
    EXPECT_NE(message.find("\"my-bucket\""), std::string::npos) << message;

    Target other = MakeTarget();
    other.bucket = "no-such-bucket";
    testing::ScopedEnv right("AWS_SECRET_ACCESS_KEY", server_.secretKey().c_str());
    EXPECT_FALSE(MakeS3Transport(other, {home_.path(), "", false})->Connect(message));
    EXPECT_NE(message.find("\"no-such-bucket\" does not exist"), std::string::npos) << message;

    testing::ScopedEnv noId("AWS_ACCESS_KEY_ID", nullptr);
    testing::ScopedEnv noSecret("AWS_SECRET_ACCESS_KEY", nullptr);
    auto keyless = MakeS3Transport(MakeTarget(), {home_.path(), "", false});
    EXPECT_FALSE(keyless->Connect(message));
    EXPECT_NE(message.find("\"my-bucket\": no access key"), std::string::npos) << message;
    EXPECT_EQ(keyless->Upload(local_ / "a.png", "a.png", {}).status, UploadStatus::Failed);
}

TEST_F(S3TransportTest, StopMidUploadLeavesNoObject) {
    testing::ScopedEnv id("AWS_ACCESS_KEY_ID", server_.accessKey().c_str());
    testing::ScopedEnv secret("AWS_SECRET_ACCESS_KEY", server_.secretKey().c_str());
    auto transport = MakeS3Transport(MakeTarget(), {home_.path(), "", false});
    const UploadResult result = UploadStoppedMidway(*transport, local_ / "big.png", "big.png", [&] {
        return testing::LargestFileBelow(server_.folder());
    });
    EXPECT_EQ(result.status, UploadStatus::Stopped) << result.message;
    EXPECT_LT(result.bytes, kBigFile);
    std::string message;
    const auto after = transport->Look("big.png", message);
    ASSERT_TRUE(after.has_value()) << message;
    EXPECT_FALSE(after->exists);
}

}  // namespace
}  // namespace zembrat::publish
