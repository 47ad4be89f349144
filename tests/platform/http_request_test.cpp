#include "platform/http_request.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "platform/event_points.h"
#include "support/event_counter.h"
#include "support/http_server.h"
#include "support/raw_server.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "text/codec.h"

namespace zembrat::platform {
namespace {

using namespace text::literals;
using testing::HttpProxyServer;
using testing::HttpServer;
using testing::RawConnection;
using testing::RawServer;
using testing::Reply;
using testing::ScopedEnv;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Names = std::vector<std::string>;

using testing::EventCounter;
using testing::SecondsSince;

bool Get(HttpRequest& r, const std::string& url) {
    return r.Open("GET", url, false) && r.Send();
}

// No proxy in the environment for one scope, whatever the machine sets.
struct ProxyEnvironment {
    ScopedEnv vars[8]{{"http_proxy", nullptr},  {"HTTP_PROXY", nullptr}, {"https_proxy", nullptr},
                      {"HTTPS_PROXY", nullptr}, {"all_proxy", nullptr},  {"ALL_PROXY", nullptr},
                      {"no_proxy", nullptr},    {"NO_PROXY", nullptr}};
};

// A loopback port where nothing listens (it did a moment ago).
int ClosedPort() {
    const RawServer gone([](RawConnection&) {});
    return gone.port();
}

TEST(HttpRequest, SendsOnlyHostAndTheCallersHeaders) {
    HttpServer server;
    ASSERT_TRUE(server.started());
    server.Set("/a", Reply::Ok("A"));
    HttpRequest r;
    ASSERT_TRUE(r.Open("GET", server.Url("/a"), false));
    EXPECT_TRUE(r.SetRequestHeader("Referer", "http://x/"));
    EXPECT_TRUE(r.SetRequestHeader("X-Empty", ""));
    EXPECT_TRUE(r.SetRequestHeader("x-referer-twin", "1"));
    EXPECT_TRUE(r.SetRequestHeader("X-Referer-Twin", "2"));  // replaces, keeps its place
    ASSERT_TRUE(r.Send());
    EXPECT_EQ(r.ResponseBody(), "A");

    ASSERT_EQ(server.RequestCount(), 1u);
    const auto req = server.Requests()[0];
    EXPECT_EQ(req.method, "GET");
    EXPECT_EQ(req.target, "/a");
    // No Accept, Expect or Accept-Encoding of curl's own; User-Agent from option 0 (curl
    // puts it after Host), then the caller's in the order set.
    EXPECT_EQ(req.HeaderNames(),
              (Names{"Host", "User-Agent", "Referer", "X-Empty", "x-referer-twin"}));
    EXPECT_EQ(req.Header("Host"), "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(req.Header("X-Empty"), "");
    EXPECT_EQ(req.Header("X-Referer-Twin"), "2");
    EXPECT_EQ(req.Header("User-Agent"), std::get<std::string>(r.Option(kOptionUserAgent)));

    // A caller's User-Agent replaces the option's; option 0 changes the default.
    ASSERT_TRUE(r.SetOption(kOptionUserAgent, std::string("Agent/1")));
    ASSERT_TRUE(Get(r, server.Url("/a")));
    EXPECT_EQ(server.Requests()[1].Header("User-Agent"), "Agent/1");
    ASSERT_TRUE(r.Open("GET", server.Url("/a"), false));
    r.SetRequestHeader("User-Agent", "Mine");
    ASSERT_TRUE(r.Send());
    EXPECT_EQ(server.Requests()[2].Header("User-Agent"), "Mine");
    EXPECT_EQ(server.Requests()[2].HeaderCount("User-Agent"), 1u);
    // Headers belong to one request: the next Open forgets them.
    ASSERT_TRUE(Get(r, server.Url("/a")));
    EXPECT_FALSE(server.Requests()[3].HasHeader("Referer"));
}

TEST(HttpRequest, GivesTheResponseAsItCame) {
    HttpServer server;
    server.Set("/r", Reply::Status(404, "gone")
                         .Header("X-One", "  first  ")
                         .Header("X-One", "second")
                         .Cookie("a=1; path=/")
                         .Cookie("b=2"));
    HttpRequest r;
    EXPECT_EQ(r.Status(), 0);  // nothing sent yet
    ASSERT_TRUE(Get(r, server.Url("/r")));
    EXPECT_EQ(r.Status(), 404);
    EXPECT_EQ(r.StatusText(), "Not Found");
    EXPECT_EQ(r.ResponseBody(), "gone");
    EXPECT_EQ(r.GetResponseHeader("x-one"), "first");
    EXPECT_EQ(r.GetResponseHeader("X-Missing"), "");

    const std::string all = r.GetAllResponseHeaders();
    EXPECT_NE(all.find("Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n"), std::string::npos) << all;
    EXPECT_NE(all.find("Content-Length: 4\r\n"), std::string::npos);
    EXPECT_EQ(all.find("HTTP/1.1"), std::string::npos);  // no status line
    EXPECT_TRUE(all.ends_with("\r\n"));
    EXPECT_EQ(all.find("\r\n\r\n"), std::string::npos);

    auto stream = r.ResponseStream();
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->Size(), 4u);
    EXPECT_EQ(stream->Read(3), "gon");
    EXPECT_EQ(stream->Read(3), "e");
    EXPECT_TRUE(stream->Seek(1));
    EXPECT_EQ(stream->Read(10), "one");
    EXPECT_FALSE(stream->Seek(5));
}

TEST(HttpRequest, ResponseTextFollowsTheDeclaredCharset) {
    HttpServer server;
    const std::string gbk = "中文頁面"_gbk;  // characters Big5 has too
    server.Set("/utf8", Reply::Ok(text::Utf8FromGbk(gbk), "text/html; charset=UTF-8"));
    server.Set("/gbk", Reply::Ok(gbk, "text/html; charset=gb2312"));
    const auto big5 = text::ConvertStrict(gbk, "GB18030", "BIG5");
    ASSERT_TRUE(big5);
    server.Set("/big5", Reply::Ok(*big5, "text/html; charset=\"big5\""));
    server.Set("/plain-utf8", Reply::Ok(text::Utf8FromGbk(gbk), "text/html"));
    server.Set("/plain-gbk", Reply::Ok(gbk, "text/html"));
    HttpRequest r;
    for (const char* path : {"/utf8", "/gbk", "/big5", "/plain-utf8"}) {
        ASSERT_TRUE(Get(r, server.Url(path)));
        EXPECT_EQ(r.ResponseText(), gbk) << path;
    }
    // Not valid UTF-8 and no charset: handed over unconverted.
    ASSERT_TRUE(Get(r, server.Url("/plain-gbk")));
    EXPECT_EQ(r.ResponseText(), gbk);
}

TEST(HttpRequest, BodiesGoOutAsTextInTheirCharsetOrAsBytes) {
    HttpServer server;
    server.Set("/p", Reply::Ok("ok"));
    const std::string gbk = "名=值"_gbk;
    HttpRequest r;

    ASSERT_TRUE(r.Open("POST", server.Url("/p"), false));
    ASSERT_TRUE(r.Send(gbk));
    auto req = server.Requests().back();
    EXPECT_EQ(req.body, text::Utf8FromGbk(gbk));
    EXPECT_EQ(req.Header("Content-Type"), "text/plain; Charset=UTF-8");
    EXPECT_EQ(req.Header("Content-Length"), std::to_string(req.body.size()));
    EXPECT_FALSE(req.HasHeader("Expect"));

    ASSERT_TRUE(r.Open("POST", server.Url("/p"), false));
    r.SetRequestHeader("Content-Type", "application/x-www-form-urlencoded; charset=GBK");
    ASSERT_TRUE(r.Send(gbk));
    EXPECT_EQ(server.Requests().back().body, gbk);

    const std::string bytes("\x00\x01\xFF\r\n", 5);
    ASSERT_TRUE(r.Open("PUT", server.Url("/p"), false));
    ASSERT_TRUE(r.SendBytes(bytes));
    req = server.Requests().back();
    EXPECT_EQ(req.method, "PUT");
    EXPECT_EQ(req.body, bytes);
    EXPECT_FALSE(req.HasHeader("Content-Type"));

    // A large body goes out whole, without waiting for a 100-continue.
    const std::string big(3 * 1024 * 1024, 'z');
    ASSERT_TRUE(r.Open("POST", server.Url("/p"), false));
    ASSERT_TRUE(r.SendBytes(big));
    EXPECT_EQ(server.Requests().back().body.size(), big.size());
    EXPECT_FALSE(server.Requests().back().HasHeader("Expect"));

    ASSERT_TRUE(r.Open("HEAD", server.Url("/p"), false));
    ASSERT_TRUE(r.Send());
    EXPECT_EQ(server.Requests().back().method, "HEAD");
    EXPECT_EQ(r.Status(), 200);
    EXPECT_EQ(r.ResponseBody(), "");
}

TEST(HttpRequest, KeepsOneConnectionAcrossRequests) {
    HttpServer server;
    server.Set("/k", Reply::Ok("k"));
    HttpRequest r;
    for (int i = 0; i < 20; ++i) {
        const bool async = i % 2 == 1;
        ASSERT_TRUE(r.Open("GET", server.Url("/k"), async));
        ASSERT_TRUE(r.Send());
        if (async) {
            EXPECT_TRUE(r.WaitForResponse(10));
        }
        ASSERT_EQ(r.ResponseBody(), "k") << i;
    }
    EXPECT_EQ(server.ConnectionCount(), 1);
    // Another instance has connections of its own.
    HttpRequest other;
    ASSERT_TRUE(Get(other, server.Url("/k")));
    EXPECT_EQ(server.ConnectionCount(), 2);
}

TEST(HttpRequest, KeepsItsOwnCookiesUntilDestroyed) {
    HttpServer server;
    server.Set("/set", Reply::Ok("s").Cookie("sid=42; path=/"));
    server.Set("/later", Reply::Ok("l").Cookie("late=7; path=/"));
    server.Set("/plain", Reply::Ok("p"));
    {
        HttpRequest r;
        ASSERT_TRUE(Get(r, server.Url("/plain")));
        EXPECT_FALSE(server.Requests().back().HasHeader("Cookie"));
        ASSERT_TRUE(Get(r, server.Url("/set")));
        ASSERT_TRUE(Get(r, server.Url("/plain")));
        EXPECT_EQ(server.Requests().back().Header("Cookie"), "sid=42");

        // A request with the caller's own Cookie header sends that one alone...
        ASSERT_TRUE(r.Open("GET", server.Url("/later"), false));
        r.SetRequestHeader("Cookie", "mine=1");
        ASSERT_TRUE(r.Send());
        EXPECT_EQ(server.Requests().back().HeaderCount("Cookie"), 1u);
        EXPECT_EQ(server.Requests().back().Header("Cookie"), "mine=1");
        // ...and the engine keeps its cookies, plus the ones that request brought.
        ASSERT_TRUE(Get(r, server.Url("/plain")));
        const std::string cookie = server.Requests().back().Header("Cookie");
        EXPECT_NE(cookie.find("sid=42"), std::string::npos) << cookie;
        EXPECT_NE(cookie.find("late=7"), std::string::npos) << cookie;
    }
    HttpRequest fresh;
    ASSERT_TRUE(Get(fresh, server.Url("/plain")));
    EXPECT_FALSE(server.Requests().back().HasHeader("Cookie"));
}

TEST(HttpRequest, FollowsAtMostTenHttpRedirects) {
    HttpServer server;
    for (int i = 0; i < 11; ++i)
        server.Set("/hop" + std::to_string(i), Reply::Redirect("/hop" + std::to_string(i + 1)));
    server.Set("/hop11", Reply::Ok("end").Header("X-Last", "yes"));
    server.Set("/file", Reply::Redirect("file:///etc/passwd"));
    server.Set("/ftp", Reply::Redirect("ftp://127.0.0.1/x"));
    server.Set("/once", Reply::Redirect("/hop11", 301));
    HttpRequest r;

    ASSERT_TRUE(Get(r, server.Url("/once")));
    EXPECT_EQ(r.Status(), 200);
    EXPECT_EQ(r.ResponseBody(), "end");
    EXPECT_EQ(r.GetResponseHeader("X-Last"), "yes");  // the headers of the last answer
    EXPECT_EQ(r.GetResponseHeader("Location"), "");

    ASSERT_TRUE(Get(r, server.Url("/hop1")));  // 10 redirects
    EXPECT_EQ(r.ResponseBody(), "end");
    EXPECT_FALSE(Get(r, server.Url("/hop0")));  // 11 redirects
    EXPECT_EQ(r.Status(), 0);
    EXPECT_EQ(r.ResponseBody(), "");

    for (const char* path : {"/file", "/ftp"}) {
        EXPECT_FALSE(Get(r, server.Url(path))) << path;
        EXPECT_EQ(r.ResponseBody(), "") << path;
        EXPECT_EQ(r.Status(), 0) << path;
    }

    // Option 6 turns following off: the redirect itself is the answer.
    EXPECT_EQ(std::get<bool>(r.Option(kOptionEnableRedirects)), true);
    ASSERT_TRUE(r.SetOption(kOptionEnableRedirects, std::int64_t{0}));
    EXPECT_EQ(std::get<bool>(r.Option(kOptionEnableRedirects)), false);
    server.ClearRequests();
    ASSERT_TRUE(Get(r, server.Url("/once")));
    EXPECT_EQ(r.Status(), 301);
    EXPECT_EQ(r.GetResponseHeader("Location"), "/hop11");
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_TRUE(r.SetOption(kOptionEnableRedirects, std::string("True")));
    EXPECT_EQ(std::get<bool>(r.Option(kOptionEnableRedirects)), true);

    // Refusing https-to-http downgrades leaves http redirects alone; the body can be taken.
    r.SetRefuseHttpsDowngrade(true);
    ASSERT_TRUE(Get(r, server.Url("/hop1")));
    EXPECT_EQ(r.TakeResponseBody(), "end");
    EXPECT_EQ(r.ResponseBody(), "");
    EXPECT_EQ(r.Status(), 200);
}

TEST(HttpRequest, OptionsKnownAndUnknown) {
    HttpServer server;
    HttpRequest r;
    EXPECT_TRUE(std::holds_alternative<std::monostate>(r.Option(kOptionUrl)));
    const std::string url = server.Url("/页"_gbk);
    ASSERT_TRUE(r.Open("GET", url, false));
    EXPECT_EQ(std::get<std::string>(r.Option(kOptionUrl)), url);
    EXPECT_FALSE(r.SetOption(kOptionUrl, std::string("http://elsewhere/")));
    EXPECT_FALSE(r.SetOption(kOptionEnableRedirects, OptionBytes{"x"}));
    EXPECT_FALSE(r.SetOption(kOptionEnableRedirects, std::string("perhaps")));
    EXPECT_FALSE(r.SetOption(kOptionUserAgent, std::string("a\r\nX-Injected: 1")));
    EXPECT_FALSE(r.SetOption(99, std::int64_t{1}));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(r.Option(99)));
}

TEST(HttpRequest, RefusesBodiesAboveTheLimit) {
    HttpServer server;
    Reply huge = Reply::Ok("0123456789");
    huge.length = HttpRequest::kDefaultBodyLimit + 1;
    server.Set("/huge", huge);
    Reply exact = Reply::Ok("0123456789");
    exact.length = 1000;
    server.Set("/exact", exact);
    Reply streamed = Reply::Ok(std::string(1001, 's'));
    streamed.chunked = true;
    streamed.chunkSize = 100;
    server.Set("/streamed", streamed);
    server.Set("/small", Reply::Ok("fine"));

    HttpRequest r;
    // Declared too large: refused when the headers arrive, long before 256 MiB are read.
    EXPECT_FALSE(Get(r, server.Url("/huge")));
    EXPECT_EQ(r.ResponseBody(), "");
    EXPECT_EQ(r.Status(), 0);

    // A body without a declared length is cut off as it grows past the limit.
    HttpRequest limited(1000);
    ASSERT_TRUE(Get(limited, server.Url("/exact")));
    EXPECT_EQ(limited.ResponseBody().size(), 1000u);
    EXPECT_FALSE(Get(limited, server.Url("/streamed")));
    EXPECT_EQ(limited.ResponseBody(), "");
    EXPECT_EQ(limited.GetAllResponseHeaders(), "");
    server.Set("/endless", Reply::Endless(std::string(64, 'e'), milliseconds(0)));
    EXPECT_FALSE(Get(limited, server.Url("/endless")));
    EXPECT_EQ(limited.ResponseBody(), "");
    ASSERT_TRUE(Get(limited, server.Url("/small")));  // and the instance works on
    EXPECT_EQ(limited.ResponseBody(), "fine");
}

TEST(HttpRequest, NeverSendsControlCharacters) {
    HttpServer server;
    server.Set("/a", Reply::Ok("A"));
    HttpRequest r;
    ASSERT_TRUE(Get(r, server.Url("/a")));
    ASSERT_EQ(r.ResponseBody(), "A");

    for (const std::string& bad : std::vector<std::string>{"/a\r\nX-Injected: 1", "/a\n", "/a\tb",
                                                           std::string("/a\0b", 4), "/a\x7F"}) {
        EXPECT_FALSE(r.Open("GET", server.Url(bad), false));
        EXPECT_FALSE(r.Send());
        EXPECT_EQ(r.ResponseBody(), "");  // the previous answer is gone too
        EXPECT_EQ(r.Status(), 0);
    }
    for (const char* bad : {"v\r\nX-Injected: 1", "v\n", "v\x01"}) {
        ASSERT_TRUE(r.Open("GET", server.Url("/a"), false));
        EXPECT_FALSE(r.SetRequestHeader("X-Value", bad));
        EXPECT_TRUE(r.SetRequestHeader("X-Fine", "ok"));
        EXPECT_FALSE(r.Send());
        EXPECT_EQ(r.ResponseBody(), "");
    }
    ASSERT_TRUE(r.Open("GET", server.Url("/a"), false));
    EXPECT_FALSE(r.SetRequestHeader("Bad Name", "v"));
    EXPECT_FALSE(r.Send());
    EXPECT_FALSE(r.Open("GE T", server.Url("/a"), false));
    EXPECT_FALSE(r.Open("", server.Url("/a"), false));

    EXPECT_EQ(server.RequestCount(), 1u);  // only the first, sound request arrived
}

TEST(HttpRequest, UrlsAreCheckedAndEncoded) {
    HttpServer server;
    server.Set(text::Utf8FromGbk("/图片 1.png"_gbk), Reply::Ok("img"));  // the server decodes
    HttpRequest r;
    ASSERT_TRUE(Get(r, server.Url("/图片 1.png?q=名"_gbk)));
    EXPECT_EQ(r.ResponseBody(), "img");
    const auto req = server.Requests().back();
    EXPECT_EQ(req.target, "/%E5%9B%BE%E7%89%87%201.png?q=%E5%90%8D");

    EXPECT_TRUE(r.Open("GET", "HTTP://127.0.0.1:" + std::to_string(server.port()) + "/x", false));
    for (const char* bad : {"ftp://127.0.0.1/x", "file:///etc/passwd", "127.0.0.1/x", "http://",
                            "http://:80/x", ""}) {
        EXPECT_FALSE(r.Open("GET", bad, false)) << bad;
    }
}

TEST(HttpRequest, ReceiveTimeoutEndsAWaitForAnAnswer) {
    HttpServer server;
    server.Set("/never", Reply::NeverAnswer());
    Reply slow = Reply::Ok(std::string(5, 'x'));
    slow.chunked = true;
    slow.chunkSize = 1;
    slow.chunkInterval = milliseconds(100);
    server.Set("/slow", slow);
    HttpRequest r;
    ASSERT_TRUE(r.SetTimeouts(1000, 1000, 1000, 300));
    EXPECT_EQ(r.CurrentTimeouts(), (HttpRequest::Timeouts{1000, 1000, 1000, 300}));

    auto start = Clock::now();
    EXPECT_FALSE(Get(r, server.Url("/never")));
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_EQ(r.ResponseBody(), "");

    // Pauses shorter than the limit are fine, however long the whole body takes.
    ASSERT_TRUE(r.SetTimeouts(1000, 1000, 1000, 1000));
    ASSERT_TRUE(Get(r, server.Url("/slow")));
    EXPECT_EQ(r.ResponseBody(), "xxxxx");
    ASSERT_TRUE(r.SetTimeouts(1000, 1000, 1000, 40));
    EXPECT_FALSE(Get(r, server.Url("/slow")));

    EXPECT_FALSE(r.SetTimeouts(-2, 0, 0, 0));
    EXPECT_EQ(r.CurrentTimeouts(), (HttpRequest::Timeouts{1000, 1000, 1000, 40}));
    EXPECT_TRUE(r.SetTimeouts(-1, 0, -1, 0));
    EXPECT_EQ(HttpRequest().CurrentTimeouts(), (HttpRequest::Timeouts{0, 60000, 30000, 30000}));
}

TEST(HttpRequest, AsynchronousRequestsAreDrivenByWaitForResponse) {
    HttpServer server;
    Reply late = Reply::Ok("late");
    late.delay = milliseconds(1500);
    server.Set("/late", late);
    server.Set("/now", Reply::Ok("now"));
    HttpRequest r;
    EXPECT_FALSE(r.WaitForResponse(1));  // nothing sent

    ASSERT_TRUE(r.Open("GET", server.Url("/late"), true));
    ASSERT_TRUE(r.Send());
    EXPECT_TRUE(r.Pending());
    EXPECT_EQ(r.ResponseBody(), "");  // not there yet
    auto start = Clock::now();
    EXPECT_FALSE(r.WaitForResponse(0));
    EXPECT_FALSE(r.WaitForResponse(1));
    EXPECT_GE(SecondsSince(start), 0.9);
    EXPECT_TRUE(r.WaitForResponse(10));
    EXPECT_EQ(r.ResponseBody(), "late");
    EXPECT_TRUE(r.WaitForResponse(0));  // already complete

    // Aborted: no answer, and the instance goes on.
    ASSERT_TRUE(r.Open("GET", server.Url("/late"), true));
    ASSERT_TRUE(r.Send());
    r.Abort();
    EXPECT_FALSE(r.Pending());
    EXPECT_FALSE(r.WaitForResponse(2));
    EXPECT_EQ(r.ResponseBody(), "");
    // A new Open drops a transfer still running.
    ASSERT_TRUE(r.Open("GET", server.Url("/late"), true));
    ASSERT_TRUE(r.Send());
    ASSERT_TRUE(Get(r, server.Url("/now")));
    EXPECT_EQ(r.ResponseBody(), "now");
}

TEST(HttpRequest, BlockingWaitsKeepTheWindowPaintedWithoutTakingInput) {
    HttpServer server;
    Reply late = Reply::Ok("late");
    late.delay = milliseconds(400);
    server.Set("/late", late);
    EventCounter events;
    HttpRequest r;
    r.SetEventPoints(events);
    ASSERT_TRUE(Get(r, server.Url("/late")));
    const int synchronous = events.painted;
    EXPECT_GE(synchronous, 4);  // about every 25 ms over 400 ms
    ASSERT_TRUE(r.Open("GET", server.Url("/late"), true));
    ASSERT_TRUE(r.Send());
    EXPECT_TRUE(r.WaitForResponse(10));
    EXPECT_GE(events.painted - synchronous, 4);
    EXPECT_EQ(events.processed, 0);
}

TEST(HttpRequest, AStopRequestedWhileWaitingAbandonsTheTransfer) {
    HttpServer server;
    server.Set("/never", Reply::NeverAnswer());
    server.Set("/a", Reply::Ok("A"));
    EventCounter events;
    std::stop_source stop;
    events.SetStopToken(stop.get_token());
    events.onPainted = [&stop](int call) {
        if (call == 3) stop.request_stop();
    };
    HttpRequest r;
    r.SetEventPoints(events);
    ASSERT_TRUE(r.Open("GET", server.Url("/never"), true));
    ASSERT_TRUE(r.Send());
    const auto start = Clock::now();
    EXPECT_FALSE(r.WaitForResponse(-1));
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_EQ(events.painted, 3);
    EXPECT_FALSE(r.Pending());
    EXPECT_EQ(r.Status(), 0);
    EXPECT_EQ(r.ResponseBody(), "");
    EXPECT_EQ(r.GetAllResponseHeaders(), "");

    // A synchronous send ends the same way; once the stop is gone the component works on.
    events.painted = 0;
    stop = std::stop_source();
    events.SetStopToken(stop.get_token());
    ASSERT_TRUE(r.Open("GET", server.Url("/never"), false));
    EXPECT_FALSE(r.Send());
    EXPECT_EQ(events.painted, 3);
    EXPECT_EQ(r.Status(), 0);
    events.SetStopToken({});
    ASSERT_TRUE(Get(r, server.Url("/a")));
    EXPECT_EQ(r.ResponseBody(), "A");
}

TEST(HttpRequest, BrokenAnswersGiveNothing) {
    HttpServer server;
    server.Set("/cut", Reply::CloseMidBody(std::string(10000, 'c')));
    Reply dropped = Reply::Ok("second time");
    dropped.failFirst = 1;
    dropped.failByClosing = true;
    server.Set("/drop", dropped);
    Reply flaky = Reply::Ok("third time");
    flaky.failFirst = 2;
    server.Set("/flaky", flaky);
    HttpRequest r;
    for (long expected : {503L, 503L, 200L}) {
        ASSERT_TRUE(Get(r, server.Url("/flaky")));
        EXPECT_EQ(r.Status(), expected);
    }
    EXPECT_EQ(r.ResponseBody(), "third time");
    EXPECT_FALSE(Get(r, server.Url("/cut")));
    EXPECT_EQ(r.ResponseBody(), "");
    HttpRequest fresh;  // a new connection, so curl does not retry on its own
    EXPECT_FALSE(Get(fresh, server.Url("/drop")));
    EXPECT_EQ(fresh.ResponseBody(), "");
    ASSERT_TRUE(Get(fresh, server.Url("/drop")));
    EXPECT_EQ(fresh.ResponseBody(), "second time");
    // Nobody listening any more: refused at once.
    std::string url;
    {
        HttpServer gone;
        url = gone.Url("/x");
    }
    EXPECT_FALSE(Get(r, url));
    EXPECT_EQ(r.Status(), 0);
}

TEST(HttpRequest, NamedProxyCarriesTheRequestUnlessBypassed) {
    HttpServer origin;
    origin.Set("/p", Reply::Ok("origin"));
    HttpProxyServer proxy;
    ASSERT_TRUE(proxy.started());
    HttpRequest r;

    // With the environment naming no proxy, the default setting goes direct.
    const ProxyEnvironment none;
    ASSERT_TRUE(Get(r, origin.Url("/p")));
    EXPECT_EQ(proxy.RequestCount(), 0u);

    ASSERT_TRUE(r.SetProxy(kProxyNamed, proxy.Address(), ""));
    ASSERT_TRUE(Get(r, origin.Url("/p")));
    EXPECT_EQ(r.ResponseBody(), "origin");
    ASSERT_EQ(proxy.RequestCount(), 1u);
    EXPECT_EQ(proxy.Requests()[0].target, origin.Url("/p"));
    EXPECT_EQ(origin.RequestCount(), 2u);  // the proxy passed it on

    // The setting stays for later requests; per-scheme entries pick the http one.
    ASSERT_TRUE(r.SetProxy(kProxyNamed, "https=127.0.0.1:1;http=" + proxy.Address(), ""));
    ASSERT_TRUE(Get(r, origin.Url("/p")));
    EXPECT_EQ(proxy.RequestCount(), 2u);

    // Hosts on the bypass list go direct.
    ASSERT_TRUE(r.SetProxy(kProxyNamed, proxy.Address(), "example.org;127.0.0.*"));
    ASSERT_TRUE(Get(r, origin.Url("/p")));
    EXPECT_EQ(proxy.RequestCount(), 2u);
    ASSERT_TRUE(r.SetProxy(kProxyNamed, proxy.Address(), "<local>"));
    ASSERT_TRUE(Get(r, origin.Url("/p")));
    EXPECT_EQ(proxy.RequestCount(), 3u);  // 127.0.0.1 has dots: not local

    ASSERT_TRUE(r.SetProxy(kProxyDirect, proxy.Address(), ""));
    ASSERT_TRUE(Get(r, origin.Url("/p")));
    EXPECT_EQ(proxy.RequestCount(), 3u);
    EXPECT_FALSE(r.SetProxy(7, "", ""));
    EXPECT_FALSE(r.SetProxy(kProxyNamed, "127.0.0.1:1\r\n", ""));
}

TEST(HttpRequest, DefaultSettingTakesTheEnvironmentsProxy) {
    HttpServer origin;
    origin.Set("/p", Reply::Ok("origin"));
    HttpProxyServer proxy;
    ASSERT_TRUE(proxy.started());
    const ProxyEnvironment none;
    const std::string url = origin.Url("/p");
    const std::string proxyUrl = "http://" + proxy.Address();
    HttpRequest r;
    HttpTransferGroup group;
    HttpRequest member(group);
    for (HttpRequest* each : {&r, &member}) {
        proxy.ClearRequests();
        {
            const ScopedEnv http("http_proxy", proxyUrl.c_str());
            ASSERT_TRUE(Get(*each, url));
            EXPECT_EQ(each->ResponseBody(), "origin");
            ASSERT_EQ(proxy.RequestCount(), 1u);
            EXPECT_EQ(proxy.Requests()[0].target, url);  // the absolute form: a proxy's request
            {
                const ScopedEnv bypass("no_proxy", "example.org,127.0.0.1");
                ASSERT_TRUE(Get(*each, url));
                EXPECT_EQ(proxy.RequestCount(), 1u);
                // A named proxy is used as named: the environment's exceptions are not its own.
                ASSERT_TRUE(each->SetProxy(kProxyNamed, proxy.Address(), ""));
                ASSERT_TRUE(Get(*each, url));
                EXPECT_EQ(proxy.RequestCount(), 2u);
            }
            ASSERT_TRUE(each->SetProxy(kProxyDirect, "", ""));
            ASSERT_TRUE(Get(*each, url));
            EXPECT_EQ(proxy.RequestCount(), 2u);
            ASSERT_TRUE(each->SetProxy(kProxyDefault, "", ""));
        }
        {
            const ScopedEnv all("ALL_PROXY", proxyUrl.c_str());
            ASSERT_TRUE(Get(*each, url));
            EXPECT_EQ(proxy.RequestCount(), 3u);
        }
        // https asks its proxy for a tunnel to the host; this one refuses it.
        std::vector<std::string> tunnels;
        {
            RawServer tunnel([](RawConnection& c) {
                c.ReadRequestHead();
                c.Send("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
            });
            const ScopedEnv https("https_proxy", tunnel.Url("").c_str());
            EXPECT_FALSE(Get(*each, "https://127.0.0.1:9/x.png"));
            tunnels = tunnel.RequestHeads();
        }
        ASSERT_EQ(tunnels.size(), 1u);
        EXPECT_TRUE(tunnels[0].starts_with("CONNECT 127.0.0.1:9 HTTP/1.1\r\n")) << tunnels[0];
        // A proxy that is not there: the request fails, named as the proxy's refusal, and
        // nothing reaches the server.
        const std::size_t reached = origin.RequestCount();
        {
            const ScopedEnv dead("http_proxy",
                                 ("http://127.0.0.1:" + std::to_string(ClosedPort())).c_str());
            EXPECT_FALSE(Get(*each, url));
            EXPECT_EQ(each->Failure(), TransferFailure::ProxyRefused);
        }
        EXPECT_EQ(origin.RequestCount(), reached);
    }
}

TEST(HttpRequest, CredentialsAnswerAChallengeOnly) {
    HttpServer server;
    server.Set("/auth", Reply::Status(401).Header("WWW-Authenticate", "Basic realm=\"z\""));
    HttpRequest r;
    EXPECT_FALSE(r.SetCredentials("user", "pass", kCredentialsForServer));  // nothing open
    ASSERT_TRUE(r.Open("GET", server.Url("/auth"), false));
    EXPECT_FALSE(r.SetCredentials("user", "pass", 5));
    ASSERT_TRUE(r.SetCredentials("user", "pass", kCredentialsForServer));
    ASSERT_TRUE(r.Send());
    EXPECT_EQ(r.Status(), 401);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].HasHeader("Authorization"));
    EXPECT_EQ(requests[1].Header("Authorization"), "Basic dXNlcjpwYXNz");

    // Credentials belong to one request.
    ASSERT_TRUE(Get(r, server.Url("/auth")));
    EXPECT_EQ(server.RequestCount(), 3u);
    EXPECT_FALSE(server.Requests()[2].HasHeader("Authorization"));
}

TEST(HttpRequest, CertificateAndSignOnSettingsAreChecked) {
    testing::TempDir dir;
    const std::string pem = dir.Write("client.pem", "-----BEGIN CERTIFICATE-----\n");
    HttpRequest r;
    EXPECT_FALSE(r.SetClientCertificate(dir / "missing.pem"));
    EXPECT_FALSE(r.SetClientCertificate(dir.path()));
    EXPECT_TRUE(r.SetClientCertificate(pem));
    EXPECT_TRUE(r.SetClientCertificate(""));
    for (int p : {kAutoLogonAlways, kAutoLogonOnlyIfBypassProxy, kAutoLogonNever})
        EXPECT_TRUE(r.SetAutoLogonPolicy(p));
    EXPECT_FALSE(r.SetAutoLogonPolicy(3));
    EXPECT_FALSE(r.SetAutoLogonPolicy(-1));
}

}  // namespace
}  // namespace zembrat::platform
