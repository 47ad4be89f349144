#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "platform/http_request.h"
#include "support/event_counter.h"
#include "support/http_server.h"
#include "support/scoped_env.h"
#include "text/codec.h"
#include "web/web_client.h"

namespace zembrat::web {
namespace {

using namespace text::literals;
using platform::HttpRequest;
using testing::EventCounter;
using testing::HttpProxyServer;
using testing::HttpServer;
using testing::Reply;
using testing::ScopedEnv;
using testing::SecondsSince;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Names = std::vector<std::string>;
using Timeouts = HttpRequest::Timeouts;

Timeouts TimeoutsOf(const WebClient& client) {
    return client.RequestObject().As<HttpRequest>()->CurrentTimeouts();
}

WebClient Client() {
    WebClient client;
    client.CreateRequest();
    return client;
}

TEST(FetchBytes, TheUrlAloneSendsAGetWithThreeHeaders) {
    HttpServer server;
    server.Set("/img.png", Reply::Ok("PNG", "image/png"));
    WebClient client = Client();
    EventCounter events;
    client.SetEventPoints(events);
    EXPECT_EQ(client.FetchBytes(server.Url("/img.png")), "PNG");
    ASSERT_EQ(server.RequestCount(), 1u);
    const auto req = server.Requests()[0];
    EXPECT_EQ(req.method, "GET");
    EXPECT_EQ(req.target, "/img.png");
    EXPECT_EQ(req.body, "");
    // Host is curl's own; nothing else is added.
    EXPECT_EQ(req.HeaderNames(), (Names{"Host", "Referer", "Content-Type", "User-Agent"}));
    EXPECT_EQ(req.Header("Referer"), server.Url("/img.png"));
    EXPECT_EQ(req.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(req.Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)");
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{10000, 10000, 120000, 60000}));
    EXPECT_EQ(events.processed, 0);

    // An error status still gives its body; nothing at all gives empty bytes.
    server.Set("/missing", Reply::Status(404, "no such image"));
    EXPECT_EQ(client.FetchBytes(server.Url("/missing")), "no such image");
    EXPECT_EQ(client.Status(), 404);
}

TEST(FetchBytes, SpacesAroundTheUrlAreDropped) {
    HttpServer server;
    server.Set("/a b", Reply::Ok("A"));
    WebClient client = Client();
    const std::string url = server.Url("/a b");
    EXPECT_EQ(client.FetchBytes("  " + url + " "), "A");
    EXPECT_EQ(client.FetchBytes("\xA1\xA1" + url + "\xA1\xA1 \xA1\xA1"), "A");
    ASSERT_EQ(server.RequestCount(), 2u);
    for (const auto& req : server.Requests()) {
        EXPECT_EQ(req.Header("Referer"), url);
        EXPECT_EQ(req.target, "/a%20b");
    }
    // Without a scheme: fetched through the fix-up, the Referer stays as given.
    const std::string bare = url.substr(7);
    EXPECT_EQ(client.FetchBytes(" " + bare), "A");
    EXPECT_EQ(server.Requests().back().Header("Referer"), bare);
}

TEST(FetchBytes, PostsBytesOverTextAndHonoursTheHeaderArguments) {
    HttpServer server;
    server.Set("/post", Reply::Ok("done"));
    WebClient client = Client();
    const std::string bytes("\x89PNG\0\x01", 6);

    EXPECT_EQ(client.FetchBytes(server.Url("/post"), {.postBytes = bytes}), "done");
    auto req = server.Requests().back();
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.body, bytes);
    EXPECT_EQ(req.Header("Content-Type"), "application/x-www-form-urlencoded");

    client.FetchBytes(server.Url("/post"), {.postText = "text=1", .postBytes = bytes});
    EXPECT_EQ(server.Requests().back().body, bytes);

    client.FetchBytes(server.Url("/post"), {.postText = "名=值"_gbk,
                                            .referer = "http://ref/",
                                            .contentType = "text/plain",
                                            .userAgent = "Agent/9"});
    req = server.Requests().back();
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.body, text::Utf8FromGbk("名=值"_gbk));
    EXPECT_EQ(req.HeaderNames(),
              (Names{"Host", "Referer", "Content-Type", "User-Agent", "Content-Length"}));
    EXPECT_EQ(req.Header("Referer"), "http://ref/");
    EXPECT_EQ(req.Header("Content-Type"), "text/plain");
    EXPECT_EQ(req.Header("User-Agent"), "Agent/9");
}

TEST(FetchBytes, CookiesAreSavedSentAndOverridden) {
    HttpServer server;
    server.Set("/login", Reply::Ok("in").Cookie("a=1; path=/").Cookie("b=2"));
    server.Set("/page", Reply::Ok("page"));
    WebClient client = Client();

    client.FetchBytes(server.Url("/login"));
    EXPECT_EQ(client.SavedCookies(), "");  // not kept unless asked
    EXPECT_EQ(client.SetCookieLines(), "Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n");
    EXPECT_EQ(client.CookieHeader(), "a=1; path=/; b=2; ");
    EXPECT_EQ(client.CookieValue("a"), "1");
    EXPECT_EQ(client.CookieValue("b"), "");  // no ";" after its value
    EXPECT_EQ(client.CookieValue("c"), "");

    client.FetchBytes(server.Url("/login"), {.keepCookies = true});
    EXPECT_EQ(client.SavedCookies(), "a=1; path=/; b=2; ");

    // Saved cookies go with a request that gives none, as its only Cookie header.
    client.FetchBytes(server.Url("/page"));
    auto req = server.Requests().back();
    EXPECT_EQ(req.HeaderCount("Cookie"), 1u);
    EXPECT_EQ(req.Header("Cookie"), "a=1; path=/; b=2;");  // the server trims the last space
    EXPECT_EQ(req.HeaderNames(),
              (Names{"Host", "Referer", "Content-Type", "User-Agent", "Cookie"}));

    client.FetchBytes(server.Url("/page"), {.cookies = "-1"});
    req = server.Requests().back();
    EXPECT_EQ(req.HeaderCount("Cookie"), 1u);
    EXPECT_EQ(req.Header("Cookie"), "");

    client.FetchBytes(server.Url("/page"), {.cookies = "x=9"});
    EXPECT_EQ(server.Requests().back().Header("Cookie"), "x=9");
    EXPECT_EQ(client.SavedCookies(), "a=1; path=/; b=2; ");

    // Kept again from an answer without cookies: nothing is left to send but the component's.
    client.FetchBytes(server.Url("/page"), {.keepCookies = true});
    EXPECT_EQ(client.SavedCookies(), "");
    client.ResetClient();
    client.FetchBytes(server.Url("/page"));
    EXPECT_FALSE(server.Requests().back().HasHeader("Cookie"));
}

TEST(FetchBytes, TimeoutArgumentSetsTheComponentsTimeouts) {
    HttpServer server;
    Reply late = Reply::Ok("late");
    late.delay = milliseconds(1200);
    server.Set("/late", late);
    server.Set("/a", Reply::Ok("A"));
    WebClient client = Client();

    client.FetchBytes(server.Url("/a"), {.timeout = 30});
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{10000, 10000, 30000, 30000}));
    client.FetchBytes(server.Url("/a"), {.timeout = -5});
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{10000, 10000, 120000, 60000}));

    // -1 leaves them alone, and the answer is still waited for.
    client.SetTimeouts(4000);
    EXPECT_EQ(client.FetchBytes(server.Url("/late"), {.timeout = -1}), "late");
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{4000, 4000, 4000, 4000}));

    // A timeout shorter than the answer takes: empty, asynchronous or blocking.
    auto start = Clock::now();
    EXPECT_EQ(client.FetchBytes(server.Url("/late"), {.timeout = 1}), "");
    EXPECT_LT(SecondsSince(start), 2.5);
    EXPECT_GE(SecondsSince(start), 0.9);
    start = Clock::now();
    EXPECT_EQ(client.FetchBytes(server.Url("/late"), {.timeout = 1, .blocking = true}), "");
    EXPECT_LT(SecondsSince(start), 2.5);
    // Long enough: the answer comes.
    EXPECT_EQ(client.FetchBytes(server.Url("/late"), {.timeout = 3}), "late");
}

TEST(FetchBytes, AServerThatNeverAnswersCostsOnlyTheTimeout) {
    HttpServer server;
    server.Set("/never", Reply::NeverAnswer());
    server.Set("/a", Reply::Ok("A"));
    WebClient client = Client();
    EventCounter events;
    client.SetEventPoints(events);
    auto start = Clock::now();
    EXPECT_EQ(client.FetchBytes(server.Url("/never"), {.timeout = 1}), "");
    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_GE(events.painted, 10);  // the window was kept painted all along
    EXPECT_EQ(events.processed, 0);
    EXPECT_EQ(client.FetchBytes(server.Url("/a")), "A");  // and the client goes on
}

TEST(FetchBytes, ProxyArgument) {
    HttpServer origin;
    origin.Set("/p", Reply::Ok("origin"));
    HttpProxyServer proxy;
    ASSERT_TRUE(proxy.started());
    WebClient client = Client();
    EventCounter events;
    client.SetEventPoints(events);
    const std::string url = origin.Url("/p");

    EXPECT_EQ(client.FetchBytes(url), "origin");
    EXPECT_EQ(proxy.RequestCount(), 0u);

    EXPECT_EQ(client.FetchBytes(url, {.proxy = proxy.Address()}), "origin");
    ASSERT_EQ(proxy.RequestCount(), 1u);
    EXPECT_EQ(proxy.Requests()[0].target, url);  // absolute form: it went through the proxy
    EXPECT_EQ(proxy.Requests()[0].Header("Referer"), url);
    EXPECT_EQ(events.processed, 1);  // events are let through once, before SetProxy

    // Left out or "-1": no SetProxy call, so the component keeps using the proxy.
    client.FetchBytes(url);
    client.FetchBytes(url, {.proxy = "-1"});
    EXPECT_EQ(proxy.RequestCount(), 3u);
    EXPECT_EQ(events.processed, 1);

    // Empty text: the component's default setting, a direct connection.
    client.FetchBytes(url, {.proxy = ""});
    EXPECT_EQ(proxy.RequestCount(), 3u);
    EXPECT_EQ(events.processed, 2);

    {
        ScopedEnv lower("http_proxy", ("http://" + proxy.Address()).c_str());
        ScopedEnv upper("HTTP_PROXY", nullptr);
        EXPECT_EQ(client.FetchBytes(url, {.proxy = "IE"}), "origin");
        EXPECT_EQ(proxy.RequestCount(), 4u);
    }
    {
        ScopedEnv lower("http_proxy", nullptr);
        ScopedEnv upper("HTTP_PROXY", proxy.Address().c_str());
        EXPECT_EQ(SystemProxy(), proxy.Address());
        client.FetchBytes(url, {.proxy = ""});
        EXPECT_EQ(client.FetchBytes(url, {.proxy = "IE"}), "origin");
        EXPECT_EQ(proxy.RequestCount(), 5u);
    }
    {
        ScopedEnv lower("http_proxy", nullptr);
        ScopedEnv upper("HTTP_PROXY", nullptr);
        EXPECT_EQ(SystemProxy(), "");
        client.FetchBytes(url, {.proxy = proxy.Address()});
        EXPECT_EQ(client.FetchBytes(url, {.proxy = "IE"}), "origin");  // none: direct
        EXPECT_EQ(proxy.RequestCount(), 6u);
    }
}

TEST(FetchBytes, UnsafeOversizedOrMisdirectedAnswersGiveNothing) {
    HttpServer server;
    server.Set("/a", Reply::Ok("A"));
    Reply huge = Reply::Ok("0123456789");
    huge.length = HttpRequest::kDefaultBodyLimit + 1;
    server.Set("/huge", huge);
    for (int i = 0; i < 11; ++i)
        server.Set("/r" + std::to_string(i), Reply::Redirect("/r" + std::to_string(i + 1)));
    server.Set("/r11", Reply::Ok("landed"));
    server.Set("/to-file", Reply::Redirect("file:///etc/hostname"));
    server.Set("/to-ftp", Reply::Redirect("ftp://127.0.0.1:21/x"));
    WebClient client = Client();

    EXPECT_EQ(client.FetchBytes(server.Url("/a")), "A");
    EXPECT_EQ(client.FetchBytes(server.Url("/a\r\nX-Injected: 1")), "");
    EXPECT_EQ(client.FetchBytes(server.Url("/a"), {.referer = "http://x/\nX-Injected: 1"}), "");
    EXPECT_EQ(client.FetchBytes(server.Url("/a"), {.cookies = "a=1\r\nX-Injected: 1"}), "");
    EXPECT_EQ(client.FetchBytes(server.Url("/a"), {.userAgent = "UA\x01"}), "");
    EXPECT_EQ(server.RequestCount(), 1u);  // none of them went out

    EXPECT_EQ(client.FetchBytes(server.Url("/huge")), "");
    EXPECT_EQ(client.FetchBytes(server.Url("/r1")), "landed");  // 10 hops
    EXPECT_EQ(client.FetchBytes(server.Url("/r0")), "");        // 11 hops
    EXPECT_EQ(client.FetchBytes(server.Url("/to-file")), "");
    EXPECT_EQ(client.FetchBytes(server.Url("/to-ftp")), "");
    EXPECT_EQ(client.FetchBytes(server.Url("/a")), "A");
}

TEST(FetchBytes, SequentialFetchesShareOneConnection) {
    HttpServer server;
    const std::string image(20 * 1024, '\x5A');
    server.Set("/img", Reply::Ok(image, "image/gif"));
    WebClient client = Client();
    for (int i = 0; i < 100; ++i) ASSERT_EQ(client.FetchBytes(server.Url("/img")), image) << i;
    EXPECT_EQ(server.RequestCount(), 100u);
    EXPECT_EQ(server.ConnectionCount(), 1);
}

TEST(FetchText, DecodesThePageAndTakesARealTimeout) {
    HttpServer server;
    const std::string gbk = "简体中文"_gbk;
    const std::string page = "<html><head><meta charset=\"utf-8\"></head><body>" +
                             text::Utf8FromGbk(gbk) + "</body></html>";
    server.Set("/page", Reply::Ok(page, "text/html"));
    server.Set("/zero", Reply::Ok(std::string("ab\0cd", 5), "text/plain; charset=utf-8"));
    WebClient client = Client();

    EXPECT_EQ(client.FetchText(server.Url("/page")),
              "<html><head><meta charset=\"utf-8\"></head><body>" + gbk + "</body></html>");
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{10000, 10000, 120000, 60000}));
    EXPECT_EQ(server.Requests().back().method, "GET");

    EXPECT_EQ(client.FetchText(server.Url("/page"), {.selector = -1, .timeout = 2.5}), page);
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{10000, 10000, 2500, 2500}));
    EXPECT_EQ(client.FetchText(server.Url("/zero"), {.selector = -1}), "ab");
    EXPECT_EQ(client.FetchText(server.Url("/zero"), {.selector = -2}), "ab");

    client.SetTimeouts(3000);
    client.FetchText(server.Url("/page"), {.timeout = -1.00000001});
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{3000, 3000, 3000, 3000}));
    client.FetchText(server.Url("/page"), {.timeout = 0.9999});
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{10000, 10000, 120000, 60000}));
    client.FetchText(server.Url("/page"), {.timeout = 1.0000000001});
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{10000, 10000, 1000, 1000}));

    // Post text, cookies and the rest as in FetchBytes.
    server.Set("/form", Reply::Ok("ok").Cookie("s=1; path=/"));
    EXPECT_EQ(client.FetchText(server.Url("/form"), {.postText = "q=1", .keepCookies = true}),
              "ok");
    EXPECT_EQ(server.Requests().back().method, "POST");
    EXPECT_EQ(server.Requests().back().body, "q=1");
    EXPECT_EQ(client.SavedCookies(), "s=1; path=/; ");
}

TEST(FetchText, ShortRealTimeoutEndsTheWait) {
    HttpServer server;
    server.Set("/never", Reply::NeverAnswer());
    WebClient client = Client();
    const auto start = Clock::now();
    EXPECT_EQ(client.FetchText(server.Url("/never"), {.timeout = 1.5}), "");
    EXPECT_LT(SecondsSince(start), 3.0);
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{10000, 10000, 1500, 1500}));
}

}  // namespace
}  // namespace zembrat::web
