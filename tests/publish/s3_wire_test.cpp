#include <gtest/gtest.h>

#include "publish/protocol_transports.h"
#include "support/http_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "upload_helpers.h"

namespace zembrat::publish {
namespace {

TEST(S3Wire, APutCarriesTheBodysHashOneDateAndTheTokenAndAFullStoreIsTold) {
    testing::HttpServer server;
    ASSERT_TRUE(server.started());
    testing::ScopedEnv id("AWS_ACCESS_KEY_ID", "AKWIRE");
    testing::ScopedEnv secret("AWS_SECRET_ACCESS_KEY", "wire-secret");
    testing::ScopedEnv token("AWS_SESSION_TOKEN", "wire-token");
    testing::TempDir local;
    Target target;
    target.name = "wire";
    target.protocol = Protocol::S3;
    target.bucket = "bkt";
    target.endpoint = server.BaseUrl();
    target.region = "eu-central-1";
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

}  // namespace
}  // namespace zembrat::publish
