#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>

#include "platform/http_request.h"
#include "support/http2_server.h"
#include "support/http_server.h"
#include "support/https_server.h"
#include "support/scoped_env.h"

namespace zembrat::platform {
namespace {

using std::chrono::milliseconds;
using testing::Http2Server;
using testing::HttpServer;
using testing::HttpsServer;
using testing::Reply;

bool Get(HttpRequest& r, const std::string& url) {
    return r.Open("GET", url, false) && r.Send();
}

void RunAll(HttpTransferGroup& group) {
    for (int round = 0; group.Running() > 0 && round < 1000; ++round) {
        group.Perform();
        group.Poll(milliseconds(25));
    }
}

TEST(HttpTransferGroup, MembersRunTogetherAndShareConnectionsAndCookies) {
    HttpServer server;
    Reply late = Reply::Ok("late");
    late.delay = milliseconds(200);
    server.Set("/late", late);
    server.Set("/set", Reply::Ok("s").Cookie("sid=42; path=/"));
    server.Set("/a", Reply::Ok("A"));
    server.Set("/never", Reply::NeverAnswer());
    HttpTransferGroup group;
    HttpRequest a(group), b(group);

    // An asynchronous send only joins the group; b's synchronous one drives a's transfer too.
    ASSERT_TRUE(a.Open("GET", server.Url("/late"), true));
    ASSERT_TRUE(a.Send());
    EXPECT_EQ(group.Running(), 1u);
    ASSERT_TRUE(Get(b, server.Url("/set")));
    RunAll(group);
    EXPECT_EQ(group.TakeEnded(), (std::vector<HttpRequest*>{&b, &a}));
    EXPECT_EQ(a.ResponseBody(), "late");
    EXPECT_TRUE(group.TakeEnded().empty());

    // The cookie b's answer set goes with a's request, over a connection already open.
    ASSERT_TRUE(Get(a, server.Url("/a")));
    EXPECT_EQ(server.Requests().back().Header("Cookie"), "sid=42");
    ASSERT_TRUE(Get(b, server.Url("/a")));
    EXPECT_EQ(server.ConnectionCount(), 2);
    EXPECT_EQ(group.TakeEnded(), (std::vector<HttpRequest*>{&a, &b}));

    // A member takes over a lone request's settings; its wait limit ends it unanswered.
    HttpRequest lone;
    ASSERT_TRUE(lone.SetTimeouts(1, 2, 3, 4));
    a.AdoptSettings(lone);
    EXPECT_EQ(a.CurrentTimeouts(), lone.CurrentTimeouts());
    ASSERT_TRUE(a.SetTimeouts(0, 0, 0, 0));
    ASSERT_TRUE(a.Open("GET", server.Url("/never"), true));
    ASSERT_TRUE(a.Send());
    a.AbandonAfter(0);
    group.Perform();
    EXPECT_FALSE(a.Pending());
    EXPECT_EQ(a.Status(), 0);
    EXPECT_EQ(group.TakeEnded(), (std::vector<HttpRequest*>{&a}));
}

// Who speaks HTTP/2 with an nginx that offers it: a group made for it, over https only; a lone
// request and a plain group keep HTTP/1.1. The group's https transfers then share one connection.
TEST(HttpTransferGroup, OnlyAnHttp2GroupMultiplexesAndOnlyOverHttps) {
    const testing::ScopedEnv ca("SSL_CERT_FILE", HttpsServer::CaFile().c_str());
    Http2Server server({.http2 = true, .delay = milliseconds(100)});
    ASSERT_TRUE(server.started()) << server.error();
    const std::string png = "\x89PNG\r\n\x1a\n over two";
    server.Put("/a.png", png);

    struct Case {
        const char* what;
        bool group, http2;
        const char* protocol;
    };
    for (const Case& c : {Case{"lone request", false, false, "HTTP/1.1"},
                          Case{"plain group", true, false, "HTTP/1.1"},
                          Case{"HTTP/2 group", true, true, "HTTP/2.0"}}) {
        const std::size_t before = server.Requests().size();
        HttpTransferGroup group(0, 0, HttpTransferGroup::kDefaultBodyBudget, c.http2);
        std::vector<std::unique_ptr<HttpRequest>> members;
        for (int i = 0; i < (c.group ? 6 : 1); ++i) {
            members.push_back(c.group ? std::make_unique<HttpRequest>(group)
                                      : std::make_unique<HttpRequest>());
            HttpRequest& r = *members.back();
            ASSERT_TRUE(r.Open("GET", server.Url("/a.png?n=" + std::to_string(i)), c.group));
            ASSERT_TRUE(r.Send());
        }
        RunAll(group);
        for (const auto& r : members) {
            EXPECT_EQ(r->Status(), 200) << c.what;
            EXPECT_EQ(r->ResponseBody(), png) << c.what;
            EXPECT_EQ(r->AnsweredOverHttp2(), c.http2) << c.what;
            // HTTP/2's lower-case names come as HTTP/1.1 writes them.
            EXPECT_NE(r->GetAllResponseHeaders().find("Content-Type: image/png\r\n"),
                      std::string::npos)
                << c.what << ": " << r->GetAllResponseHeaders();
            EXPECT_EQ(r->GetResponseHeader("content-type"), "image/png");
        }
        const auto requests = server.Requests(before + members.size());
        ASSERT_EQ(requests.size(), before + members.size()) << c.what;
        std::set<long> connections;
        for (std::size_t i = before; i < requests.size(); ++i) {
            EXPECT_EQ(requests[i].protocol, c.protocol) << c.what;
            connections.insert(requests[i].connection);
        }
        // Six at once: one connection over HTTP/2, one each over HTTP/1.1.
        EXPECT_EQ(connections.size(), c.http2 ? 1u : members.size()) << c.what;
    }

    // Over plain http the HTTP/2 group sends what a lone request sends, header for header.
    HttpServer plain;
    plain.Set("/a.png", Reply::Ok(png, "image/png"));
    HttpTransferGroup group(0, 0, HttpTransferGroup::kDefaultBodyBudget, true);
    HttpRequest member(group), lone;
    for (HttpRequest* r : {&lone, &member}) {
        ASSERT_TRUE(r->Open("GET", plain.Url("/a.png"), false));
        ASSERT_TRUE(r->SetRequestHeader("Referer", "http://ref/"));
        ASSERT_TRUE(r->Send());
        EXPECT_FALSE(r->AnsweredOverHttp2());
    }
    const auto requests = plain.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].headers, requests[0].headers);
    EXPECT_EQ(requests[1].target, requests[0].target);
}

}  // namespace
}  // namespace zembrat::platform
