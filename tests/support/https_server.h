// A real HTTPS server on 127.0.0.1 for tests, started in-process on a free port, with a
// certificate authority made in the process (no openssl command, no files from elsewhere).
//
//     testing::HttpsServer server;                       // a certificate the test CA signed
//     server.Set("/a.png", "\x89PNG...", "image/png");
//     setenv("SSL_CERT_FILE", testing::HttpsServer::CaFile().c_str(), 1);
//     ... fetch server.Url("/a.png") ...
//
// The variants serve a certificate a client that trusts only the test CA must refuse.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/http_server.h"

namespace zembrat::testing {

enum class ServerCertificate {
    Trusted,        // signed by the test CA, for IP address 127.0.0.1, valid now
    UnknownIssuer,  // the same, signed by another CA that nobody trusts
    Expired,        // signed by the test CA, valid until yesterday
    NameMismatch,   // signed by the test CA, for the name other.invalid and 127.0.0.2 only
};

class HttpsServer {
  public:
    explicit HttpsServer(ServerCertificate certificate = ServerCertificate::Trusted);
    ~HttpsServer();
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    bool started() const;
    int port() const;
    // "https://127.0.0.1:<port>"
    std::string BaseUrl() const;
    std::string Url(std::string_view path) const;

    // How the path (without the query) is answered from now on; any other path gets 404.
    void Set(std::string path, std::string body,
             std::string contentType = "application/octet-stream", int status = 200);

    // The path answered with a redirect to location (for instance an http:// address).
    void Redirect(std::string path, std::string location, int status = 302);

    // Requests that got through the handshake, in order (headers in name order).
    std::vector<RecordedRequest> Requests() const;

    // The test CA's certificate as PEM, and a file holding it (in a temporary folder that
    // lasts as long as the process), for CURLOPT_CAINFO, SSL_CERT_FILE or CURL_CA_BUNDLE.
    static const std::string& CaPem();
    static const std::string& CaFile();

    // A new certificate for 127.0.0.1 signed by the test CA and its private key, as PEM: for a
    // server of another program (nginx) that the clients trusting CaFile() must accept.
    struct Pem {
        std::string certificate, key;
    };
    static Pem IssueCertificate();

    class Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace zembrat::testing
