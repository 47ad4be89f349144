// Setting aside the stored images no article uses: the image folder's files that the run record's
// articles and the article folder's articles leave unused are moved into a trash folder of the
// result folder (".zembrat-trash/<stamp>/", the same layout below it), can be brought back from
// there, and old trashes are emptied. A mirror, when given, repeats each of these on a publish
// target with the same files.
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "job/run.h"
#include "job/trash_mirror.h"

namespace zembrat::job {

// The bounds of one prune without --force: at most this many files, and at most half of the
// image folder's images.
inline constexpr std::size_t kMaxPrunedFiles = 256;
// How old (in days) a trash is before --empty-trash deletes it when no age is given.
inline constexpr int kTrashDaysKept = 30;
inline constexpr int kMaxTrashDays = 36500;

// The trash folder's name in the result folder.
inline constexpr std::string_view kTrashFolder = ".zembrat-trash";

// A trash's stamp: the local time, "20261210-143000".
std::string TrashStamp(std::time_t when);
// When a stamp was made; nothing for a name that is no stamp.
std::optional<std::time_t> StampTime(std::string_view stamp);

enum class TrashAction { Prune, Restore, Empty };

// What a prune, a restore or an emptying is asked.
struct TrashRequest {
    TrashAction action = TrashAction::Prune;
    RunInputs inputs;           // the settings and options a run over the same folder is given
    bool dryRun = false;        // Prune: list, move nothing
    bool force = false;         // Prune: past the bounds
    std::string stamp;          // Restore: the trash to bring back; empty: the last one
    int days = kTrashDaysKept;  // Empty: trashes older than this many days
    TrashMirror* mirror = nullptr;
    std::time_t now = 0;  // 0: the clock's time
    // Called before each local file is taken (a front end's events, turning an interrupt into
    // the stop); may be empty.
    std::function<void()> pump;
};

enum class TrashEnd {
    Done,
    StartRefused,   // the run's own start checks refused (RunEndMessage words it)
    InUse,          // a run holds the result folder
    RecordMissing,  // no run record in the result folder
    RecordDamaged,  // the record cannot be read (detail: why, UTF-8)
    RecordStale,    // an article changed after the last run (detail: which, GBK)
    NotReadWhole,   // an article's reading ran into a limit of the readers (detail: which, GBK)
    OverBound,      // more files than the bounds allow without force
    NoTrash,        // no trash to restore (detail: the stamp asked for, when one was)
    Failed,         // the trash folder could not be made
};

enum class TrashFileEnd {
    Listed,    // a dry run: would be moved
    Moved,     // set aside into the trash
    Restored,  // brought back from the trash (or its bytes were back already)
    Deleted,   // removed with its trash
    Refused,   // a file of that name came back meanwhile with other bytes: left in the trash
    Failed,    // could not be moved or removed (reason says)
};

struct TrashEntry {
    TrashFile file;     // file.localFile: where its bytes are now
    std::string stamp;  // the trash it went into, came from or was deleted with
    TrashFileEnd end = TrashFileEnd::Failed;
    std::string reason;  // UTF-8; empty unless Refused or Failed
};

struct TrashOutcome {
    TrashEnd end = TrashEnd::Done;
    RunEnd runEnd = RunEnd::Finished;  // StartRefused: which check
    std::string detail;
    std::string resultFolder;  // GBK, ends with a separator
    std::string trashFolder;   // GBK: the result folder's trash folder, ends with a separator
    std::size_t images = 0;    // Prune: the image folder's images (stored by a run)
    std::size_t used = 0;      // Prune: of them, used by an article
    std::vector<std::string> stamps;  // the trashes made, restored or emptied
    std::vector<TrashEntry> files;
    // Restore and Empty, from the trashes the mirror holds and the local ones: the mirror's
    // steps; its error when it could not list them.
    std::vector<TrashStep> mirrorSteps;
    std::string mirrorError;

    std::size_t Count(TrashFileEnd end) const;
    std::size_t CountMirror(TrashStepEnd end) const;
};

// The local trashes of a result folder, oldest first.
std::vector<std::string> LocalTrashes(const std::string& resultFolder);

// Does what the request asks, with the result folder held as a run holds it. A stop leaves the
// files not yet taken where they are.
TrashOutcome DoTrash(const TrashRequest& request, std::stop_token stop = {});

// Why nothing was done (UTF-8, for the console), from an outcome whose end is not Done.
std::string TrashRefusal(const TrashOutcome& outcome, const TrashRequest& request);

// "moved", "listed", "restored", "deleted", "refused", "failed"; and the mirror's steps' words.
const char* TrashFileEndText(TrashFileEnd end);
const char* TrashStepEndText(TrashStepEnd end);

}  // namespace zembrat::job
