// A transport puts files onto a target over one reused connection. The publish runner (several
// transports at once, the manifest, conflicts) sits above this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>

#include "publish/target_url.h"

namespace zembrat::publish {

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

// How a web server is to serve an uploaded file, where the protocol carries it (S3; WebDAV
// where the server keeps it). Empty texts are not sent.
struct ServedAs {
    std::string contentType;
    std::string cacheControl;
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
    // Then: the unknown key's fingerprint ("SHA256:" and its base64, as ssh-keygen -l prints it).
    virtual std::string UnknownHostKey() const { return {}; }
    // What is at remotePath (relative to the target's base path, "/" between pieces).
    virtual std::optional<RemoteFile> Look(const std::string& remotePath, std::string& message) = 0;
    // The bytes at remotePath, to tell a conflict from the same file; nullopt when unreadable.
    virtual std::optional<std::string> Fetch(const std::string& remotePath,
                                             std::string& message) = 0;
    // Puts the local file's bytes under remotePath: under a temporary name and renamed where the
    // protocol allows it, so that a stop or a failure never leaves a part under the final name.
    // servedAs: how the file is to be served, where the protocol carries it.
    virtual UploadResult Upload(const std::string& localFile, const std::string& remotePath,
                                const ServedAs& servedAs, std::stop_token stop) = 0;
    UploadResult Upload(const std::string& localFile, const std::string& remotePath,
                        std::stop_token stop) {
        return Upload(localFile, remotePath, ServedAs{}, std::move(stop));
    }
};

std::unique_ptr<Transport> MakeTransport(const Target& target, const Credentials& credentials);

}  // namespace zembrat::publish
