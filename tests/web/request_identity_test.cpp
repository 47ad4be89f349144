// Who a request says it is under the hotlink option: the ladder, the rules, the headers sent.
#include "web/request_identity.h"

#include <gtest/gtest.h>

#include "support/http_server.h"
#include "web/web_client.h"

namespace zembrat::web {
namespace {

TEST(RequestIdentity, LadderRulesAndHosts) {
    const std::string page = "https://news.example.com/a/1.html";
    auto ladder = IdentityLadder(" HTTPS://user@Img.Example.com:8443/x/y.png?w=1 ", page, {});
    ASSERT_EQ(ladder.size(), 3u);
    EXPECT_EQ(ladder[0].kind, IdentityKind::NoReferer);
    EXPECT_EQ(ladder[0].referer, "");
    EXPECT_EQ(ladder[0].userAgent, kBrowserUserAgent);
    EXPECT_EQ(ladder[1].kind, IdentityKind::Origin);
    EXPECT_EQ(ladder[1].referer, "https://img.example.com:8443/");
    EXPECT_EQ(ladder[2].referer, page);
    EXPECT_EQ(IdentityLadder("img.example.com/a.png", "", {}).size(), 2u);  // no page

    const std::vector<SiteRule> rules = {*ParseSiteRule("*.SINAIMG.cn|http://weibo.com/"),
                                         *ParseSiteRule("img.example.com||Agent/2|a=b")};
    EXPECT_EQ(rules[0], (SiteRule{"*.sinaimg.cn", "http://weibo.com/", "", ""}));
    EXPECT_EQ(SiteRuleText(rules[1]), "img.example.com||Agent/2|a=b");
    EXPECT_FALSE(ParseSiteRule("|x"));
    EXPECT_FALSE(ParseSiteRule("a|b|c|d|e"));
    ladder = IdentityLadder("http://wx1.sinaimg.cn/a.jpg", page, rules);
    ASSERT_EQ(ladder.size(), 1u);
    EXPECT_EQ(ladder[0].kind, IdentityKind::Rule);
    EXPECT_EQ(ladder[0].referer, "http://weibo.com/");
    EXPECT_EQ(ladder[0].userAgent, kBrowserUserAgent);
    ladder = IdentityLadder("http://img.example.com/a.jpg", page, rules);
    EXPECT_EQ(ladder[0].userAgent, "Agent/2");
    EXPECT_EQ(ladder[0].cookie, "a=b");
    EXPECT_FALSE(HostMatches("*.sinaimg.cn", "sinaimg.cn.evil.com"));
    EXPECT_EQ(HostOf("http://[::1]:80/x"), "[::1]");
}

TEST(RequestIdentity, EachIdentityGoesOutOnTheWire) {
    testing::HttpServer server;
    ASSERT_TRUE(server.started());
    server.Set("/a.png", testing::Reply::Ok("img", "image/png"));
    WebClient client;
    client.CreateRequest();
    const std::string url = server.Url("/a.png");
    for (const RequestIdentity& identity :
         IdentityLadder(url, "http://news.example.com/p", {{"nowhere", "", "", ""}})) {
        RequestArguments arguments;
        ApplyIdentity(identity, arguments);
        EXPECT_EQ(client.FetchBytes(url, arguments), "img");
    }
    RequestArguments ruled;
    ApplyIdentity(IdentityLadder(url, "", {*ParseSiteRule("127.0.0.*|http://r/|A/1|k=v")})[0],
                  ruled);
    client.FetchBytes(url, ruled);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_FALSE(requests[0].HasHeader("Referer"));
    EXPECT_EQ(requests[0].Header("User-Agent"), kBrowserUserAgent);
    EXPECT_FALSE(requests[0].HasHeader("Cookie"));
    EXPECT_EQ(requests[1].Header("Referer"), server.Url("/"));
    EXPECT_EQ(requests[2].Header("Referer"), "http://news.example.com/p");
    EXPECT_EQ(requests[3].Header("Referer"), "http://r/");
    EXPECT_EQ(requests[3].Header("User-Agent"), "A/1");
    EXPECT_EQ(requests[3].Header("Cookie"), "k=v");
}

}  // namespace
}  // namespace zembrat::web
