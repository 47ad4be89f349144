#include "web/web_client.h"

#include <gtest/gtest.h>

#include "platform/http_request.h"
#include "support/http_server.h"
#include "text/codec.h"

namespace zembrat::web {
namespace {

using automation::VariantKind;
using automation::VariantValue;
using platform::HttpRequest;
using testing::HttpServer;
using testing::Reply;
using Names = std::vector<std::string>;
using Timeouts = HttpRequest::Timeouts;

Timeouts TimeoutsOf(const WebClient& client) {
    return client.RequestObject().As<HttpRequest>()->CurrentTimeouts();
}

std::string WithoutScheme(const std::string& url) {
    return url.substr(7);
}

TEST(WebClient, OpenPutsHttpInFrontOfAnythingElse) {
    HttpServer server;
    server.Set("/a", Reply::Ok("A"));
    Reply late = Reply::Ok("late");
    late.delay = std::chrono::milliseconds(200);
    server.Set("/late", late);
    WebClient client;
    client.CreateRequest();

    std::string url = WithoutScheme(server.Url("/a"));  // host and path only
    client.Open(url);  // method and async left out: a synchronous GET
    EXPECT_EQ(url, server.Url("/a"));
    client.Send();
    EXPECT_EQ(client.Status(), 200);  // no wait needed
    EXPECT_EQ(client.StatusText(), "OK");
    EXPECT_EQ(client.ResponseBody(), "A");
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0].method, "GET");

    std::string upper = "HTTP://" + WithoutScheme(server.Url("/a"));
    client.Open("GET", upper);
    EXPECT_EQ(upper, "HTTP://" + WithoutScheme(server.Url("/a")));  // the test ignores case
    client.Send();
    EXPECT_EQ(client.ResponseBody(), "A");

    std::string secure = "https://" + WithoutScheme(server.Url("/a"));
    client.Open("GET", secure);
    EXPECT_EQ(secure, "http://https://" + WithoutScheme(server.Url("/a")));
    // Under the https images option an https address is opened as it is.
    client.SetOpensHttps(true);
    secure = "HTTPS://" + WithoutScheme(server.Url("/a"));
    client.Open("GET", secure);
    EXPECT_EQ(secure, "HTTPS://" + WithoutScheme(server.Url("/a")));
    client.SetOpensHttps(false);

    std::string asyncUrl = server.Url("/late");
    client.Open("POST", asyncUrl, true);
    client.Send();
    EXPECT_EQ(client.Status(), 0);  // still on its way
    EXPECT_TRUE(client.WaitForResponse(10));
    EXPECT_EQ(client.Status(), 200);
    EXPECT_EQ(server.Requests().back().method, "POST");
}

TEST(WebClient, SendPrefersBytesThenTextThenNothing) {
    HttpServer server;
    server.Set("/p", Reply::Ok("ok"));
    WebClient client;
    client.CreateRequest();
    std::string url = server.Url("/p");

    client.Open("POST", url);
    client.Send("text", "bytes");
    EXPECT_EQ(server.Requests().back().body, "bytes");
    client.Open("POST", url);
    client.Send("text");
    EXPECT_EQ(server.Requests().back().body, "text");
    client.Open("POST", url);
    client.Send("", "");
    EXPECT_EQ(server.Requests().back().body, "");
    EXPECT_EQ(server.Requests().back().Header("Content-Length"), "0");
    EXPECT_EQ(server.RequestCount(), 3u);
}

TEST(WebClient, SetTimeoutsFillsTheMissingOnesWithTheResolveValue) {
    WebClient client;
    client.CreateRequest();
    client.SetTimeouts(5000);
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{5000, 5000, 5000, 5000}));
    client.SetTimeouts(5000, 0, 10000, -5);
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{5000, 5000, 10000, 5000}));
    client.SetTimeouts(100, 200, 300, 400);
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{100, 200, 300, 400}));
}

TEST(WebClient, OptionWritesTheFirstGivenValueThenReads) {
    HttpServer server;
    WebClient client;
    client.CreateRequest();
    VariantValue v = client.Option(6);  // only reads
    EXPECT_EQ(v, VariantValue::Boolean(true));
    EXPECT_EQ(client.Option(6), VariantValue::Boolean(true));
    EXPECT_EQ(client.Option(6, {.integer = 0}), VariantValue::Boolean(false));
    EXPECT_EQ(client.Option(6, {.text = "True"}), VariantValue::Boolean(true));
    EXPECT_EQ(client.Option(6, {.integer = 0, .text = "True"}), VariantValue::Boolean(false));
    EXPECT_EQ(client.Option(6, {.variant = VariantValue::Boolean(true)}),
              VariantValue::Boolean(true));
    EXPECT_EQ(client.Option(6, {.bytes = "x"}), VariantValue::Boolean(true));  // refused
    EXPECT_EQ(client.Option(0, {.text = "Agent/2"}), VariantValue::Text("Agent/2"));
    EXPECT_TRUE(client.Option(99, {.integer = 1}).empty());

    std::string url = server.Url("/o");
    client.Open(url);
    EXPECT_EQ(client.Option(1), VariantValue::Text(url));
}

TEST(WebClient, ProbeRedirectReadsLocationWithoutFollowing) {
    HttpServer server;
    server.Set("/moved", Reply::Redirect("/target"));
    server.Set("/target", Reply::Ok("T"));
    WebClient client;
    client.CreateRequest();

    EXPECT_EQ(client.ProbeRedirect(server.Url("/moved")), "/target");
    ASSERT_EQ(server.RequestCount(), 1u);
    const auto req = server.Requests()[0];
    EXPECT_EQ(req.target, "/moved");
    EXPECT_EQ(req.HeaderNames(),
              (Names{"Host", "User-Agent", "Accept-Language", "Connection", "Accept"}));
    EXPECT_EQ(req.Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1)");
    EXPECT_EQ(req.Header("Accept-Language"), "zh-cn");
    EXPECT_EQ(req.Header("Connection"), "Keep-Alive");
    EXPECT_EQ(req.Header("Accept"),
              "image/gif, image/x-xbitmap, image/jpeg, imagepeg, application/x-shockwave-flash, "
              "application/x-silverlight, */*");
    EXPECT_EQ(TimeoutsOf(client), (Timeouts{5000, 5000, 10000, 5000}));

    // The direct form takes the URL as it is: without a scheme nothing is sent.
    EXPECT_EQ(client.ProbeRedirect(WithoutScheme(server.Url("/moved"))), "");
    EXPECT_EQ(server.RequestCount(), 1u);
    // The wrapped form fixes the URL up, opened asynchronously or blocking.
    EXPECT_EQ(client.ProbeRedirect(WithoutScheme(server.Url("/moved")), false), "/target");
    EXPECT_EQ(client.ProbeRedirect(server.Url("/moved"), true), "/target");
    EXPECT_EQ(server.RequestCount(), 3u);
    EXPECT_EQ(server.Requests()[2].HeaderNames(), req.HeaderNames());
    // No Location: empty.
    EXPECT_EQ(client.ProbeRedirect(server.Url("/target")), "");
    EXPECT_EQ(client.ProbeRedirect(server.Url("/target"), false), "");

    // Redirects are followed again afterwards.
    EXPECT_EQ(client.Option(6), VariantValue::Boolean(true));
    EXPECT_EQ(client.FetchBytes(server.Url("/moved")), "T");
}

TEST(WebClient, CopiesShareTheComponentButNotTheCookies) {
    HttpServer server;
    server.Set("/set", Reply::Ok("s").Cookie("sid=1; path=/"));
    server.Set("/plain", Reply::Ok("p"));
    WebClient client;
    client.CreateRequest();
    client.FetchBytes(server.Url("/set"), {.keepCookies = true});
    EXPECT_EQ(client.SavedCookies(), "sid=1; path=/; ");

    {
        WebClient copy = client;
        EXPECT_EQ(copy.RequestObject(), client.RequestObject());
        EXPECT_EQ(client.RequestObject().referenceCount(), 3);  // client, copy, this holder
        copy.ClearCookies();
        EXPECT_EQ(copy.SavedCookies(), "");
        EXPECT_EQ(client.SavedCookies(), "sid=1; path=/; ");
        EXPECT_EQ(copy.FetchBytes(server.Url("/plain")), "p");
        EXPECT_EQ(server.ConnectionCount(), 1);  // the same component, the same connection
        // The component's own cookie engine still sends the cookie.
        EXPECT_EQ(server.Requests().back().Header("Cookie"), "sid=1");
    }
    EXPECT_EQ(client.RequestObject().referenceCount(), 2);

    const automation::ObjectHolder before = client.RequestObject();
    client.RecreateRequest();
    EXPECT_NE(client.RequestObject(), before);
    EXPECT_EQ(client.SavedCookies(), "sid=1; path=/; ");  // only the component is new
    client.ClearCookies();
    client.FetchBytes(server.Url("/plain"));
    EXPECT_FALSE(server.Requests().back().HasHeader("Cookie"));

    client.FetchBytes(server.Url("/set"), {.keepCookies = true});
    client.ResetClient();
    EXPECT_EQ(client.SavedCookies(), "");
    client.FetchBytes(server.Url("/plain"));
    EXPECT_FALSE(server.Requests().back().HasHeader("Cookie"));
}

TEST(WebClient, ResponseTextStreamAndHeaders) {
    HttpServer server;
    server.Set("/t", Reply::Ok(std::string("before\0after", 12), "text/plain; charset=gbk")
                         .Header("X-Note", "n"));
    WebClient client;
    client.CreateRequest();
    EXPECT_EQ(client.FetchBytes(server.Url("/t")), std::string("before\0after", 12));
    EXPECT_EQ(client.ResponseText(), "before");
    EXPECT_EQ(client.GetResponseHeader("x-note"), "n");
    EXPECT_NE(client.GetAllResponseHeaders().find("X-Note: n\r\n"), std::string::npos);
    VariantValue stream = client.ResponseStream();
    ASSERT_EQ(stream.kind(), VariantKind::Object);
    auto* bytes = stream.AsObject().As<platform::ByteStream>();
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes->Read(100), std::string("before\0after", 12));
    stream.Clear();
}

TEST(WebClient, WithoutAComponentEverythingIsEmpty) {
    HttpServer server;
    server.Set("/a", Reply::Ok("A").Cookie("c=1;"));
    server.Set("/moved", Reply::Redirect("/a"));
    WebClient client;  // CreateRequest never ran

    EXPECT_TRUE(client.RequestObject().empty());
    EXPECT_EQ(client.FetchBytes(server.Url("/a"), {.keepCookies = true}), "");
    EXPECT_EQ(client.SavedCookies(), "");
    EXPECT_EQ(client.FetchText(server.Url("/a"), {.proxy = "", .blocking = true}), "");
    EXPECT_EQ(client.ProbeRedirect(server.Url("/moved")), "");
    EXPECT_EQ(client.ProbeRedirect(server.Url("/moved"), false), "");
    std::string url = WithoutScheme(server.Url("/a"));
    client.Open(url);
    EXPECT_EQ(url, server.Url("/a"));
    client.SetRequestHeader("X", "y");
    client.SetTimeouts(1000);
    client.SetProxy(2, "127.0.0.1:1");
    client.SetCredentials("u", "p");
    client.SetClientCertificate("x");
    client.SetAutoLogonPolicy(0);
    client.Send("t", "b");
    EXPECT_FALSE(client.WaitForResponse(1));
    client.Abort();
    EXPECT_EQ(client.Status(), 0);
    EXPECT_EQ(client.StatusText(), "");
    EXPECT_EQ(client.ResponseText(), "");
    EXPECT_EQ(client.ResponseBody(), "");
    EXPECT_TRUE(client.ResponseStream().empty());
    EXPECT_TRUE(client.Option(6).empty());
    EXPECT_TRUE(client.Option(6, {.integer = 0}).empty());
    EXPECT_EQ(client.GetResponseHeader("Location"), "");
    EXPECT_EQ(client.GetAllResponseHeaders(), "");
    EXPECT_EQ(client.SetCookieLines(), "");
    EXPECT_EQ(client.CookieHeader(), "");
    EXPECT_EQ(client.CookieValue("c"), "");
    EXPECT_EQ(server.RequestCount(), 0u);

    client.ResetClient();  // makes a component
    EXPECT_EQ(client.FetchBytes(server.Url("/a")), "A");
}

TEST(WebClient, TextBetweenNeedsBothMarkers) {
    EXPECT_EQ(TextBetween("k=v; x", "k=", ";"), "v");
    EXPECT_EQ(TextBetween("k=; x", "k=", ";"), "");
    EXPECT_EQ(TextBetween("k=v", "k=", ";"), "");
    EXPECT_EQ(TextBetween("K=v;", "k=", ";"), "");     // case counts
    EXPECT_EQ(TextBetween("a;k=v;", "k=", ";"), "v");  // the end marker after the start
    EXPECT_EQ(TextBetween("", "k=", ";"), "");
}

}  // namespace
}  // namespace zembrat::web
