// Publishing: a target is where the user's own site takes files (SFTP, FTP/FTPS, WebDAV or an
// S3-compatible store); a transport puts files there over one reused connection. The publish
// runner (several transports at once, the manifest, conflicts) sits above this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace zembrat::publish {

enum class Protocol {
    Sftp,         // sftp://user@host:port/path/
    Ftp,          // ftp://host/path/
    FtpExplicit,  // ftpes://host/path/ (AUTH TLS on the plain port)
    FtpImplicit,  // ftps://host/path/ (TLS from the first byte, port 990 by default)
    Dav,          // dav://host/path/ (WebDAV over http)
    Davs,         // davs://host/path/ (WebDAV over https)
    S3,           // s3://bucket/prefix/?endpoint=URL&region=R&style=path|virtual|&provider=...
};

// One target, as parsed from its URL or read from its settings section. Every text is UTF-8.
struct Target {
    std::string name;  // its settings name, or the URL it was given as
    Protocol protocol = Protocol::Sftp;
    std::string host;
    int port = 0;      // 0: the protocol's usual port
    std::string user;  // may be empty (then from ~/.netrc, or the login name for SFTP)
    std::string path;  // the base path on the server (S3: the key prefix), "/"-ended or empty
    // SFTP: a pinned host key, "SHA256:" and the base64 digest as ssh-keygen -l prints it.
    std::string hostKeySha256;
    // S3.
    std::string bucket;
    std::string endpoint;  // scheme, host and port: "https://s3.eu-west-1.amazonaws.com"
    std::string region;
    bool pathStyle = true;  // false: virtual-hosted (bucket.endpoint-host)
    std::string profile;    // ~/.aws/credentials profile; empty: "default"
    std::string provider;   // aws, r2, minio, oss, cos, qiniu or empty
    // TLS: a CA file to trust besides the system's (tests, self-signed servers); empty: none.
    std::string caFile;
    // The public address the published files are seen under (custom domain, CDN); empty: none.
    std::string publicAddress;
};

// The target a URL gives, or nullopt with error set (UTF-8, naming what is wrong).
std::optional<Target> ParseTargetUrl(std::string_view url, std::string& error);

// A file on the server, as a look before an upload finds it.
struct RemoteFile {
    bool exists = false;
    std::optional<std::uint64_t> size;  // when the server tells it
};

enum class UploadStatus {
    Uploaded,  // the file is there now, whole, under its final name
    Failed,    // nothing was put under the final name (the message says why)
    Stopped,   // the stop token asked to stop: abandoned, nothing under the final name
};

struct UploadResult {
    UploadStatus status = UploadStatus::Failed;
    std::uint64_t bytes = 0;  // sent
    std::string message;      // UTF-8, names the target on failure
};

// How a transport finds the user's secrets: never from Zembrat.ini.
struct Credentials {
    std::string home;               // for ~/.ssh, ~/.netrc, ~/.aws; empty: $HOME
    std::string password;           // from the desktop's keyring, when the window has one
    bool acceptNewHostKey = false;  // SFTP: an unknown host key is added to known_hosts
};

// One connection to a target. Calls are blocking; one transport is used by one thread at a time.
// Folders on the way to a remote path are made as needed.
class Transport {
  public:
    virtual ~Transport() = default;
    // Logs in (and checks the host key); false with a message naming the target otherwise.
    virtual bool Connect(std::string& message) = 0;
    // After a refused Connect: whether only the host's key being unknown refused it, so that
    // trusting the key (Credentials::acceptNewHostKey) could log in.
    virtual bool HostKeyUnknown() const { return false; }
    // What is at remotePath (relative to the target's base path, "/" between pieces).
    virtual std::optional<RemoteFile> Look(const std::string& remotePath, std::string& message) = 0;
    // The bytes at remotePath, to tell a conflict from the same file; nullopt when unreadable.
    virtual std::optional<std::string> Fetch(const std::string& remotePath,
                                             std::string& message) = 0;
    // Puts the local file's bytes under remotePath: under a temporary name and renamed where the
    // protocol allows it, so that a stop or a failure never leaves a part under the final name.
    virtual UploadResult Upload(const std::string& localFile, const std::string& remotePath,
                                std::stop_token stop) = 0;
};

std::unique_ptr<Transport> MakeTransport(const Target& target, const Credentials& credentials);

}  // namespace zembrat::publish
