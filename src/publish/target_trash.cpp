#include "publish/target_trash.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <utility>

#include "platform/files.h"
#include "publish/curl_session.h"
#include "publish/remote_listing.h"
#include "text/digest.h"

namespace zembrat::publish {
namespace {

// How deep a trash's folders go at most, as a bound on its walk (a published path is a few
// pieces deep).
constexpr int kDeepestFolder = 64;

std::string TrashPath(const std::string& stamp, const std::string& remotePath) {
    return std::string(kTrashFolder) + stamp + "/" + remotePath;
}

TrashRow Row(const std::string& remotePath, TrashOutcome outcome, std::string reason = {}) {
    return {remotePath, outcome, std::move(reason)};
}

}  // namespace

bool IsTrashStamp(std::string_view text) {
    if (text.size() != 15 || text[8] != '-') return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i != 8 && !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

TargetTrash::TargetTrash(Target target, std::unique_ptr<Transport> transport,
                         PublishManifest& manifest)
    : target_(std::move(target)),
      place_(TargetPlace(target_)),
      transport_(std::move(transport)),
      manifest_(manifest) {}

std::string TargetTrash::Says(const std::string& what) const {
    return target_.name + ": " + what;
}

std::vector<TrashRow> TargetTrash::EachFile(const std::string& stamp,
                                            const std::vector<TrashedFile>& files,
                                            std::stop_token stop, const OneFile& one) {
    std::vector<TrashRow> rows;
    for (const TrashedFile& file : files) {
        const std::string& remote = file.remotePath;
        text::Bytes mine;
        if (!IsTrashStamp(stamp))
            rows.push_back(Row(remote, TrashOutcome::Failed,
                               Says("\"" + stamp + "\" is no trash's date and time")));
        else if (stop.stop_requested())
            rows.push_back(Row(remote, TrashOutcome::Failed, Says(remote + ": stopped first")));
        else if (!SplitRemotePath(remote))
            rows.push_back(
                Row(remote, TrashOutcome::Skipped, Says("\"" + remote + "\" is no plain path")));
        else if (!platform::ReadWholeFile(file.localFile, mine))
            rows.push_back(Row(remote, TrashOutcome::Skipped,
                               Says(remote + ": the local file cannot be read to compare; left "
                                             "as it is")));
        else
            rows.push_back(one(remote, mine));
    }
    return rows;
}

void TargetTrash::Unnoted(std::vector<TrashRow>& rows, const std::string& what) const {
    for (TrashRow& row : rows) {
        if (row.outcome != TrashOutcome::Done) continue;
        row.outcome = TrashOutcome::Failed;
        row.reason = Says(row.remotePath + ": " + what +
                          ", but the run record could not note it; a publish that asks the "
                          "server (--check-remote) finds where it is");
    }
}

std::vector<TrashRow> TargetTrash::SetAside(const std::string& stamp,
                                            const std::vector<TrashedFile>& files,
                                            std::stop_token stop) {
    std::vector<std::string> forget;
    std::vector<TrashRow> rows = EachFile(
        stamp, files, std::move(stop), [&](const std::string& remote, const text::Bytes& mine) {
            std::string message;
            // This program's copy, with the bytes the local file holds, or nothing.
            const std::optional<ManifestEntry> published = manifest_.Find(place_, remote);
            if (!published)
                return Row(remote, TrashOutcome::Skipped,
                           Says(remote + ": not published there by this program; left as it is"));
            if (mine.size() != published->size || text::Md5Hex(mine) != published->md5)
                return Row(remote, TrashOutcome::Skipped,
                           Says(remote + ": published there with other bytes than the local "
                                         "file's; left as it is"));
            const std::optional<std::string> there = transport_->Fetch(remote, message);
            if (!there) {
                const std::optional<RemoteFile> look = transport_->Look(remote, message);
                if (!look || look->exists) return Row(remote, TrashOutcome::Failed, message);
                // Gone already: nothing to move, and nothing the manifest should still promise.
                forget.push_back(remote);
                return Row(remote, TrashOutcome::Skipped,
                           Says(remote + ": not on the server any more"));
            }
            if (*there != mine)
                return Row(remote, TrashOutcome::Skipped,
                           Says(remote + ": other bytes are there now than this program "
                                         "published; left as they are"));
            switch (transport_->Move(remote, TrashPath(stamp, remote), message)) {
                case MoveStatus::Moved:
                    forget.push_back(remote);
                    return Row(remote, TrashOutcome::Done);
                case MoveStatus::Taken:
                    return Row(remote, TrashOutcome::Failed,
                               Says(remote + ": the trash " + stamp +
                                    " already holds a file of that name; nothing was moved"));
                case MoveStatus::Missing:
                    return Row(remote, TrashOutcome::Failed,
                               Says(remote + ": it went from the server while it was moved"));
                case MoveStatus::Failed:
                    break;
            }
            return Row(remote, TrashOutcome::Failed, message);
        });
    if (!forget.empty() && !manifest_.Forget(place_, forget)) Unnoted(rows, "moved into the trash");
    return rows;
}

std::vector<TrashRow> TargetTrash::Restore(const std::string& stamp,
                                           const std::vector<TrashedFile>& files,
                                           std::stop_token stop) {
    std::vector<std::pair<std::string, ManifestEntry>> back;
    std::vector<TrashRow> rows = EachFile(
        stamp, files, std::move(stop), [&](const std::string& remote, const text::Bytes& mine) {
            const std::string trashed = TrashPath(stamp, remote);
            std::string message;
            const std::optional<RemoteFile> inTrash = transport_->Look(trashed, message);
            if (!inTrash) return Row(remote, TrashOutcome::Failed, message);
            if (!inTrash->exists)
                return Row(remote, TrashOutcome::Skipped,
                           Says(remote + ": not in the target's trash " + stamp));
            const std::optional<std::string> kept = transport_->Fetch(trashed, message);
            if (!kept) return Row(remote, TrashOutcome::Failed, message);
            if (*kept != mine)
                return Row(
                    remote, TrashOutcome::Skipped,
                    Says(remote + ": the trash's copy is not the local file's bytes; left in "
                                  "the trash"));
            MoveStatus status = transport_->Move(trashed, remote, message);
            if (status == MoveStatus::Taken) {
                // The name came back meanwhile: with the same bytes it is as good as brought back.
                const std::optional<std::string> now = transport_->Fetch(remote, message);
                if (!now) return Row(remote, TrashOutcome::Failed, message);
                if (*now != mine)
                    return Row(remote, TrashOutcome::Refused,
                               Says(remote + ": a file of that name came back with other bytes; "
                                             "the trash's copy was left where it is"));
                status =
                    transport_->Delete(trashed, message) ? MoveStatus::Moved : MoveStatus::Failed;
            }
            if (status == MoveStatus::Missing)
                return Row(remote, TrashOutcome::Failed,
                           Says(remote + ": it went from the trash while it was moved"));
            if (status != MoveStatus::Moved) return Row(remote, TrashOutcome::Failed, message);
            back.emplace_back(remote, ManifestEntry{mine.size(), text::Md5Hex(mine), 0});
            return Row(remote, TrashOutcome::Done);
        });
    if (!back.empty() && !manifest_.Put(place_, back)) Unnoted(rows, "brought back");
    return rows;
}

std::optional<std::vector<std::string>> TargetTrash::Stamps(std::string& error) {
    const auto entries = transport_->List(std::string(kTrashFolder), error);
    if (!entries) return std::nullopt;
    std::vector<std::string> stamps;
    for (const RemoteEntry& entry : *entries)
        if (entry.folder && IsTrashStamp(entry.name)) stamps.push_back(entry.name);
    std::sort(stamps.begin(), stamps.end());
    return stamps;
}

bool TargetTrash::Walk(const std::string& folder, std::vector<std::string>& files,
                       std::vector<std::string>& folders, std::string& message) {
    // Breadth first, a level at a time: the folders come out shallowest first.
    std::vector<std::string> level = {""};
    for (int depth = 0; !level.empty(); ++depth) {
        if (depth == kDeepestFolder) {
            message = Says("the trash " + folder + " goes deeper than " +
                           std::to_string(kDeepestFolder) + " folders");
            return false;
        }
        std::vector<std::string> next;
        for (const std::string& below : level) {
            const auto entries = transport_->List(folder + below, message);
            if (!entries) return false;
            for (const RemoteEntry& entry : *entries) {
                if (entry.folder) {
                    next.push_back(below + entry.name + "/");
                    folders.push_back(below + entry.name + "/");
                } else {
                    files.push_back(below + entry.name);
                }
            }
        }
        level = std::move(next);
    }
    std::reverse(folders.begin(), folders.end());
    return true;
}

std::vector<TrashRow> TargetTrash::Empty(const std::string& stamp, std::stop_token stop) {
    std::vector<TrashRow> rows;
    if (!IsTrashStamp(stamp)) {
        rows.push_back(
            Row("", TrashOutcome::Failed, Says("\"" + stamp + "\" is no trash's date and time")));
        return rows;
    }
    const std::string trash = std::string(kTrashFolder) + stamp + "/";
    std::vector<std::string> files, folders;
    std::string message;
    if (!Walk(trash, files, folders, message)) {
        rows.push_back(Row("", TrashOutcome::Failed, message));
        return rows;
    }
    for (const std::string& file : files) {
        if (stop.stop_requested()) {
            rows.push_back(
                Row(file, TrashOutcome::Failed, Says(file + ": stopped before it was deleted")));
            continue;
        }
        if (transport_->Delete(trash + file, message))
            rows.push_back(Row(file, TrashOutcome::Done));
        else
            rows.push_back(Row(file, TrashOutcome::Failed, message));
    }
    const bool whole = std::all_of(rows.begin(), rows.end(), [](const TrashRow& row) {
        return row.outcome == TrashOutcome::Done;
    });
    if (!whole) return rows;
    folders.push_back("");  // the stamp's own folder, last
    for (const std::string& folder : folders) {
        if (!transport_->DeleteFolder(trash + folder, message)) {
            rows.push_back(Row(folder, TrashOutcome::Failed, message));
            break;
        }
    }
    return rows;
}

}  // namespace zembrat::publish
