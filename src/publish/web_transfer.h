// What the transports that speak HTTP (WebDAV and S3-compatible stores) share: one reused
// libcurl handle per transport, requests with a file as the body, the stop token honoured while
// a body goes out, and the words a user reads when no answer came.
#pragma once

#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zembrat::publish {

// A query string from name/value pairs, sorted by encoded name then value, each encoded (only
// the unreserved characters kept).
std::string CanonicalQuery(std::vector<std::pair<std::string, std::string>> parameters);

// An address split into its parts: "https://host:8443/base" -> https, host, 8443, "/base".
struct WebAddress {
    std::string scheme;  // "http" or "https", lower case
    std::string host;
    int port = 0;  // 0: the scheme's usual port
    std::string path;
    // scheme://host[:port]
    std::string Origin() const;
};
std::optional<WebAddress> SplitAddress(std::string_view address);

// How every request of a session proves who it is.
struct WebLogin {
    enum class Kind { None, Basic, Netrc, AwsSigV4 };
    Kind kind = Kind::None;
    std::string user;      // Basic; AwsSigV4: the access key
    std::string password;  // Basic; AwsSigV4: the secret key
    std::string netrcFile;
    std::string sigV4Provider;  // "aws:amz:REGION:s3"
};

struct WebRequest {
    std::string method = "GET";        // GET, HEAD, PUT, DELETE, MKCOL, MOVE, PROPFIND
    std::string url;                   // already encoded
    std::vector<std::string> headers;  // "Name: value"
    std::string uploadFile;            // PUT: the local file (a native path) sent as the body
    std::stop_token stop;              // a PUT is abandoned when a stop is requested
};

struct WebAnswer {
    long status = 0;  // 0: no answer came (then failure says why)
    std::string body;
    std::optional<std::uint64_t> contentLength;
    std::uint64_t sent = 0;
    bool stopped = false;  // the stop token ended the transfer
    std::string failure;   // why no answer came, in a user's words
};

class WebSession {
  public:
    // caFile: a CA file trusted besides the system's (empty: none).
    WebSession(WebLogin login, std::string caFile);
    ~WebSession();
    WebSession(const WebSession&) = delete;
    WebSession& operator=(const WebSession&) = delete;

    WebAnswer Perform(const WebRequest& request);

  private:
    void* curl_ = nullptr;
    WebLogin login_;
    std::string caFile_;
};

// The folder of the user's secrets (~/.netrc, ~/.aws): home, or the login's
// (platform::HomeFolder) when home is empty.
std::string HomeFolder(const std::string& home);

// "NAME": the common start of every message about a target.
std::string Quoted(std::string_view name);

}  // namespace zembrat::publish
