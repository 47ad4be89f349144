// The trash of a publish target: where a prune moves the copies this program published of images
// no article uses any more, and brings them back from. It lives in the target's base folder (on
// S3 under its key prefix), beside the published tree, as the result folder's own trash does:
// ".zembrat-trash/<stamp>/" and below it each file under the path it was published at. Only a
// file the manifest says this program published there, with the bytes the local file holds, is
// ever moved; anything else on the server is left as it is.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "publish/publish_run.h"
#include "publish/transport.h"

namespace zembrat::publish {

// The trash folder in the target's base path.
inline constexpr std::string_view kTrashFolder = ".zembrat-trash/";

// Whether text is a trash's stamp: the local time it was made, "20261210-143000".
bool IsTrashStamp(std::string_view text);

// One file to set aside or bring back.
struct TrashedFile {
    std::string remotePath;  // UTF-8, where it was published (as the manifest keeps it)
    std::string localFile;   // GBK: where its bytes are now on the local disk
};

enum class TrashOutcome {
    Done,     // moved (brought back, deleted)
    Skipped,  // left as it is: not this program's copy with these bytes (reason says)
    Refused,  // a file of that name came back meanwhile with other bytes
    Failed,   // the server refused or failed, or a stop came first (reason says)
};

struct TrashRow {
    std::string remotePath;  // UTF-8: the file's (Empty: below the stamp)
    TrashOutcome outcome = TrashOutcome::Failed;
    std::string reason;  // UTF-8, naming the target; empty when Done
};

class TargetTrash {
  public:
    // transport: logged in to target. manifest: what was published, kept under TargetPlace.
    TargetTrash(Target target, std::unique_ptr<Transport> transport, PublishManifest& manifest);

    const Target& target() const { return target_; }
    // Moves each file's published copy into the trash stamp; the manifest forgets those moved.
    std::vector<TrashRow> SetAside(const std::string& stamp, const std::vector<TrashedFile>& files,
                                   std::stop_token stop);
    // Brings the files of the trash stamp back to where they were published; the manifest keeps
    // them again.
    std::vector<TrashRow> Restore(const std::string& stamp, const std::vector<TrashedFile>& files,
                                  std::stop_token stop);
    // The stamps of the target's trashes, oldest first; nullopt with error when it cannot tell.
    std::optional<std::vector<std::string>> Stamps(std::string& error);
    // Deletes the trash stamp whole: a row per file.
    std::vector<TrashRow> Empty(const std::string& stamp, std::stop_token stop);

  private:
    // What becomes of one file (its remote path, a plain one, and the local file's bytes).
    using OneFile =
        std::function<TrashRow(const std::string& remotePath, const std::string& localBytes)>;
    // A row per file: one's, once the stamp, the stop, the path and the local file allow it.
    std::vector<TrashRow> EachFile(const std::string& stamp, const std::vector<TrashedFile>& files,
                                   std::stop_token stop, const OneFile& one);
    // The rows Done turned Failed: what was done is not in the record.
    void Unnoted(std::vector<TrashRow>& rows, const std::string& what) const;
    // Each file below the folder (relative to the base path, "/"-ended), by its path below it,
    // and the folders below it, deepest first; false when a listing failed.
    bool Walk(const std::string& folder, std::vector<std::string>& files,
              std::vector<std::string>& folders, std::string& message);
    std::string Says(const std::string& what) const;

    Target target_;
    std::string place_;
    std::unique_ptr<Transport> transport_;
    PublishManifest& manifest_;
};

}  // namespace zembrat::publish
