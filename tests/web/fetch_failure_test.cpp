// Why a fetch got no answer, told alike by a lone FetchBytes and by a group's result, against
// loopback servers that fail in each way a download can.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "platform/http_request.h"
#include "support/event_counter.h"
#include "support/http_server.h"
#include "support/https_server.h"
#include "support/raw_server.h"
#include "support/sanitized.h"
#include "support/scoped_env.h"
#include "web/fetch_group.h"
#include "web/web_client.h"

namespace zembrat::platform {
void PrintTo(TransferFailure failure, std::ostream* os) {
    *os << '"' << TransferFailureName(failure) << '"';
}
}  // namespace zembrat::platform

namespace zembrat::web {
namespace {

using platform::TransferFailure;
using testing::EventCounter;
using testing::HttpServer;
using testing::HttpsServer;
using testing::RawConnection;
using testing::RawServer;
using testing::Reply;
using testing::ScopedEnv;
using testing::SecondsSince;
using testing::ServerCertificate;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint64_t kMiB = 1024 * 1024;

// A raw server that answers every request with bytes, then resets the connection or closes it.
RawServer Answering(std::string bytes, bool reset) {
    return RawServer([bytes, reset](RawConnection& c) {
        c.ReadRequestHead();
        c.Send(bytes);
        if (reset) c.Reset();
    });
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

TEST(FetchFailure, EachFailureTellsWhyAloneAndInAGroup) {
    const ScopedEnv bundle("SSL_CERT_FILE", HttpsServer::CaFile().c_str());
    const ScopedEnv curlBundle("CURL_CA_BUNDLE", HttpsServer::CaFile().c_str());
    HttpServer plain;
    plain.Set("/ok", Reply::Ok("fine", "image/png"));
    plain.Set("/gone", Reply::Status(404, "no such image"));
    plain.Set("/never", Reply::NeverAnswer());
    plain.Set("/ftp", Reply::Redirect("ftp://127.0.0.1/x.png"));
    plain.Set("/short", Reply::CloseMidBody(std::string(1000, 'x')));
    Reply huge = Reply::Ok("0123456789");
    huge.length = platform::HttpRequest::kDefaultBodyLimit + 1;
    plain.Set("/huge", huge);
    HttpsServer trusted, unknown(ServerCertificate::UnknownIssuer),
        expired(ServerCertificate::Expired), mismatch(ServerCertificate::NameMismatch);
    trusted.Redirect("/down", plain.Url("/ok"));
    trusted.Set("/s.png", "SECURE", "image/png");
    trusted.Redirect("/rel", "/s.png");  // relative: stays on https
    plain.Set("/up", Reply::Redirect(trusted.Url("/down")));
    for (HttpsServer* s : {&unknown, &expired, &mismatch}) s->Set("/a.png", "PNG", "image/png");
    const RawServer reset = Answering("", true);
    const RawServer resetMidBody =
        Answering("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + std::string(40, 'x'), true);
    const RawServer badChunk = Answering(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nxyz\r\n0\r\n\r\n", false);
    const RawServer notHttp = Answering("this is no answer\r\n\r\n", false);
    const int closedPort = RawServer([](RawConnection&) {}).port();

    struct Case {
        std::string address;
        TransferFailure failure;
        long timeout = 5;
    };
    const std::vector<Case> cases{
        {plain.Url("/ok"), TransferFailure::None},
        {plain.Url("/gone"), TransferFailure::None},  // an answer, whatever its status
        {"http://127.0.0.1:" + std::to_string(closedPort) + "/a.png", TransferFailure::Refused},
        {reset.Url("/a.png"), TransferFailure::Reset},
        {resetMidBody.Url("/a.png"), TransferFailure::Reset},
        {unknown.Url("/a.png"), TransferFailure::Certificate},
        {expired.Url("/a.png"), TransferFailure::Certificate},
        {mismatch.Url("/a.png"), TransferFailure::HostName},
        {trusted.Url("/down"), TransferFailure::RedirectRefused},
        {plain.Url("/up"), TransferFailure::RedirectRefused},  // http, https, then http
        {trusted.Url("/rel"), TransferFailure::None},
        {plain.Url("/ftp"), TransferFailure::RedirectRefused},
        {plain.Url("/huge"), TransferFailure::TooLarge},
        {plain.Url("/never"), TransferFailure::TimedOut, 1},
        {badChunk.Url("/a.png"), TransferFailure::BrokenAnswer},
        {notHttp.Url("/a.png"), TransferFailure::BrokenAnswer},
        {plain.Url("/short"), TransferFailure::BrokenAnswer},
        {plain.Url("/a\n.png"), TransferFailure::NotSent},
    };
    WebClient client;
    client.CreateRequest();
    client.SetOpensHttps(true);
    client.SetRefuseHttpsDowngrade(true);
    FetchGroup group(client, 2);
    for (const Case& c : cases) {
        const RequestArguments arguments{.timeout = c.timeout};
        const text::Bytes body = client.FetchBytes(c.address, arguments);
        EXPECT_EQ(client.LastFailure(), c.failure) << c.address;
        if (c.failure != TransferFailure::None) {
            EXPECT_EQ(body, "") << c.address;
        }

        ASSERT_TRUE(group.Start(1, c.address, arguments));
        const auto results = WaitForAll(group);
        ASSERT_EQ(results.size(), 1u) << c.address;
        EXPECT_EQ(results[0].failure, c.failure) << c.address;
        EXPECT_EQ(results[0].body, body) << c.address;
    }

    // A stop abandons the lone fetch: stopped, not timed out.
    EventCounter events;
    events.StopAtPaint(2);
    client.SetEventPoints(events);
    EXPECT_EQ(client.FetchBytes(plain.Url("/never"), {.timeout = 5}), "");
    EXPECT_EQ(client.LastFailure(), TransferFailure::Stopped);
    // Without a component nothing goes out.
    WebClient none;
    EXPECT_EQ(none.FetchBytes(plain.Url("/ok")), "");
    EXPECT_EQ(none.LastFailure(), TransferFailure::NotSent);
}

// An https download leaves nothing behind on its handle: an http image behind a redirect, next
// on the same component or group, is fetched from where the redirect leads.
TEST(FetchFailure, AnHttpRedirectAfterHttpsDownloadsIsFollowed) {
    const ScopedEnv bundle("SSL_CERT_FILE", HttpsServer::CaFile().c_str());
    const ScopedEnv curlBundle("CURL_CA_BUNDLE", HttpsServer::CaFile().c_str());
    HttpsServer secure;
    secure.Set("/s.png", "SECURE", "image/png");
    HttpServer plain;
    plain.Set("/hop", Reply::Redirect("/img.png", 301));
    plain.Set("/img.png", Reply::Ok("IMG", "image/png"));
    for (const bool refuseDowngrade : {false, true}) {
        WebClient client;
        client.CreateRequest();
        client.SetOpensHttps(true);
        client.SetRefuseHttpsDowngrade(refuseDowngrade);
        EXPECT_EQ(client.FetchBytes(secure.Url("/s.png"), {.timeout = 5}), "SECURE");
        plain.ClearRequests();
        EXPECT_EQ(client.FetchBytes(plain.Url("/hop"), {.timeout = 5}), "IMG");
        EXPECT_EQ(plain.RequestsTo("/img.png").size(), 1u);

        for (const int atOnce : {1, 2, 8}) {
            FetchGroup group(client, atOnce);
            // Two rounds of https downloads fill every handle of the pool.
            for (std::size_t i = 0; i < 2u * atOnce; ++i) {
                ASSERT_TRUE(group.Start(i, secure.Url("/s.png"), {.timeout = 5}));
                if (group.Running() == group.MaxAtOnce()) {
                    for (const auto& r : WaitForAll(group)) EXPECT_EQ(r.body, "SECURE");
                }
            }
            plain.ClearRequests();
            for (int i = 0; i < atOnce; ++i)
                ASSERT_TRUE(group.Start(100, plain.Url("/hop"), {.timeout = 5}));
            const auto results = WaitForAll(group);
            ASSERT_EQ(results.size(), static_cast<std::size_t>(atOnce));
            for (const auto& r : results) {
                EXPECT_EQ(r.body, "IMG") << atOnce << " refuse " << refuseDowngrade;
                EXPECT_EQ(r.failure, TransferFailure::None);
            }
            EXPECT_EQ(plain.RequestsTo("/img.png").size(), static_cast<std::size_t>(atOnce));
        }
    }
}

// The bodies in flight share the group's budget: a body that fits alone is refused as too large
// beside endless ones, while a small one beside them still arrives.
TEST(FetchFailure, BodiesInFlightShareTheGroupsBudget) {
    HttpServer server;
    // Slow enough to be running still when the image beside them comes.
    server.Set("/endless", Reply::Endless(std::string(64 * 1024, 'e'), milliseconds(20)));
    server.Set("/mid.png", Reply::Ok(std::string(3 * kMiB / 2, 'm'), "image/png"));
    server.Set("/small.png", Reply::Ok(std::string(kMiB / 2, 's'), "image/png"));
    WebClient client;
    client.CreateRequest();
    FetchGroup group(client, 4, 4, 4 * kMiB);

    ASSERT_TRUE(group.Start(0, server.Url("/mid.png")));
    auto results = WaitForAll(group);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].body.size(), 3 * kMiB / 2);

    for (const char* beside : {"/mid.png", "/small.png"}) {
        for (std::size_t i = 0; i < 3; ++i) ASSERT_TRUE(group.Start(i, server.Url("/endless")));
        ASSERT_TRUE(group.Start(9, server.Url(beside)));
        results = WaitForAll(group);
        ASSERT_EQ(results.size(), 4u);
        for (const auto& r : results) {
            if (r.tag != 9) {
                EXPECT_EQ(r.failure, TransferFailure::TooLarge);
            } else if (beside == std::string("/mid.png")) {
                EXPECT_EQ(r.failure, TransferFailure::TooLarge);
            } else {
                EXPECT_EQ(r.failure, TransferFailure::None);
                EXPECT_EQ(r.body.size(), kMiB / 2);
            }
        }
    }
}

// The budget is shared, not split evenly: at 64 at once a 40 MiB image (past an even share's
// 5 MiB) arrives whole beside 63 small images still coming in.
TEST(FetchFailure, ALargeImageTakesWhatTheOthersLeaveAtSixtyFourAtOnce) {
    HttpServer server;
    const std::string large(40 * kMiB, 'L');
    server.Set("/large.png", Reply::Ok(large, "image/png"));
    Reply small = Reply::Ok(std::string(16 * 1024, 's'), "image/png");
    small.chunked = true;
    small.chunkSize = 1024;
    small.chunkInterval = milliseconds(50);
    server.Set("/small.png", small);
    WebClient client;
    client.CreateRequest();
    FetchGroup group(client, 64, 64);
    for (std::size_t i = 1; i < 64; ++i)
        ASSERT_TRUE(group.Start(i, server.Url("/small.png?n=" + std::to_string(i))));
    ASSERT_TRUE(group.Start(0, server.Url("/large.png")));
    const auto results = WaitForAll(group);
    ASSERT_EQ(results.size(), 64u);
    for (const auto& r : results) {
        EXPECT_EQ(r.failure, TransferFailure::None) << r.tag;
        EXPECT_EQ(r.body.size(), r.tag == 0 ? large.size() : 16u * 1024) << r.tag;
        EXPECT_TRUE(r.tag != 0 || r.body == large);
    }
}

// Sixteen endless bodies at once, under the group's own budget: the process's peak memory grows
// by less than 512 MB while all of them are refused.
TEST(FetchFailure, SixteenEndlessBodiesStayUnderTheBudget) {
    HttpServer server;
    server.Set("/endless", Reply::Endless(std::string(256 * 1024, 'e'), milliseconds(0)));
    WebClient client;
    client.CreateRequest();
    FetchGroup group(client, 16, 16);
    const std::uint64_t before = testing::ResidentKb();
    ASSERT_TRUE(testing::ResetPeakResident());
    for (std::size_t i = 0; i < 16; ++i)
        ASSERT_TRUE(group.Start(i, server.Url("/endless?n=" + std::to_string(i))));
    const auto results = WaitForAll(group);
    const std::uint64_t peakKb = testing::PeakResidentKb();
    ASSERT_EQ(results.size(), 16u);
    for (const auto& r : results) EXPECT_EQ(r.failure, TransferFailure::TooLarge);
    // A sanitizer holds freed blocks back and shadows every one, so its bound is looser.
    EXPECT_LT((peakKb - before) * 1024, testing::kSanitized ? 1'024'000'000u : 512'000'000u);
    std::printf("peak growth with 16 endless bodies: %llu MiB\n",
                static_cast<unsigned long long>((peakKb - before) / 1024));
}

// Every attempt ends at the wait it states, alone and in a group: a drip that pauses longer
// than the time-out ends at its pause, a steady drip at the whole wait.
TEST(FetchFailure, ADripEndsAtTheStatedWaitAloneAndInAGroup) {
    HttpServer server;
    Reply slow = Reply::Endless("x", milliseconds(10000));
    slow.chunked = true;
    Reply steady = Reply::Endless("x", milliseconds(200));
    steady.chunked = true;
    server.Set("/slow", slow);
    server.Set("/steady", steady);
    WebClient client;
    client.CreateRequest();
    for (const char* path : {"/slow", "/steady"}) {
        const auto start = Clock::now();
        EXPECT_EQ(client.FetchBytes(server.Url(path), {.timeout = 2}), "");
        EXPECT_EQ(client.LastFailure(), TransferFailure::TimedOut);
        EXPECT_GT(SecondsSince(start), 1.9) << path;
        EXPECT_LT(SecondsSince(start), 3.0) << path;
        for (const int atOnce : {2, 8}) {
            FetchGroup group(client, atOnce);
            const auto groupStart = Clock::now();
            for (int i = 0; i < atOnce; ++i)
                ASSERT_TRUE(
                    group.Start(static_cast<std::size_t>(i), server.Url(path), {.timeout = 2}));
            const auto results = WaitForAll(group);
            ASSERT_EQ(results.size(), static_cast<std::size_t>(atOnce));
            for (const auto& r : results) EXPECT_EQ(r.failure, TransferFailure::TimedOut);
            EXPECT_GT(SecondsSince(groupStart), 1.9) << path;
            EXPECT_LT(SecondsSince(groupStart), 3.0) << path;
        }
    }
}

}  // namespace
}  // namespace zembrat::web
