// A transport puts files onto a target over one reused connection. The publish runner (several
// transports at once, the manifest, conflicts) sits above this interface.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "publish/target_url.h"

namespace zembrat::publish {

// A file on the server, as a look before an upload finds it.
struct RemoteFile {
    bool exists = false;
    std::optional<std::uint64_t> size;  // when the server tells it
};

// One entry of a remote folder, as a listing shows it.
struct RemoteEntry {
    std::string name;  // UTF-8, one piece of a path
    bool folder = false;
    std::optional<std::uint64_t> size;  // a file's, when the server tells it
    // When it last changed, where the server tells it to the second (on (S)FTP: told for part
    // names only, each asked for on its own).
    std::optional<std::chrono::system_clock::time_point> modified;
};

enum class MoveStatus {
    Moved,    // the file is under its new name now, and no more under its old one
    Taken,    // a file is already under the new name: nothing was moved or replaced
    Missing,  // nothing is under the old name
    Failed,   // the server refused or failed (the message says why)
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
    // What the folder holds (relative to the target's base path, "/"-ended, or empty for the base
    // itself), by name, with each size the listing tells: a few requests for a whole folder where
    // a Look takes one per file. Empty for a folder that is not there; nullopt (message set) when
    // it could not be listed, or when this transport lists nothing: each file is then looked at.
    virtual std::optional<std::map<std::string, RemoteFile>> Listing(const std::string& folder,
                                                                     std::string& message) {
        (void)folder;
        (void)message;
        return std::nullopt;
    }
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

    // Moves the file at from to the name to (both as for Look), never over a file already there
    // (S3: copied, the copy checked, then the original deleted); the folders on the way to it are
    // made as needed.
    virtual MoveStatus Move(const std::string& from, const std::string& to, std::string& message);
    // Deletes the file at remotePath; true when nothing is under that name any more.
    virtual bool Delete(const std::string& remotePath, std::string& message);
    // Deletes the empty folder (relative to the base path, "/"-ended); true when it is gone (on
    // S3, where folders are only key prefixes, always).
    virtual bool DeleteFolder(const std::string& folder, std::string& message);
    // The entries of the folder (relative to the base path, "/"-ended, or empty for the base
    // itself), in no particular order; an empty list when there is no such folder; nullopt when
    // the server would not list it.
    virtual std::optional<std::vector<RemoteEntry>> List(const std::string& folder,
                                                         std::string& message);
};

std::unique_ptr<Transport> MakeTransport(const Target& target, const Credentials& credentials);

// The looks before a move whose protocol would replace a file under the new name (or has no
// move): Taken when a file is under to, Missing when none is under from, Failed when a look
// failed (message says why); nullopt when the move may go.
std::optional<MoveStatus> LookBeforeMove(Transport& transport, const std::string& from,
                                         const std::string& to, std::string& message);

}  // namespace zembrat::publish
