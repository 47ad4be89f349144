// Targets kept in the settings: found by name, by place or given as a URL.
#include "publish/target_list.h"

#include <gtest/gtest.h>

namespace zembrat::publish {
namespace {

TEST(TargetList, FindsATargetByNameByPlaceOrAsAUrl) {
    const std::vector<std::string> urls = {
        "sftp://me@127.0.0.1:2222/var/www/?name=%E6%88%91%E7%9A%84%E7%AB%99&public=https://"
        "img.example.com",
        "s3://pictures/site/?endpoint=http://127.0.0.1:9000&region=us-east-1&style=path"};
    EXPECT_EQ(TargetName(urls[0]), "我的站");
    EXPECT_EQ(TargetName(urls[1]), "pictures");

    std::string error;
    const std::optional<Target> named = ResolveTarget(urls, "我的站", error);
    ASSERT_TRUE(named) << error;
    EXPECT_EQ(named->name, "我的站");
    EXPECT_EQ(named->protocol, Protocol::Sftp);
    EXPECT_EQ(named->port, 2222);
    EXPECT_EQ(named->path, "/var/www/");
    EXPECT_EQ(named->publicAddress, "https://img.example.com");

    ASSERT_TRUE(ResolveTarget(urls, "", error));
    EXPECT_EQ(ResolveTarget(urls, "", error)->name, "我的站");  // the first kept one
    const std::optional<Target> second = ResolveTarget(urls, "2", error);
    ASSERT_TRUE(second) << error;
    EXPECT_EQ(second->bucket, "pictures");

    const std::optional<Target> given = ResolveTarget({}, "ftp://127.0.0.1/site/?name=ftp1", error);
    ASSERT_TRUE(given) << error;
    EXPECT_EQ(given->name, "ftp1");

    EXPECT_FALSE(ResolveTarget(urls, "3", error));
    EXPECT_FALSE(ResolveTarget(urls, "nowhere", error));
    EXPECT_NE(error.find("nowhere"), std::string::npos);
    EXPECT_FALSE(ResolveTarget({}, "", error));
    EXPECT_FALSE(ResolveTarget({}, "gopher://x/", error));
}

}  // namespace
}  // namespace zembrat::publish
