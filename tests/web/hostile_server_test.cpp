// FetchBytes against servers that misbehave: each case must end in empty bytes or the answer as
// it came, soon, with memory bounded, and leave the client fit for the next address. Every call
// carries a small timeout argument (or meets a server that ends by itself), so none of them can
// lean on the 120 s wait of a plain FetchBytes(address).
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/http_request.h"
#include "support/event_counter.h"
#include "support/http_server.h"
#include "support/raw_server.h"
#include "support/sanitized.h"
#include "support/temp_dir.h"
#include "text/codec.h"
#include "web/web_client.h"

namespace zembrat::web {
namespace {

using namespace text::literals;
using platform::HttpRequest;
using testing::EventCounter;
using testing::HttpServer;
using testing::RawConnection;
using testing::RawServer;
using testing::Reply;
using testing::SecondsSince;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kKiBPerMiB = 1024;

using testing::kSanitized;

// How many times the body limit a refused body may take at its peak: its buffer, plus a copy
// while the buffer moves. A sanitizer holds freed blocks back and shadows all of them, so it
// gets room for two more; a body without the limit would take many times that.
constexpr std::uint64_t kPeakPerCap = kSanitized ? 4 : 2;

// The path of a request head's first line ("GET /x HTTP/1.1" gives "/x").
std::string PathOf(const std::string& head) {
    const auto first = head.find(' ');
    if (first == std::string::npos) return {};
    const auto second = head.find(' ', first + 1);
    return head.substr(first + 1, second == std::string::npos ? second : second - first - 1);
}

class HostileServer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(good_.started());
        good_.Set("/ok", Reply::Ok("fine", "image/png"));
        client_.CreateRequest();
        start_ = Clock::now();
    }

    void TearDown() override {
        // A hostile server costs at most a few small timeouts, never the default wait.
        EXPECT_LT(SecondsSince(start_), 20.0);
    }

    // The client is fit for the next address after whatever came before.
    void ExpectClientGoesOn() {
        EXPECT_EQ(client_.FetchBytes(good_.Url("/ok"), {.timeout = 5}), "fine");
        EXPECT_EQ(client_.Status(), 200);
    }

    HttpServer good_;
    WebClient client_;
    Clock::time_point start_;
};

TEST_F(HostileServer, ABodyThatNeverEndsStopsAtTheCapWithMemoryBounded) {
    // No length, no chunks: the body would only end when the connection does.
    std::atomic<std::uint64_t> sent{0};
    RawServer server([&sent](RawConnection& c) {
        c.ReadRequestHead();
        if (!c.Send("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\n\r\n"))
            return;
        const std::string piece(256 * 1024, '\xD8');
        while (c.Send(piece)) sent = c.sent();
        sent = c.sent();
    });
    ASSERT_TRUE(server.started());
    const std::uint64_t residentBefore = testing::ResidentKb();
    const bool canResetPeak = testing::ResetPeakResident();

    EXPECT_EQ(client_.FetchBytes(server.Url("/endless.jpg"), {.timeout = 15}), "");
    EXPECT_EQ(client_.Status(), 0);
    // The cap ended it: the client read up to it and then let go.
    EXPECT_GE(sent.load(), HttpRequest::kDefaultBodyLimit);
    EXPECT_LT(sent.load(), HttpRequest::kDefaultBodyLimit + 64 * kMiB);

    const std::uint64_t capKb = HttpRequest::kDefaultBodyLimit / 1024;
    if (canResetPeak) {
        const std::uint64_t peakGrowth = testing::PeakResidentKb() - residentBefore;
        EXPECT_LT(peakGrowth, kPeakPerCap * capKb + 64 * kKiBPerMiB);
    }
    if (!kSanitized) {
        // What the refused body took is given back, not kept by the component for its life.
        EXPECT_LT(testing::ResidentKb(), residentBefore + 64 * kKiBPerMiB);
    }
    ExpectClientGoesOn();
}

TEST_F(HostileServer, AServerThatAcceptsAndNeverAnswersCostsOnlyTheTimeoutArgument) {
    RawServer silent([](RawConnection& c) { c.Hold(); });  // reads nothing, says nothing
    RawServer listening([](RawConnection& c) {
        c.ReadRequestHead();
        c.Hold();
    });
    ASSERT_TRUE(silent.started() && listening.started());
    // The blocking call is held by the receive limit alone, the other one by its wait too.
    for (const auto& [server, blocking] :
         {std::pair{&silent, true}, std::pair{&listening, false}}) {
        const auto start = Clock::now();
        EXPECT_EQ(client_.FetchBytes(server->Url("/a.png"), {.timeout = 1, .blocking = blocking}),
                  "");
        EXPECT_EQ(client_.Status(), 0);
        const double seconds = SecondsSince(start);
        EXPECT_GE(seconds, 0.9) << "blocking " << blocking;
        EXPECT_LT(seconds, 4.0) << "blocking " << blocking;
    }
    EXPECT_EQ(listening.RequestHeads().size(), 1u);
    ExpectClientGoesOn();
}

TEST_F(HostileServer, AResetInTheMiddleOfABodyGivesNothing) {
    RawServer server([](RawConnection& c) {
        const std::string path = PathOf(c.ReadRequestHead());
        if (path == "/sized.png") {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(50000, 'p'));
        } else if (path == "/chunked.png") {
            c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000\r\n" +
                   std::string(0x1000, 'c') + "\r\n1000\r\n" + std::string(0x800, 'c'));
        } else {
            c.Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n");  // headers, then the reset
        }
        c.Pause(milliseconds(50));
        c.Reset();
    });
    ASSERT_TRUE(server.started());
    for (const char* path : {"/sized.png", "/chunked.png", "/headers-only.png"}) {
        EXPECT_EQ(client_.FetchBytes(server.Url(path), {.timeout = 3}), "") << path;
        EXPECT_EQ(client_.Status(), 0) << path;
        EXPECT_EQ(client_.GetAllResponseHeaders(), "") << path;
    }
    EXPECT_EQ(server.RequestHeads().size(), 3u);
    ExpectClientGoesOn();
}

TEST_F(HostileServer, AnswersThatAreNotHttpGiveNothing) {
    RawServer server([](RawConnection& c) {
        const std::string path = PathOf(c.ReadRequestHead());
        const std::string body = "\r\nContent-Length: 4\r\n\r\nbody";
        if (path == "/words") c.Send("garbage in, garbage out\r\n\r\nbody");
        if (path == "/binary") c.Send(std::string("\x00\xFF\xFE\x01\r\n\r\n", 8) + "body");
        if (path == "/letters") c.Send("HTTP/1.1 abc OK" + body);
        if (path == "/huge-code") c.Send("HTTP/1.1 99999999999999999999 OK" + body);
        if (path == "/bare") c.Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n");  // no blank line
        if (path == "/negative") c.Send("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nbody");
        if (path == "/not-a-number") c.Send("HTTP/1.1 200 OK\r\nContent-Length: zz\r\n\r\nbody");
        if (path == "/bad-chunk")
            c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nZZZ\r\nbody\r\n0\r\n\r\n");
        if (path == "/silence") return;  // closed without a byte
    });
    ASSERT_TRUE(server.started());
    for (const char* path : {"/words", "/binary", "/letters", "/huge-code", "/bare", "/negative",
                             "/not-a-number", "/bad-chunk", "/silence"}) {
        EXPECT_EQ(client_.FetchBytes(server.Url(path), {.timeout = 3}), "") << path;
        EXPECT_EQ(client_.Status(), 0) << path;
        EXPECT_EQ(client_.StatusText(), "") << path;
    }
    ExpectClientGoesOn();
}

TEST_F(HostileServer, AMegabyteOfHeadersIsRefusedWithoutKeepingIt) {
    std::atomic<std::uint64_t> endlessSent{0}, interimSent{0};
    RawServer server([&endlessSent, &interimSent](RawConnection& c) {
        const std::string path = PathOf(c.ReadRequestHead());
        if (path == "/interim") {
            // One interim answer after another, each a fresh start for the headers.
            const std::string interim =
                "HTTP/1.1 100 Continue\r\nX-Padding: " + std::string(1000, 'i') + "\r\n\r\n";
            while (c.Send(interim)) interimSent = c.sent();
            return;
        }
        if (!c.Send("HTTP/1.1 200 OK\r\n")) return;
        const std::string line = "X-Padding: " + std::string(1000, 'h') + "\r\n";
        if (path == "/many") {
            std::string block;
            for (int i = 0; i < 1024; ++i) block += line;
            c.Send(block + "Content-Length: 4\r\n\r\nbody");
        } else if (path == "/one") {
            c.Send("X-Long: " + std::string(kMiB, 'l') + "\r\nContent-Length: 4\r\n\r\nbody");
        } else if (path == "/endless") {
            while (c.Send(line)) endlessSent = c.sent();

        } else {
            // 100 KiB of headers: large, but within what a real server may send.
            std::string block;
            for (int i = 0; i < 100; ++i) block += line;
            c.Send(block + "Content-Length: 4\r\n\r\nbody");
        }
    });
    ASSERT_TRUE(server.started());
    const std::uint64_t residentBefore = testing::ResidentKb();
    const bool canResetPeak = testing::ResetPeakResident();

    for (const char* path : {"/many", "/one", "/endless", "/interim"}) {
        EXPECT_EQ(client_.FetchBytes(server.Url(path), {.timeout = 3}), "") << path;
        EXPECT_EQ(client_.Status(), 0) << path;
        EXPECT_EQ(client_.GetAllResponseHeaders(), "") << path;
    }
    // Refused after some hundreds of kilobytes, not read on until the server gave up.
    EXPECT_LT(endlessSent.load(), 16 * kMiB);
    EXPECT_LT(interimSent.load(), 16 * kMiB);
    if (canResetPeak) {
        EXPECT_LT(testing::PeakResidentKb() - residentBefore, 64 * kKiBPerMiB);
    }

    EXPECT_EQ(client_.FetchBytes(server.Url("/large"), {.timeout = 3}), "body");
    EXPECT_EQ(client_.Status(), 200);
    EXPECT_GT(client_.GetAllResponseHeaders().size(), 100u * 1000);
    EXPECT_EQ(client_.GetResponseHeader("X-Padding"), std::string(1000, 'h'));
    ExpectClientGoesOn();
}

TEST_F(HostileServer, RedirectLoopsEndAfterTenHops) {
    HttpServer server;
    server.Set("/loop.png", Reply::Redirect("/loop.png"));
    server.Set("/ping.png", Reply::Redirect("/pong.png", 301));
    server.Set("/pong.png", Reply::Redirect("/ping.png", 307));
    EXPECT_EQ(client_.FetchBytes(server.Url("/loop.png"), {.timeout = 3}), "");
    EXPECT_EQ(client_.Status(), 0);
    EXPECT_EQ(server.RequestsTo("/loop.png").size(), 11u);  // the request and ten hops
    EXPECT_EQ(client_.FetchBytes(server.Url("/ping.png"), {.timeout = 3}), "");
    EXPECT_EQ(server.RequestsTo("/ping.png").size() + server.RequestsTo("/pong.png").size(), 11u);
    // The probe reads the first hop without following it.
    EXPECT_EQ(client_.ProbeRedirect(server.Url("/ping.png")), "/pong.png");
    ExpectClientGoesOn();
}

TEST_F(HostileServer, RedirectsToFileOrFtpAreNotFollowed) {
    testing::TempDir dir;
    const std::string secret = dir.Write("secret.txt", "local secret");
    RawServer ftp([](RawConnection& c) { c.Send("220 ready\r\n"); });
    ASSERT_TRUE(ftp.started());
    HttpServer server;
    const std::string fileUrl = "file://" + text::Utf8FromGbk(secret);
    const std::string ftpUrl = "ftp://127.0.0.1:" + std::to_string(ftp.port()) + "/x.png";
    server.Set("/to-file.png", Reply::Redirect(fileUrl));
    server.Set("/to-FILE.png", Reply::Redirect("FILE://" + text::Utf8FromGbk(secret)));
    server.Set("/to-ftp.png", Reply::Redirect(ftpUrl, 301));
    server.Set("/to-http.png", Reply::Redirect(good_.Url("/ok")));

    for (const char* path : {"/to-file.png", "/to-FILE.png", "/to-ftp.png"}) {
        EXPECT_EQ(client_.FetchBytes(server.Url(path), {.timeout = 3}), "") << path;
        EXPECT_EQ(client_.Status(), 0) << path;
    }
    EXPECT_EQ(ftp.ConnectionCount(), 0);  // never contacted
    EXPECT_EQ(client_.ProbeRedirect(server.Url("/to-file.png")), fileUrl);
    // A redirect to another http address is followed as usual.
    EXPECT_EQ(client_.FetchBytes(server.Url("/to-http.png"), {.timeout = 3}), "fine");
    EXPECT_EQ(client_.Status(), 200);
}

TEST_F(HostileServer, ErrorPagesComeBackAsTheyCameWithTheirStatus) {
    HttpServer server;
    const std::string page = "<html><body>Image not found</body></html>";
    server.Set("/img.png", Reply::Ok(page, "text/html"));
    server.Set("/gone.png", Reply::Status(404, page));
    server.Set("/broken.png", Reply::Status(500, "Internal error"));
    server.Set("/empty.png", Reply::Status(404));

    EXPECT_EQ(client_.FetchBytes(server.Url("/img.png"), {.timeout = 3}), page);
    EXPECT_EQ(client_.Status(), 200);
    EXPECT_EQ(client_.GetResponseHeader("Content-Type"), "text/html");

    EXPECT_EQ(client_.FetchBytes(server.Url("/gone.png"), {.timeout = 3}), page);
    EXPECT_EQ(client_.Status(), 404);
    EXPECT_EQ(client_.StatusText(), "Not Found");

    EXPECT_EQ(client_.FetchBytes(server.Url("/broken.png"), {.timeout = 3}), "Internal error");
    EXPECT_EQ(client_.Status(), 500);

    EXPECT_EQ(client_.FetchBytes(server.Url("/empty.png"), {.timeout = 3}), "");
    EXPECT_EQ(client_.Status(), 404);  // empty, but an answer: the caller can tell
    // A path the server does not know at all.
    EXPECT_EQ(client_.FetchBytes(server.Url("/unknown.png"), {.timeout = 3}), "");
    EXPECT_EQ(client_.Status(), 404);
}

// A gzip stream of size zero bytes.
std::string GzippedZeros(std::uint64_t size) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string zeros(kMiB, '\0'), out, buffer(64 * 1024, '\0');
    std::uint64_t left = size;
    int flush = Z_NO_FLUSH;
    while (flush != Z_FINISH) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, zeros.size()));
        left -= n;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = reinterpret_cast<Bytef*>(zeros.data());
        z.avail_in = static_cast<uInt>(n);
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer.data());
            z.avail_out = static_cast<uInt>(buffer.size());
            deflate(&z, flush);
            out.append(buffer.data(), buffer.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

std::string Chunked(std::string_view body) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", body.size());
    return size + std::string(body) + "\r\n0\r\n\r\n";
}

TEST_F(HostileServer, CompressedAnswersAreUnpackedOnlyAsFarAsTheCap) {
    const std::string hello = GzippedZeros(5);
    // Unpacked, this is more than the body limit, from a few hundred kilobytes on the wire.
    const std::string bomb = GzippedZeros(HttpRequest::kDefaultBodyLimit + kMiB);
    ASSERT_LT(bomb.size(), 2 * kMiB);
    RawServer server([&](RawConnection& c) {
        const std::string path = PathOf(c.ReadRequestHead());
        if (path == "/content.png") {
            c.Send("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: " +
                   std::to_string(hello.size()) + "\r\n\r\n" + hello);
        } else {
            c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n" +
                   Chunked(path == "/bomb.png" ? bomb : hello));
        }
    });
    ASSERT_TRUE(server.started());

    // Nothing asked for a compressed body, so one that comes all the same is handed over as
    // it came.
    EXPECT_EQ(client_.FetchBytes(server.Url("/content.png"), {.timeout = 3}), hello);
    EXPECT_EQ(client_.Status(), 200);
    ASSERT_FALSE(server.RequestHeads().empty());
    EXPECT_EQ(server.RequestHeads().at(0).find("Accept-Encoding"), std::string::npos);

    // A transfer coding belongs to the connection and is undone, but the body limit counts
    // what it unpacks to.
    EXPECT_EQ(client_.FetchBytes(server.Url("/transfer.png"), {.timeout = 3}),
              std::string(5, '\0'));
    const std::uint64_t residentBefore = testing::ResidentKb();
    const bool canResetPeak = testing::ResetPeakResident();
    EXPECT_EQ(client_.FetchBytes(server.Url("/bomb.png"), {.timeout = 10}), "");
    EXPECT_EQ(client_.Status(), 0);
    if (canResetPeak) {
        const std::uint64_t capKb = HttpRequest::kDefaultBodyLimit / 1024;
        EXPECT_LT(testing::PeakResidentKb() - residentBefore,
                  kPeakPerCap * capKb + 64 * kKiBPerMiB);
    }
    ExpectClientGoesOn();
}

TEST_F(HostileServer, AddressesWithLineBreaksAreNeverSentSpacesAreTrimmedOrEncoded) {
    HttpServer server;
    server.Set("/a.png", Reply::Ok("A", "image/png"));
    server.Set("/a b.png", Reply::Ok("spaced", "image/png"));
    const std::string url = server.Url("/a.png");

    for (const std::string& bad :
         {url + "\r\nX-Injected: 1", url + "\r\n", url + "\n", "\r\n" + url, url + "\t",
          server.Url("/a.png HTTP/1.1\r\nHost: elsewhere\r\n\r\nGET /a.png")}) {
        EXPECT_EQ(client_.FetchBytes(bad, {.timeout = 1}), "");
        EXPECT_EQ(client_.Status(), 0);
    }
    EXPECT_EQ(client_.FetchBytes(url, {.timeout = 1, .contentType = "image/png\r\nX: 1"}), "");
    EXPECT_EQ(client_.FetchBytes(url, {.timeout = 1, .referer = url + "\n"}), "");
    EXPECT_EQ(client_.FetchBytes(url, {.timeout = 1, .cookies = "a=1\rb=2"}), "");
    EXPECT_EQ(client_.FetchBytes(url, {.timeout = 1, .userAgent = "UA\nX: 1"}), "");
    EXPECT_EQ(server.RequestCount(), 0u);  // none went out

    // Spaces (plain or full width) around the address are dropped; inside it they are sent
    // percent-encoded.
    EXPECT_EQ(client_.FetchBytes("  " + url + "  ", {.timeout = 3}), "A");
    EXPECT_EQ(client_.FetchBytes("\xA1\xA1" + url + "\xA1\xA1", {.timeout = 3}), "A");
    EXPECT_EQ(client_.FetchBytes(server.Url("/a b.png"), {.timeout = 3}), "spaced");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].target, "/a.png");
    EXPECT_EQ(requests[1].target, "/a.png");
    EXPECT_EQ(requests[2].target, "/a%20b.png");
    EXPECT_EQ(requests[0].Header("Referer"), url);  // the trimmed address
}

TEST_F(HostileServer, ASlowDripWithinTheTimeoutArrivesWholeOneBeyondItIsCutOff) {
    HttpServer server;
    Reply drip = Reply::Ok("0123456789abcdefghijklmnopqrstuv", "image/gif");
    drip.chunked = true;
    drip.chunkSize = 4;
    drip.chunkInterval = milliseconds(50);  // 8 pieces over about 0.4 s
    server.Set("/drip.gif", drip);
    Reply trickle = Reply::Ok(std::string(400, 't'), "image/gif");
    trickle.chunked = true;
    trickle.chunkSize = 4;
    trickle.chunkInterval = milliseconds(50);  // 100 pieces over about 5 s
    server.Set("/trickle.gif", trickle);

    EXPECT_EQ(client_.FetchBytes(server.Url("/drip.gif"), {.timeout = 3}),
              "0123456789abcdefghijklmnopqrstuv");
    EXPECT_EQ(client_.Status(), 200);

    // Every pause is short, but the whole answer takes longer than the wait allows.
    const auto start = Clock::now();
    EXPECT_EQ(client_.FetchBytes(server.Url("/trickle.gif"), {.timeout = 1}), "");
    EXPECT_EQ(client_.Status(), 0);
    EXPECT_LT(SecondsSince(start), 3.0);
    ExpectClientGoesOn();
}

TEST_F(HostileServer, AServerThatClosesRightAfterAcceptingGivesNothing) {
    RawServer closing([](RawConnection&) {});
    RawServer resetting([](RawConnection& c) { c.Reset(); });
    ASSERT_TRUE(closing.started() && resetting.started());
    for (const RawServer* server : {&closing, &resetting}) {
        for (const bool blocking : {false, true}) {
            EXPECT_EQ(
                client_.FetchBytes(server->Url("/a.png"), {.timeout = 3, .blocking = blocking}),
                "");
            EXPECT_EQ(client_.Status(), 0);
        }
    }
    ExpectClientGoesOn();
}

}  // namespace
}  // namespace zembrat::web
