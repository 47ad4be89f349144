#include "support/https_server.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

namespace zembrat::testing {
namespace {

struct Fetched {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
    std::string location;
};

// One GET with plain libcurl, trusting only the test CA.
Fetched Fetch(const std::string& url) {
    Fetched f;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, HttpsServer::CaFile().c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char* data, size_t, size_t n, void* out) {
            static_cast<std::string*>(out)->append(data, n);
            return n;
        });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &f.body);
    f.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &f.status);
    char* location = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location)
        f.location = location;
    curl_easy_cleanup(curl);
    return f;
}

TEST(HttpsServerTest, TrustedCertificateServesAndEachBadOneIsRefused) {
    ASSERT_NE(HttpsServer::CaPem().find("-----BEGIN CERTIFICATE-----"), std::string::npos);

    HttpsServer trusted;
    ASSERT_TRUE(trusted.started());
    trusted.Set("/a.png", std::string("\x89PNG\r\n\x1A\n", 8), "image/png");
    const Fetched ok = Fetch(trusted.Url("/a.png?x=1"));
    EXPECT_EQ(ok.code, CURLE_OK) << curl_easy_strerror(ok.code);
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.body, std::string("\x89PNG\r\n\x1A\n", 8));
    EXPECT_EQ(Fetch(trusted.Url("/missing")).status, 404);
    trusted.Redirect("/moved", "http://127.0.0.1:9/a.png");
    const Fetched moved = Fetch(trusted.Url("/moved"));
    EXPECT_EQ(moved.status, 302);
    EXPECT_EQ(moved.location, "http://127.0.0.1:9/a.png");
    const std::vector<RecordedRequest> seen = trusted.Requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_EQ(seen[0].path, "/a.png");
    EXPECT_EQ(seen[0].target, "/a.png?x=1");
    EXPECT_EQ(seen[1].path, "/missing");

    for (const ServerCertificate bad :
         {ServerCertificate::UnknownIssuer, ServerCertificate::Expired,
          ServerCertificate::NameMismatch}) {
        SCOPED_TRACE(static_cast<int>(bad));
        HttpsServer server(bad);
        ASSERT_TRUE(server.started());
        server.Set("/a.png", "image", "image/png");
        const Fetched refused = Fetch(server.Url("/a.png"));
        EXPECT_EQ(refused.code, CURLE_PEER_FAILED_VERIFICATION) << curl_easy_strerror(refused.code);
        EXPECT_TRUE(refused.body.empty());
        EXPECT_TRUE(server.Requests().empty());
    }
}

}  // namespace
}  // namespace zembrat::testing
