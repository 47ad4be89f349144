#include "web/fetch_group.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

#include "support/event_counter.h"
#include "support/http2_server.h"
#include "support/http_server.h"
#include "support/https_server.h"
#include "support/scoped_env.h"
#include "web/web_client.h"

namespace zembrat::web {
namespace {

using testing::EventCounter;
using testing::HttpServer;
using testing::Reply;
using testing::SecondsSince;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

WebClient Client() {
    WebClient client;
    client.CreateRequest();
    return client;
}

Reply Delayed(std::string body, milliseconds delay, std::string type = "image/png") {
    Reply r = Reply::Ok(std::move(body), std::move(type));
    r.delay = delay;
    return r;
}

// Every result of the transfers started, in the order they came.
std::vector<GroupFetchResult> WaitForAll(FetchGroup& group) {
    std::vector<GroupFetchResult> all;
    const auto until = Clock::now() + std::chrono::seconds(30);
    while (group.Running() > 0 && Clock::now() < until) {
        for (auto& r : group.Wait(until)) all.push_back(std::move(r));
    }
    return all;
}

int MostAtOnce(const HttpServer& server) {
    int most = 0;
    for (const auto& r : server.Requests()) most = std::max(most, r.inProgress);
    return most;
}

TEST(FetchGroup, SendsWhatFetchBytesSendsAndGivesWhatItGives) {
    HttpServer server;
    server.Set("/a.png", Reply::Ok("PNG", "image/png"));
    server.Set("/gone", Reply::Status(404, "no such image"));
    server.Set("/hop", Reply::Redirect("/a.png"));
    Reply huge = Reply::Ok("0123456789");
    huge.length = 256ull * 1024 * 1024 + 1;
    server.Set("/huge", huge);
    WebClient client = Client();
    FetchGroup group(client, 2);

    struct Case {
        std::string address;
        RequestArguments arguments;
    };
    const std::vector<Case> cases{
        {server.Url("/a.png"), {}},
        {"  " + server.Url("/gone") + "\xA1\xA1", {}},
        {server.Url("/a.png").substr(7), {}},  // no scheme
        {server.Url("/hop"),
         {.timeout = 5, .referer = "http://ref/", .cookies = "-1", .userAgent = "Agent/9"}},
        {server.Url("/a.png"), {.postBytes = std::string("\x89PNG\0", 5), .contentType = "x/y"}},
        {server.Url("/huge"), {}},
    };
    for (const Case& c : cases) {
        server.ClearRequests();
        const text::Bytes body = client.FetchBytes(c.address, c.arguments);
        const long status = client.Status();
        const std::string type = client.GetResponseHeader("Content-Type");
        ASSERT_TRUE(group.Start(7, c.address, c.arguments));
        const auto results = WaitForAll(group);
        ASSERT_EQ(results.size(), 1u) << c.address;
        EXPECT_EQ(results[0].tag, 7u);
        EXPECT_EQ(results[0].status, status) << c.address;
        EXPECT_EQ(results[0].body, body) << c.address;
        EXPECT_EQ(results[0].contentType, type) << c.address;

        // The group's requests (a redirect makes two) equal FetchBytes' on the wire.
        const auto requests = server.Requests();
        ASSERT_EQ(requests.size() % 2, 0u) << c.address;
        const std::size_t half = requests.size() / 2;
        ASSERT_GT(half, 0u);
        for (std::size_t i = 0; i < half; ++i) {
            EXPECT_EQ(requests[half + i].method, requests[i].method);
            EXPECT_EQ(requests[half + i].target, requests[i].target);
            EXPECT_EQ(requests[half + i].headers, requests[i].headers) << c.address;
            EXPECT_EQ(requests[half + i].body, requests[i].body);
        }
    }
}

TEST(FetchGroup, EachResultCarriesItsOwnTagAndARefusedOneComesAtOnce) {
    HttpServer server;
    server.Set("/late.gif", Delayed("late", milliseconds(300), "image/gif"));
    server.Set("/a.png", Reply::Ok("PNG", "image/png"));
    server.Set("/page", Reply::Ok("<html>", "text/html; charset=gbk"));
    server.Set("/gone", Reply::Status(404, "no such image"));
    WebClient client = Client();
    FetchGroup group(client, 4);
    EXPECT_TRUE(group.Wait(std::nullopt).empty());  // nothing running, no end: at once

    ASSERT_TRUE(group.Start(10, server.Url("/late.gif")));
    ASSERT_TRUE(group.Start(11, server.Url("/a.png")));
    ASSERT_TRUE(group.Start(12, server.Url("/page")));
    ASSERT_TRUE(group.Start(13, server.Url("/gone")));
    EXPECT_EQ(group.Running(), 4u);
    EXPECT_FALSE(group.CanStart(server.Url("/a.png")));
    EXPECT_FALSE(group.Start(14, server.Url("/a.png")));
    std::map<std::size_t, GroupFetchResult> byTag;
    while (group.Running() > 1) {
        for (auto& r : group.Wait(std::nullopt)) byTag[r.tag] = std::move(r);
    }
    ASSERT_EQ(byTag.size(), 3u);
    EXPECT_EQ(byTag[11].status, 200);
    EXPECT_EQ(byTag[11].body, "PNG");
    EXPECT_EQ(byTag[11].contentType, "image/png");
    EXPECT_EQ(byTag[12].body, "<html>");
    EXPECT_EQ(byTag[12].contentType, "text/html; charset=gbk");
    EXPECT_EQ(byTag[13].status, 404);
    EXPECT_EQ(byTag[13].body, "no such image");

    // Refused (a line break in the address, or in a header): taken, and given back by the next
    // wait without waiting for the transfer still running.
    ASSERT_TRUE(group.Start(20, server.Url("/a.png") + "\r\nX-Injected: 1"));
    ASSERT_TRUE(group.Start(21, server.Url("/a.png"), {.referer = "http://x/\n"}));
    auto refused = group.Wait(std::nullopt);
    ASSERT_GE(refused.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(refused[i].tag, 20 + i);
        EXPECT_EQ(refused[i].status, 0);
        EXPECT_EQ(refused[i].body, "");
        EXPECT_EQ(refused[i].contentType, "");
    }
    const auto rest = WaitForAll(group);
    const auto& last = rest.empty() ? refused.back() : rest.back();
    EXPECT_EQ(last.tag, 10u);
    EXPECT_EQ(last.body, "late");
    EXPECT_EQ(last.contentType, "image/gif");
    EXPECT_EQ(server.RequestCount(), 4u);  // the refused ones never went out
}

TEST(FetchGroup, PlacesAreCountedPerHostWhateverThePort) {
    using S = FetchGroup;
    EXPECT_EQ(S::HostKey("http://User:pw@Example.COM:8080/p?q"), "example.com");
    EXPECT_EQ(S::HostKey(" Example.com/x"), "example.com");
    EXPECT_EQ(S::HostKey("HTTP://[::1]:80/"), "[::1]");
    EXPECT_EQ(S::HostKey("https://a.example/x", true), "a.example");

    HttpServer one, two;  // one host, two ports
    for (HttpServer* s : {&one, &two}) s->Set("/s", Delayed("x", milliseconds(100)));
    WebClient client = Client();
    {
        FetchGroup group(client, 16, 3);
        ASSERT_TRUE(group.Start(1, one.Url("/s")));
        ASSERT_TRUE(group.Start(2, two.Url("/s")));
        ASSERT_TRUE(group.Start(3, one.Url("/s")));
        EXPECT_FALSE(group.CanStart(two.Url("/s")));
        EXPECT_FALSE(group.Start(4, two.Url("/s")));
        EXPECT_EQ(WaitForAll(group).size(), 3u);
    }

    // Sixteen at once allowed, eight to one host: the server never has more than eight.
    HttpServer server;
    server.Set("/s", Delayed("x", milliseconds(150)));
    FetchGroup group(client, 16);
    std::size_t next = 0, done = 0;
    const std::size_t total = 24;
    while (done < total) {
        while (next < total) {
            const std::string url = server.Url("/s?n=" + std::to_string(next));
            if (!group.CanStart(url)) {
                EXPECT_FALSE(group.Start(next, url));
                break;
            }
            ASSERT_TRUE(group.Start(next, url));
            ++next;
        }
        EXPECT_LE(group.Running(), 8u);
        for (const auto& r : group.Wait(Clock::now() + std::chrono::seconds(30))) {
            EXPECT_EQ(r.status, 200) << r.tag;
            ++done;
        }
    }
    EXPECT_EQ(server.RequestCount(), total);
    EXPECT_LE(MostAtOnce(server), 8);
    EXPECT_GT(MostAtOnce(server), 1);
}

// Over https a host that answers over HTTP/2 gets every place of the group as streams of one
// connection, once its first answer has come; one that answers HTTP/1.1 keeps eight connections.
TEST(FetchGroup, AnHttp2HostTakesEveryPlaceOnOneConnectionAnHttp11HostEight) {
    const testing::ScopedEnv ca("SSL_CERT_FILE", testing::HttpsServer::CaFile().c_str());
    WebClient client = Client();
    client.SetOpensHttps(true);  // the https option: an https address is fetched as it is
    for (const bool http2 : {true, false}) {
        testing::Http2Server server({.http2 = http2, .delay = milliseconds(60)});
        ASSERT_TRUE(server.started()) << server.error();
        const std::string png = "\x89PNG\r\n\x1a\n" + std::string(3000, 'p');
        server.Put("/a.png", png);
        FetchGroup group(client, 32);
        const std::size_t total = 96;
        std::size_t next = 0, done = 0, most = 0;
        while (done < total) {
            while (next < total && group.CanStart(server.Url("/a.png"))) {
                ASSERT_TRUE(group.Start(next, server.Url("/a.png?n=" + std::to_string(next))));
                ++next;
            }
            most = std::max(most, group.Running());
            for (const auto& r : group.Wait(Clock::now() + std::chrono::seconds(30))) {
                EXPECT_EQ(r.status, 200) << r.tag;
                EXPECT_EQ(r.body, png) << r.tag;
                ++done;
            }
        }
        std::set<long> connections;
        const auto requests = server.Requests(total);
        ASSERT_EQ(requests.size(), total);
        for (const auto& r : requests) {
            EXPECT_EQ(r.protocol, http2 ? "HTTP/2.0" : "HTTP/1.1");
            connections.insert(r.connection);
        }
        if (http2) {
            EXPECT_EQ(most, 32u);
            EXPECT_EQ(connections.size(), 1u);
        } else {
            EXPECT_EQ(most, 8u);
            EXPECT_LE(connections.size(), 8u);
        }
    }
}

TEST(FetchGroup, CookiesSetByOneAnswerGoWithTheGroupsLaterRequests) {
    HttpServer server;
    server.Set("/login", Reply::Ok("in").Cookie("sid=42; path=/"));
    server.Set("/later", Reply::Ok("l").Cookie("late=7; path=/"));
    server.Set("/page", Reply::Ok("p"));
    server.Set("/slow", Delayed("s", milliseconds(200)));
    WebClient client = Client();
    FetchGroup group(client, 2);
    // The login runs beside a slow one, so the next request goes out on the other component.
    ASSERT_TRUE(group.Start(0, server.Url("/slow")));
    ASSERT_TRUE(group.Start(1, server.Url("/login")));
    EXPECT_EQ(WaitForAll(group).size(), 2u);
    ASSERT_TRUE(group.Start(2, server.Url("/page")));
    WaitForAll(group);
    EXPECT_EQ(server.RequestsTo("/page").back().Header("Cookie"), "sid=42");

    // The caller's own cookies go alone; what their answer sets is kept all the same.
    ASSERT_TRUE(group.Start(3, server.Url("/later"), {.cookies = "mine=1"}));
    WaitForAll(group);
    EXPECT_EQ(server.RequestsTo("/later").back().HeaderCount("Cookie"), 1u);
    EXPECT_EQ(server.RequestsTo("/later").back().Header("Cookie"), "mine=1");
    ASSERT_TRUE(group.Start(0, server.Url("/slow")));
    ASSERT_TRUE(group.Start(4, server.Url("/page")));
    WaitForAll(group);
    const std::string sent = server.RequestsTo("/page").back().Header("Cookie");
    EXPECT_NE(sent.find("sid=42"), std::string::npos) << sent;
    EXPECT_NE(sent.find("late=7"), std::string::npos) << sent;

    // KeepCookies fills the client's saved cookies when the result comes.
    ASSERT_TRUE(group.Start(5, server.Url("/login"), {.keepCookies = true}));
    WaitForAll(group);
    EXPECT_EQ(client.SavedCookies(), "sid=42; path=/; ");
}

TEST(FetchGroup, SlowDownloadsOverlapOnAtMostNConnections) {
    HttpServer server;
    server.Set("/s", Delayed("img", milliseconds(300)));
    WebClient client = Client();
    EventCounter events;
    client.SetEventPoints(events);
    FetchGroup group(client, 8);
    for (int round = 0; round < 2; ++round) {
        const auto start = Clock::now();
        for (std::size_t i = 0; i < 8; ++i)
            ASSERT_TRUE(group.Start(i, server.Url("/s?n=" + std::to_string(i))));
        const auto results = WaitForAll(group);
        EXPECT_LT(SecondsSince(start), 1.2);  // one after another: 2.4 s
        ASSERT_EQ(results.size(), 8u);
        for (const auto& r : results) EXPECT_EQ(r.body, "img");
    }
    EXPECT_EQ(server.RequestCount(), 16u);
    EXPECT_LE(server.ConnectionCount(), 8);  // the second round reused the first's
    EXPECT_GE(events.painted, 10);           // about every 25 ms over 600 ms
    EXPECT_EQ(events.processed, 0);

    // With nothing running, a wait with an end is a pause that keeps the window painted.
    const int painted = events.painted;
    const auto start = Clock::now();
    EXPECT_TRUE(group.Wait(start + milliseconds(200)).empty());
    EXPECT_GE(SecondsSince(start), 0.19);
    EXPECT_GE(events.painted - painted, 5);
}

TEST(FetchGroup, AStopDuringAWaitAbandonsEveryTransfer) {
    HttpServer server;
    server.Set("/never", Reply::NeverAnswer());
    server.Set("/a", Reply::Ok("A"));
    EventCounter events;
    events.StopAtPaint(3);
    WebClient client = Client();
    client.SetEventPoints(events);
    FetchGroup group(client, 4);
    for (std::size_t i = 0; i < 3; ++i)
        ASSERT_TRUE(group.Start(i, server.Url("/never?n=" + std::to_string(i))));
    EXPECT_TRUE(group.Wait(std::nullopt).empty());
    EXPECT_LT(SecondsSince(events.stoppedAt), 0.1);
    EXPECT_EQ(events.painted, 3);
    EXPECT_EQ(group.Running(), 0u);

    // While the stop stands, a wait gives nothing back, not even a refused request's result.
    ASSERT_TRUE(group.Start(5, server.Url("/a\n")));
    ASSERT_TRUE(group.Start(6, server.Url("/a")));
    EXPECT_TRUE(group.Wait(std::nullopt).empty());
    EXPECT_EQ(group.Running(), 0u);
    // Without it, the group works on.
    events.SetStopToken({});
    ASSERT_TRUE(group.Start(7, server.Url("/a")));
    const auto results = WaitForAll(group);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].tag, 7u);
    EXPECT_EQ(results[0].body, "A");
}

TEST(FetchGroup, ATimeoutEndsOnlyItsOwnTransfer) {
    HttpServer server;
    server.Set("/never", Reply::NeverAnswer());
    server.Set("/late", Delayed("late", milliseconds(1500)));
    WebClient client = Client();
    FetchGroup group(client, 2);
    const auto start = Clock::now();
    ASSERT_TRUE(group.Start(1, server.Url("/never"), {.timeout = 1}));
    ASSERT_TRUE(group.Start(2, server.Url("/late")));
    const auto first = group.Wait(std::nullopt);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].tag, 1u);
    EXPECT_EQ(first[0].status, 0);
    EXPECT_GE(SecondsSince(start), 0.9);
    EXPECT_LT(SecondsSince(start), 1.4);
    const auto second = WaitForAll(group);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].status, 200);
    EXPECT_EQ(second[0].body, "late");
}

}  // namespace
}  // namespace zembrat::web
