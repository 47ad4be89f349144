#include <gtest/gtest.h>

#include <sys/stat.h>
#include <map>
#include <optional>

#include "publish/protocol_transports.h"
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
    // Readable by others, as a file is written by default: refused, the fix named.
    const std::string file = home.path() + "/.aws/credentials";
    EXPECT_FALSE(FindAwsKeys(home.path(), "", why).has_value());
    EXPECT_NE(why.find(file + " is readable by others (0644)"), std::string::npos) << why;
    EXPECT_NE(why.find("chmod 600 " + file), std::string::npos) << why;
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
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

// A listing page: each key right below the prefix with its size, its entities read; the next
// page's marker from NextMarker or the last key; anything else is no listing.
TEST(PublishS3Listing, APageGivesTheNamesBelowThePrefixAndWhereTheNextBegins) {
    const std::string head = "<?xml version=\"1.0\"?><ListBucketResult><Prefix>p/</Prefix>";
    const auto object = [](const std::string& key, const std::string& size) {
        return "<Contents><Key>" + key + "</Key><ETag>&quot;x&quot;</ETag><Size>" + size +
               "</Size></Contents>";
    };
    struct Case {
        std::string body;
        bool read;
        std::map<std::string, std::optional<std::uint64_t>> names;
        std::string next;
    };
    const Case cases[] = {
        {head + "<IsTruncated>false</IsTruncated>" + object("p/a.png", "20480") +
             object("p/b&amp;c &lt;d&gt;.gif", "0") + object("p/sub/x.png", "1") +
             "<CommonPrefixes><Prefix>p/sub/</Prefix></CommonPrefixes></ListBucketResult>",
         true,
         {{"a.png", 20480}, {"b&c <d>.gif", 0}},
         ""},
        {head + "<IsTruncated>true</IsTruncated>" + object("p/a.png", "1") +
             "<NextMarker>p/a&amp;.png</NextMarker></ListBucketResult>",
         true,
         {{"a.png", 1}},
         "p/a&.png"},
        {head + "<IsTruncated>true</IsTruncated>" + object("p/a.png", "1") +
             object("p/猫.png", "2") + "</ListBucketResult>",
         true,
         {{"a.png", 1}, {"猫.png", 2}},
         "p/猫.png"},
        {head + "<IsTruncated>false</IsTruncated></ListBucketResult>", true, {}, ""},
        {head + object("q/a.png", "1") + "</ListBucketResult>", false, {}, ""},
        {head + object("p/a.png", "-1") + "</ListBucketResult>", false, {}, ""},
        {head + object("p/a&nbsp;.png", "1") + "</ListBucketResult>", false, {}, ""},
        {"<Error><Code>InternalError</Code></Error>", false, {}, ""},
    };
    for (const Case& c : cases) {
        std::map<std::string, RemoteFile> files;
        std::string next = "stale";
        ASSERT_EQ(ReadS3ListingPage(c.body, "p/", files, next), c.read) << c.body;
        if (!c.read) continue;
        std::map<std::string, std::optional<std::uint64_t>> names;
        for (const auto& [name, file] : files) {
            EXPECT_TRUE(file.exists);
            names[name] = file.size;
        }
        EXPECT_EQ(names, c.names) << c.body;
        EXPECT_EQ(next, c.next) << c.body;
    }
}

// An SFTP listing in OpenSSH's long form: files with their sizes, folders and links by name,
// the dots left out; a line of another form makes no listing.
TEST(PublishSftpListing, TheLongFormGivesEachNameAndAFilesSize) {
    const std::string listing =
        "drwxr-xr-x    3 root     root         4096 Dec 10 14:00 .\n"
        "drwxr-xr-x    5 root     root         4096 Dec 10 14:00 ..\n"
        "-rw-r--r--    1 root     root        20480 Dec 10 14:00 1A2B3C4D.jpg\n"
        "-rw-r--r--    1 1000     1000            0 Jan  9  2024 猫  咪.png\r\n"
        "drwxr-xr-x    2 root     root         4096 Dec 10 14:00 sub\n"
        "lrwxrwxrwx    1 root     root            9 Dec 10 14:00 link.png -> /etc/hosts\n";
    const auto files = ParseLongListing(listing);
    ASSERT_TRUE(files);
    std::map<std::string, std::optional<std::uint64_t>> names;
    for (const auto& [name, file] : *files) names[name] = file.size;
    EXPECT_EQ(names,
              (std::map<std::string, std::optional<std::uint64_t>>{{"1A2B3C4D.jpg", 20480},
                                                                   {"猫  咪.png", 0},
                                                                   {"sub", std::nullopt},
                                                                   {"link.png", std::nullopt}}));
    EXPECT_TRUE(ParseLongListing("")->empty());
    for (const char* odd : {"1A2B3C4D.jpg\n", "-rw-r--r-- 1 root root big Dec 10 14:00 a\n",
                            "-rw-r--r-- 1 root root 5 2024-01-09 a\n"})
        EXPECT_FALSE(ParseLongListing(odd)) << odd;
}

}  // namespace
}  // namespace zembrat::publish
