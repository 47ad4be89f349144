#include <gtest/gtest.h>

#include "publish/target_url.h"

namespace zembrat::publish {
namespace {

Target Parse(const std::string& url) {
    std::string error;
    const auto target = ParseTargetUrl(url, error);
    EXPECT_TRUE(target) << url << ": " << error;
    EXPECT_TRUE(!target || error.empty()) << error;
    return target.value_or(Target{});
}

TEST(TargetUrl, EachSchemeGivesItsProtocolHostPortUserAndSlashEndedPath) {
    const Target sftp = Parse(
        "sftp://deploy@example.org:2222/srv/www?fingerprint=SHA256:"
        "uH4mG0xSbWW3zwTQf9wD2WJCbl7xnsyYw7m4ZzbOVuc");
    EXPECT_EQ(sftp.protocol, Protocol::Sftp);
    EXPECT_EQ(sftp.user, "deploy");
    EXPECT_EQ(sftp.host, "example.org");
    EXPECT_EQ(sftp.port, 2222);
    EXPECT_EQ(sftp.path, "/srv/www/");
    EXPECT_EQ(sftp.hostKeySha256, "SHA256:uH4mG0xSbWW3zwTQf9wD2WJCbl7xnsyYw7m4ZzbOVuc");
    EXPECT_EQ(sftp.name,
              "sftp://deploy@example.org:2222/srv/www?fingerprint=SHA256:"
              "uH4mG0xSbWW3zwTQf9wD2WJCbl7xnsyYw7m4ZzbOVuc");

    const Target ftp = Parse("FTP://me@[::1]/pub/");
    EXPECT_EQ(ftp.protocol, Protocol::Ftp);
    EXPECT_EQ(ftp.host, "::1");
    EXPECT_EQ(ftp.port, 0);
    EXPECT_EQ(ftp.path, "/pub/");
    EXPECT_EQ(Parse("ftpes://h/a/").protocol, Protocol::FtpExplicit);
    const Target ftps = Parse("ftps://h:990/a/?ca=/etc/my%20ca.pem&public=https://img.example/");
    EXPECT_EQ(ftps.protocol, Protocol::FtpImplicit);
    EXPECT_EQ(ftps.caFile, "/etc/my ca.pem");
    EXPECT_EQ(ftps.publicAddress, "https://img.example/");
    EXPECT_EQ(Parse("dav://h/").protocol, Protocol::Dav);
    const Target davs = Parse("davs://h");
    EXPECT_EQ(davs.protocol, Protocol::Davs);
    EXPECT_EQ(davs.path, "");
    // Percent escapes are UTF-8 bytes: a Chinese folder name.
    EXPECT_EQ(Parse("sftp://h/%E5%9B%BE%E7%89%87/2024").path, "/\xE5\x9B\xBE\xE7\x89\x87/2024/");
    EXPECT_EQ(Parse("sftp://h/\xE5\x9B\xBE/").path, "/\xE5\x9B\xBE/");
}

TEST(TargetUrl, S3ProvidersFillEndpointAddressingAndRegion) {
    struct Case {
        std::string url, endpoint, region;
        bool pathStyle;
    };
    const Case cases[] = {
        {"s3://b/p/?endpoint=http://127.0.0.1:9000", "http://127.0.0.1:9000", "us-east-1", true},
        {"s3://b/?endpoint=https://s3.example/&region=eu&style=virtual", "https://s3.example", "eu",
         false},
        {"s3://b/?provider=aws&region=eu-west-1", "https://s3.eu-west-1.amazonaws.com", "eu-west-1",
         false},
        {"s3://b/?provider=r2&account=abc123", "https://abc123.r2.cloudflarestorage.com", "auto",
         true},
        {"s3://b/?provider=minio&endpoint=http://127.0.0.1:9000&region=x", "http://127.0.0.1:9000",
         "x", true},
        {"s3://b/?provider=oss&region=cn-hangzhou", "https://oss-cn-hangzhou.aliyuncs.com",
         "cn-hangzhou", false},
        {"s3://b-125/?provider=cos&region=ap-guangzhou", "https://cos.ap-guangzhou.myqcloud.com",
         "ap-guangzhou", false},
        {"s3://b/?provider=qiniu&region=cn-east-1", "https://s3.cn-east-1.qiniucs.com", "cn-east-1",
         false},
        {"s3://b/?provider=aws&region=us-east-2&style=path", "https://s3.us-east-2.amazonaws.com",
         "us-east-2", true},
    };
    for (const Case& c : cases) {
        const Target t = Parse(c.url);
        EXPECT_EQ(t.protocol, Protocol::S3) << c.url;
        EXPECT_EQ(t.endpoint, c.endpoint) << c.url;
        EXPECT_EQ(t.region, c.region) << c.url;
        EXPECT_EQ(t.pathStyle, c.pathStyle) << c.url;
    }
    const Target s3 = Parse("s3://my.bucket/img/%E5%9B%BE?provider=aws&region=x&profile=site");
    EXPECT_EQ(s3.bucket, "my.bucket");
    EXPECT_EQ(s3.host, "");
    EXPECT_EQ(s3.path, "img/\xE5\x9B\xBE/");
    EXPECT_EQ(s3.profile, "site");
    EXPECT_EQ(s3.provider, "aws");
    EXPECT_EQ(Parse("s3://b?endpoint=http://e").path, "");
}

TEST(TargetUrl, MistakesAreRefusedNamingWhatIsWrong) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "no scheme"},
        {"example.org/www/", "no scheme"},
        {"http://h/", "unknown scheme"},
        {"sftp:///www/", "no host"},
        {"sftp://u:pw@h/", "no password"},
        {"sftp://@h/", "empty user"},
        {"sftp://h:0/", "port"},
        {"sftp://h:65536/", "port"},
        {"sftp://h:22x/", "port"},
        {"sftp://h/a%2/", "percent"},
        {"sftp://h/%FF/", "UTF-8"},
        {"sftp://h/%0A/", "control"},
        {"sftp://h/a/../b/", "\"..\""},
        {"sftp://h/a//b/", "\"//\""},
        {"sftp://h/#x", "fragment"},
        {"sftp://h/?fingerprint=MD5:aa", "fingerprint"},
        {"sftp://h/?fingerprint=SHA256:short", "fingerprint"},
        {"ftp://h/?fingerprint=SHA256:uH4mG0xSbWW3zwTQf9wD2WJCbl7xnsyYw7m4ZzbOVuc",
         "only for sftp"},
        {"sftp://h/?ca=/x.pem", "TLS"},
        {"ftp://h/?region=x", "only for s3"},
        {"ftp://h/?colour=red", "unknown option"},
        {"ftp://h/?public=x", "public="},
        {"ftp://h/?public", "no value"},
        {"ftp://h/?public=", "empty"},
        {"ftps://h/?ca=a&ca=b", "twice"},
        {"s3://b/", "endpoint= or provider="},
        {"s3://u@b/?endpoint=http://e", "no user"},
        {"s3://b:9/?endpoint=http://e", "no port"},
        {"s3://b/?endpoint=ftp://e", "endpoint"},
        {"s3://b/?endpoint=http://e/path", "endpoint"},
        {"s3://b/?provider=aws", "region="},
        {"s3://b/?provider=r2", "account="},
        {"s3://b/?provider=minio", "endpoint="},
        {"s3://b/?provider=gcs&region=x", "unknown provider"},
        {"s3://b/?provider=aws&region=x&account=y", "account="},
        {"s3://b/?endpoint=http://e&style=sideways", "style="},
        {"s3://b/?endpoint=http://e&region=a%20b", "region"},
    };
    for (const auto& [url, reason] : cases) {
        std::string error;
        EXPECT_FALSE(ParseTargetUrl(url, error)) << url;
        EXPECT_NE(error.find(reason), std::string::npos) << url << ": " << error;
        EXPECT_NE(error.find("target \"" + url + "\""), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace zembrat::publish
