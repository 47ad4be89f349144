#include <gtest/gtest.h>

#include <chrono>

#include "platform/http_request.h"
#include "support/http_server.h"

namespace zembrat::platform {
namespace {

using std::chrono::milliseconds;
using testing::HttpServer;
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

}  // namespace
}  // namespace zembrat::platform
