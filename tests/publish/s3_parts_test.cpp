#include <gtest/gtest.h>

#include "publish/s3_parts.h"
#include "publish/web_transfer.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace zembrat::publish {
namespace {

// (How keys and query parts are encoded is tested with text::PercentEncoded.)
TEST(PublishEncoding, QueriesAreSortedByEncodedNameEachNameAndValueEncoded) {
    // Sorted by name after encoding, each name and value encoded.
    EXPECT_EQ(CanonicalQuery({{"prefix", "site/a b"}, {"max-keys", "1"}, {"list-type", "2"}}),
              "list-type=2&max-keys=1&prefix=site%2Fa%20b");
}

TEST(PublishS3Address, PathStyleAndVirtualHostedForms) {
    Target target;
    target.bucket = "photos";
    target.path = "/site/";
    target.endpoint = "http://127.0.0.1:9000";
    const std::string key = S3Key(target, "图/a b.png");
    EXPECT_EQ(key, "site/图/a b.png");
    EXPECT_EQ(S3Address(target, key), "http://127.0.0.1:9000/photos/site/%E5%9B%BE/a%20b.png");

    EXPECT_EQ(S3Address(target, ""), "http://127.0.0.1:9000/photos");

    target.pathStyle = false;
    target.endpoint = "https://s3.eu-west-1.amazonaws.com";
    EXPECT_EQ(S3Address(target, "a.png"), "https://photos.s3.eu-west-1.amazonaws.com/a.png");
    target.endpoint = "https://minio.example:8443/";
    EXPECT_EQ(S3Address(target, ""), "https://photos.minio.example:8443/");

    // Without an endpoint: the region's AWS endpoint.
    target.endpoint.clear();
    target.region = "ap-east-1";
    EXPECT_EQ(S3Address(target, "k"), "https://photos.s3.ap-east-1.amazonaws.com/k");
    target.endpoint = "ftp://host/";
    EXPECT_FALSE(S3Address(target, "k").has_value());

    EXPECT_EQ(S3ErrorCode("<Error><Code>NoSuchBucket</Code><Message>x</Message></Error>"),
              "NoSuchBucket");
    EXPECT_EQ(S3ErrorCode("<html>nothing</html>"), "");
}

TEST(PublishS3Keys, EnvironmentFirstThenTheProfileOfTheCredentialsFile) {
    testing::ScopedEnv id("AWS_ACCESS_KEY_ID", nullptr);
    testing::ScopedEnv secret("AWS_SECRET_ACCESS_KEY", nullptr);
    testing::ScopedEnv token("AWS_SESSION_TOKEN", nullptr);
    testing::TempDir home;
    std::string why;
    EXPECT_FALSE(FindAwsKeys(home.path(), "", why).has_value());
    EXPECT_NE(why.find("\"default\""), std::string::npos) << why;
    EXPECT_NE(why.find(home.path() + "/.aws/credentials"), std::string::npos) << why;

    home.Write(".aws/credentials",
               "# keys\n[default]\naws_access_key_id = DEFKEY\naws_secret_access_key=DEFSECRET\n"
               "\n[work]\r\n ; the work account\r\naws_access_key_id=WORKKEY\r\n"
               "aws_secret_access_key = WORK SECRET \r\naws_session_token = TOKEN\r\n");
    auto keys = FindAwsKeys(home.path(), "", why);
    ASSERT_TRUE(keys.has_value());
    EXPECT_EQ(keys->accessKey, "DEFKEY");
    EXPECT_EQ(keys->secretKey, "DEFSECRET");
    EXPECT_EQ(keys->sessionToken, "");
    keys = FindAwsKeys(home.path(), "work", why);
    ASSERT_TRUE(keys.has_value());
    EXPECT_EQ(keys->accessKey, "WORKKEY");
    EXPECT_EQ(keys->secretKey, "WORK SECRET");
    EXPECT_EQ(keys->sessionToken, "TOKEN");
    EXPECT_FALSE(FindAwsKeys(home.path(), "other", why).has_value());

    testing::ScopedEnv envId("AWS_ACCESS_KEY_ID", "ENVKEY");
    EXPECT_EQ(FindAwsKeys(home.path(), "work", why)->accessKey, "WORKKEY");  // no secret: file
    testing::ScopedEnv envSecret("AWS_SECRET_ACCESS_KEY", "ENVSECRET");
    keys = FindAwsKeys(home.path(), "work", why);
    ASSERT_TRUE(keys.has_value());
    EXPECT_EQ(keys->accessKey, "ENVKEY");
    EXPECT_EQ(keys->secretKey, "ENVSECRET");
}

}  // namespace
}  // namespace zembrat::publish
