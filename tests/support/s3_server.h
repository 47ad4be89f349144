// A real S3-compatible server on 127.0.0.1 for tests and benchmarks: s3rver (tests/support/s3,
// installed by tools/setup.sh with npm ci) under node, in a temporary folder, with one bucket
// and one key pair; every request's SigV4 signature is checked, so a wrong secret is refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "support/server_process.h"

namespace zembrat::testing {

class S3Server {
  public:
    explicit S3Server(std::string bucket = "zembrat", std::string accessKey = "ZEMBRATKEY",
                      std::string secretKey = "zembrat-secret-key");
    S3Server(const S3Server&) = delete;
    S3Server& operator=(const S3Server&) = delete;

    bool started() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // "http://127.0.0.1:PORT"
    std::string endpoint() const;
    const std::string& bucket() const { return bucket_; }
    const std::string& accessKey() const { return accessKey_; }
    const std::string& secretKey() const { return secretKey_; }
    // Where the server keeps its objects.
    const std::string& folder() const { return folder_.path(); }
    // The bytes of the object under key (UTF-8, not encoded), read with a request of its own
    // signed with the server's keys; nullopt when there is none.
    std::optional<std::string> Object(std::string_view key) const;
    // A header the server sends with that object (name in any letter case), read the same way;
    // empty when it sends none.
    std::string ObjectHeader(std::string_view key, std::string_view name) const;

  private:
    std::optional<std::string> Get(std::string_view key, std::string* headers) const;

    std::string bucket_, accessKey_, secretKey_;
    ScratchFolder folder_;
    int port_ = 0;
    ServerProcess process_;
    std::string error_;
};

}  // namespace zembrat::testing
