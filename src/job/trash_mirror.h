// Where a prune's moves are repeated beyond the result folder: a publish target holding the same
// images. The prune moves the local files itself (job/prune); a mirror moves the copies it
// published into a trash of its own, brings them back and empties that trash, and never touches
// a file it did not publish with those bytes.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

namespace zembrat::job {

// One image set aside (or brought back).
struct TrashFile {
    std::string path;       // GBK: the stored path beneath the result folder, "/" between pieces
    std::string localFile;  // GBK: where its bytes are now (the image folder or the local trash)
    std::uint64_t size = 0;
    std::uint32_t crc32 = 0;
};

enum class TrashStepEnd {
    Done,     // moved (or brought back, or deleted)
    Skipped,  // left as it is: not published there with these bytes (reason says)
    Refused,  // a file of that name came back meanwhile with other bytes
    Failed,   // the server refused or failed (reason says)
};

struct TrashStep {
    std::string path;  // as in TrashFile
    TrashStepEnd end = TrashStepEnd::Failed;
    std::string reason;  // UTF-8; empty when Done
};

// A trash is named by its stamp, the local time it was made ("20261210-143000").
class TrashMirror {
  public:
    virtual ~TrashMirror() = default;
    // The target as messages name it (UTF-8, no secret in it).
    virtual std::string Name() const = 0;
    // Moves each file's published copy into the target's trash stamp: one step per file.
    virtual std::vector<TrashStep> SetAside(const std::string& stamp,
                                            const std::vector<TrashFile>& files,
                                            std::stop_token stop) = 0;
    // Brings the files of the target's trash stamp back to where they were published.
    virtual std::vector<TrashStep> Restore(const std::string& stamp,
                                           const std::vector<TrashFile>& files,
                                           std::stop_token stop) = 0;
    // The stamps of the trashes the target holds, oldest first.
    virtual std::vector<std::string> Stamps(std::string& error) = 0;
    // Deletes the target's trash stamp whole: one step per file deleted or failed.
    virtual std::vector<TrashStep> Empty(const std::string& stamp, std::stop_token stop) = 0;
};

}  // namespace zembrat::job
