// One publish: the files of a result (the stored images and, if asked, the written articles) put
// onto a target, at most a few at once, each over its own reused connection. Content names make
// it safe: a file already there with the same bytes is left as it is, one with other bytes is a
// conflict and is never overwritten. What was published is kept in a manifest, so that a later
// publish of the same files asks the server nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "publish/transport.h"

namespace zembrat::publish {

// One file to publish.
struct PublishItem {
    // Where its bytes are read: localFile, a native path, as it stands; or, when folder is set,
    // localFile (GBK, "/" between pieces) beneath folder (GBK) with no link followed at any
    // piece, folder's own last name included (platform::OpenFileBeneath).
    std::string localFile;
    std::string remotePath;  // UTF-8, relative to the target's base path, "/" between pieces
    // The articles that point at it (UTF-8), told with a conflict.
    std::vector<std::string> usedBy;
    std::string folder = {};
    // What the run wrote there, checked against the bytes read before any is sent: a file that
    // differs fails with its reason.
    std::optional<std::uint64_t> size = {};
    std::optional<std::uint32_t> crc32 = {};
    std::string sha256 = {};  // lower-case hex; empty: not checked
    // Why it is never read nor sent (UTF-8), e.g. a recorded path that would leave the folder.
    std::string refused = {};
    ServedAs servedAs = {};
};

enum class PublishOutcome {
    Uploaded,      // sent now
    Published,     // the manifest says it was published with these bytes: nothing asked
    AlreadyThere,  // the server has it with the same bytes
    Conflict,      // the server has other bytes under its name: left as they are
    Failed,        // not sent (the message says why)
    Stopped,       // a stop came first, or abandoned its upload
    WouldUpload,   // a dry run: it is not on the server and would be sent
};

struct PublishRow {
    PublishOutcome outcome = PublishOutcome::Stopped;
    std::uint64_t bytes = 0;  // sent
    std::string message;      // UTF-8: why it failed, or the conflict and who is affected
};

// What a manifest keeps of one published file.
struct ManifestEntry {
    std::uint64_t size = 0;
    std::string md5;        // lower-case hex
    std::int64_t time = 0;  // when it was published, seconds since the epoch; 0: not known
};

// Where the runner keeps what it published (the run record's manifest, in the program).
class PublishManifest {
  public:
    virtual ~PublishManifest() = default;
    // place: the target's TargetPlace.
    virtual std::optional<ManifestEntry> Find(const std::string& place,
                                              const std::string& remotePath) = 0;
    // Kept together, once the publish ends (or is stopped).
    virtual bool Put(const std::string& place,
                     const std::vector<std::pair<std::string, ManifestEntry>>& published) = 0;
    // Forgets these files (moved away from the place), together, so that a later publish sends
    // them again. A manifest that cannot forget answers false.
    virtual bool Forget(const std::string& /*place*/,
                        const std::vector<std::string>& /*remotePaths*/) {
        return false;
    }
};

struct PublishSummary;

// Learns what a publish does, on the thread that called Publish.
class PublishObserver {
  public:
    virtual ~PublishObserver() = default;
    // Before anything else, the items of this publish onto target (PublishResult tells it).
    virtual void ItemsListed(const std::vector<PublishItem>& /*items*/, const Target& /*target*/) {}
    virtual void ItemBegins(std::size_t /*index*/) {}
    virtual void ItemSettled(std::size_t /*index*/, const PublishRow& /*row*/) {}
    // No transport could log in (summary tells why), before the files left unsent are settled
    // with that message.
    virtual void LoginRefused(const PublishSummary& /*summary*/) {}
};

struct PublishOptions {
    int atOnce = 4;          // 1..kMaxUploads transports at once
    bool askServer = false;  // look on the server even where the manifest knows the file
    bool dryRun = false;     // look, but send nothing and keep nothing in the manifest
};

struct PublishSummary {
    std::vector<PublishRow> rows;  // one per item, in item order
    bool connected = false;        // at least one transport logged in
    std::string message;           // why none could log in (UTF-8, names the target)
    bool hostKeyUnknown = false;   // none could, only for an SFTP host key not known yet
    std::string hostKey;           // then: its fingerprint
    std::size_t Count(PublishOutcome outcome) const;
};

using TransportFactory = std::function<std::unique_ptr<Transport>()>;

// Publishes items through transports made by makeTransport (one per upload at once); what was
// published is kept in the manifest under place (TargetPlace). pump is called every few
// milliseconds on the calling thread while the uploads run (the window processes its events there);
// the stop token abandons the uploads in flight.
PublishSummary Publish(const std::vector<PublishItem>& items, const std::string& place,
                       const TransportFactory& makeTransport, PublishManifest* manifest,
                       PublishObserver& observer, const PublishOptions& options,
                       std::stop_token stop, const std::function<void()>& pump = {});

const char* PublishOutcomeText(PublishOutcome outcome);  // "uploaded", "published", ...

}  // namespace zembrat::publish
