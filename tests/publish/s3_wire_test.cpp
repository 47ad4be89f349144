#include <gtest/gtest.h>

#include "publish/protocol_transports.h"
#include "support/http_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "upload_helpers.h"

namespace zembrat::publish {
namespace {

// The loopback server as the bucket "bkt" of a store in that region.
Target BucketOf(const testing::HttpServer& server, const std::string& region) {
    Target target;
    target.name = "wire";
    target.protocol = Protocol::S3;
    target.bucket = "bkt";
    target.endpoint = server.BaseUrl();
    target.region = region;
    return target;
}

TEST(S3Wire, APutCarriesTheBodysHashOneDateAndTheTokenAndAFullStoreIsTold) {
    testing::HttpServer server;
    ASSERT_TRUE(server.started());
    testing::ScopedEnv id("AWS_ACCESS_KEY_ID", "AKWIRE");
    testing::ScopedEnv secret("AWS_SECRET_ACCESS_KEY", "wire-secret");
    testing::ScopedEnv token("AWS_SESSION_TOKEN", "wire-token");
    testing::TempDir local;
    Target target = BucketOf(server, "eu-central-1");
    target.path = "site/";
    auto transport = MakeS3Transport(target, {local.path(), "", false});

    server.Set("/bkt/site/图 a+b.png", testing::Reply::Status(507));
    UploadResult result = transport->Upload(WriteFile(local / "f", "hello"), "图 a+b.png", {});
    EXPECT_EQ(result.status, UploadStatus::Failed);
    EXPECT_EQ(result.message, "\"wire\": the storage is full");
    ASSERT_EQ(server.RequestCount(), 1u);
    const auto put = server.Requests().at(0);
    EXPECT_EQ(put.method, "PUT");
    EXPECT_EQ(put.target, "/bkt/site/%E5%9B%BE%20a%2Bb.png");
    EXPECT_EQ(put.body, "hello");
    // SHA-256 of "hello".
    EXPECT_EQ(put.Header("x-amz-content-sha256"),
              "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824");
    EXPECT_EQ(put.HeaderCount("x-amz-date"), 1u);
    EXPECT_EQ(put.Header("x-amz-security-token"), "wire-token");
    const std::string authorization = put.Header("authorization");
    EXPECT_NE(authorization.find("Credential=AKWIRE/"), std::string::npos) << authorization;
    EXPECT_NE(authorization.find("/eu-central-1/s3/aws4_request"), std::string::npos)
        << authorization;
    EXPECT_NE(authorization.find("x-amz-content-sha256"), std::string::npos) << authorization;

    server.Set("/bkt/site/q.png",
               testing::Reply::Status(403, "<Error><Code>QuotaExceeded</Code></Error>"));
    result = transport->Upload(local / "f", "q.png", {});
    EXPECT_EQ(result.message, "\"wire\": the storage is full (QuotaExceeded)");
    server.Set("/bkt/site/d.png",
               testing::Reply::Status(403, "<Error><Code>AccessDenied</Code></Error>"));
    result = transport->Upload(local / "f", "d.png", {});
    EXPECT_EQ(result.message, "\"wire\": access is denied to these keys (AccessDenied)");
    server.Set("/bkt/site/k.png",
               testing::Reply::Status(403, "<Error><Code>InvalidAccessKeyId</Code></Error>"));
    result = transport->Upload(local / "f", "k.png", {});
    EXPECT_EQ(result.message,
              "\"wire\": the access key is not known to the server (InvalidAccessKeyId)");
}

// S3's 500 and 503 are worth another try: a 500 then a 200 is an upload, three 503s are told.
TEST(S3Wire, AnUploadIsTriedAgainAfterA500OrA503ThreeTimesInAll) {
    testing::HttpServer server;
    ASSERT_TRUE(server.started());
    testing::ScopedEnv id("AWS_ACCESS_KEY_ID", "AKWIRE");
    testing::ScopedEnv secret("AWS_SECRET_ACCESS_KEY", "wire-secret");
    testing::TempDir local;
    auto transport = MakeS3Transport(BucketOf(server, "us-east-1"), {local.path(), "", false});
    const std::string file = WriteFile(local / "f", "hello");

    testing::Reply flaky = testing::Reply::Status(200);
    flaky.failFirst = 1;
    flaky.failStatus = 500;
    server.Set("/bkt/a.png", flaky);
    UploadResult result = transport->Upload(file, "a.png", {});
    EXPECT_EQ(result.status, UploadStatus::Uploaded) << result.message;
    const auto tries = server.RequestsTo("/bkt/a.png");
    ASSERT_EQ(tries.size(), 2u);
    EXPECT_EQ(tries[1].body, "hello");  // the whole body again

    server.Set("/bkt/b.png", testing::Reply::Status(503));
    result = transport->Upload(file, "b.png", {});
    EXPECT_EQ(result.status, UploadStatus::Failed);
    EXPECT_NE(result.message.find("503"), std::string::npos) << result.message;
    EXPECT_EQ(server.RequestsTo("/bkt/b.png").size(), 3u);

    // A refusal is no reason to try again.
    server.Set("/bkt/c.png", testing::Reply::Status(403));
    EXPECT_EQ(transport->Upload(file, "c.png", {}).status, UploadStatus::Failed);
    EXPECT_EQ(server.RequestsTo("/bkt/c.png").size(), 1u);
}

// The uploaders of a publish log in at the same moment: the bucket's head is asked once for its
// keys; other keys ask again, and a refusal is never taken for another transport.
TEST(S3Wire, TheBucketIsAskedForOnceForTheUploadersThatLogInTogether) {
    testing::HttpServer server;
    ASSERT_TRUE(server.started());
    testing::TempDir local;
    server.Set("/bkt", testing::Reply::Ok(""));
    const auto connectAll = [&](const char* secretKey, int transports) {
        testing::ScopedEnv id("AWS_ACCESS_KEY_ID", "AKWIRE");
        testing::ScopedEnv secret("AWS_SECRET_ACCESS_KEY", secretKey);
        int connected = 0;
        for (int i = 0; i < transports; ++i) {
            std::string message;
            connected += MakeS3Transport(BucketOf(server, "us-east-1"), {local.path(), "", false})
                             ->Connect(message);
        }
        return connected;
    };
    EXPECT_EQ(connectAll("one-secret", 8), 8);
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(connectAll("another-secret", 2), 2);
    EXPECT_EQ(server.RequestCount(), 2u);
    server.Set("/bkt", testing::Reply::Status(403));
    EXPECT_EQ(connectAll("a-refused-secret", 3), 0);
    EXPECT_EQ(server.RequestCount(), 5u);
}

}  // namespace
}  // namespace zembrat::publish
