#include "job/prune.h"

#include <algorithm>
#include <map>
#include <set>

#include "job/image_names.h"
#include "job/image_optimization.h"
#include "job/markdown_reader.h"
#include "job/references.h"
#include "job/result_folder.h"
#include "platform/event_points.h"
#include "platform/file_move.h"
#include "platform/files.h"
#include "platform/folder_lock.h"
#include "record/run_record.h"
#include "text/codec.h"
#include "text/crc32.h"
#include "text/digest.h"

namespace zembrat::job {
namespace {

constexpr std::time_t kDay = 24 * 60 * 60;

std::string Below(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

std::string TrashBelow(const std::string& stamp) {
    return std::string(kTrashFolder) + "/" + stamp;
}

// A file a run stored: its name is the CRC-32 of its bytes, a "." and the kind's extension.
bool StoredByARun(const std::string& path, const text::Bytes& bytes) {
    const std::string name = text::FileName(path);
    const std::size_t dot = name.rfind('.');
    return dot != std::string::npos && dot + 1 < name.size() &&
           name.substr(0, dot) == ContentName(bytes);
}

bool LooksStored(const std::string& path) {
    const std::string name = text::FileName(path);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot > 8 || dot + 1 == name.size()) return false;
    return std::all_of(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(dot),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// The images (paths below the result folder) some article uses: by the record's word on the
// addresses it reads, and by name where a text points into the image folder.
class UsedImages {
  public:
    UsedImages(const record::RunRecord& record, const ExtensionOptions& options,
               const std::set<std::string>& candidates)
        : record_(record), options_(options), candidates_(candidates) {
        record.ForEachStoredImage([&](const record::ImageEntry& entry) {
            stored_[entry.address.substr(0, entry.address.find('\n'))].push_back(entry.storedPath);
        });
    }

    void Address(const std::string& address) {
        if (const auto found = stored_.find(address); found != stored_.end())
            used_.insert(found->second.begin(), found->second.end());
        for (const std::string& key : {address, RecordedAddress(address, options_)}) {
            if (const auto entry = record_.Image(key); entry && !entry->storedPath.empty())
                used_.insert(entry->storedPath);
        }
        Names(address);
    }

    // Every tail of the text that starts after a "/" and names an image of the folder.
    void Names(std::string_view text) {
        text = text.substr(0, text.find_first_of("?#"));
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (i > 0 && text[i - 1] != '/') continue;
            const std::string tail(text.substr(i));
            if (candidates_.contains(tail)) used_.insert(tail);
        }
    }

    void Verdicts(const std::vector<RefVerdict>& verdicts) {
        for (const RefVerdict& v : verdicts) {
            Names(v.sourceValue);
            if (!v.address.empty()) Address(v.address);
        }
    }

    bool Uses(const std::string& path) const { return used_.contains(path); }

  private:
    const record::RunRecord& record_;
    const ExtensionOptions& options_;
    const std::set<std::string>& candidates_;
    std::map<std::string, std::vector<std::string>> stored_;
    std::set<std::string> used_;
};

// An article's references as the run reads them and, for a Markdown name, as the Markdown reader
// reads them (its front matter among them) even when the run's options do not.
class ArticleReading {
  public:
    explicit ArticleReading(const RunInputs& inputs)
        : run_(Rules(inputs, false)), markdown_(Rules(inputs, true)) {}

    // False when a reading could not take the article whole: its references are not all known.
    bool Read(const text::Bytes& article, const std::string& path, UsedImages& used) {
        const bool md = IsMarkdownName(text::FileName(path));
        used.Verdicts(run_.Decide(article, md, events_));
        bool whole = run_.LastReadWhole();
        if (md) {
            used.Verdicts(markdown_.Decide(article, true, events_));
            whole = whole && markdown_.LastReadWhole();
        }
        return whole;
    }

  private:
    static ReferenceRules Rules(const RunInputs& inputs, bool markdown) {
        ReferenceRules rules{inputs.settings.oldPrefix, inputs.settings.excludedRanges,
                             inputs.options};
        rules.options.markdown = rules.options.markdown || markdown;
        return rules;
    }
    platform::EventPoints events_;
    ReferenceDecider run_, markdown_;
};

TrashFile FileAt(const std::string& resultFolder, const std::string& path,
                 const std::string& localBelow, const text::Bytes& bytes) {
    return {path, resultFolder + localBelow, bytes.size(), text::Crc32(bytes)};
}

bool ReadBeneath(const std::string& base, const std::string& path, text::Bytes& bytes) {
    bytes.clear();
    return platform::ReadFileWithin(base, base + path, bytes);
}

// The stamp of a trash made now: the next second when one of that name is there.
std::string FreeStamp(const std::string& resultFolder, std::time_t now) {
    const std::vector<std::string> taken = LocalTrashes(resultFolder);
    std::string stamp = TrashStamp(now);
    while (std::find(taken.begin(), taken.end(), stamp) != taken.end() ||
           platform::PathExists(resultFolder + TrashBelow(stamp)))
        stamp = TrashStamp(++now);
    return stamp;
}

void Prune(const TrashRequest& request, const record::RunRecord& record,
           const std::vector<std::string>& articles, std::time_t now, TrashOutcome& out,
           std::stop_token stop) {
    const RunInputs& inputs = request.inputs;
    const std::string& result = out.resultFolder;
    std::string images = ImageFolderBelow(inputs.settings.imageFolder);
    while (images.ends_with("/")) images.pop_back();
    std::set<std::string> candidates;
    for (const std::string& file : platform::FilesBeneath(result, images)) {
        if (LooksStored(file)) candidates.insert(Below(images, file));
    }
    out.images = candidates.size();

    UsedImages used(record, inputs.options, candidates);
    ArticleReading reading(inputs);
    // The article folder's articles as they are now: each must be as the last run read it.
    for (const std::string& path : articles) {
        const std::string key = ArticleBelow(inputs.settings.articleFolder, path);
        text::Bytes bytes;
        if (!platform::ReadFileWithin(inputs.settings.articleFolder, path, bytes)) {
            out.end = TrashEnd::RecordStale;
            out.detail = key;
            return;
        }
        const std::optional<record::ArticleEntry> entry = record.Article(key);
        if (!entry || entry->sourceHash != text::Sha256Hex(bytes)) {
            out.end = TrashEnd::RecordStale;
            out.detail = key;
            return;
        }
        if (!reading.Read(bytes, path, used)) {
            out.end = TrashEnd::NotReadWhole;
            out.detail = key;
            return;
        }
    }
    // Every article of the record, and the result it wrote.
    record.ForEachArticle([&](const record::ArticleEntry& article) {
        for (const record::ReferenceEntry& ref : article.references) used.Address(ref.address);
        text::Bytes written;
        if (!article.resultPath.empty() && ReadBeneath(result, article.resultPath, written))
            reading.Read(written, article.resultPath, used);
    });

    std::vector<TrashEntry> unused;
    for (const std::string& path : candidates) {
        if (used.Uses(path)) continue;
        text::Bytes bytes;
        // Only what a run stored under its bytes' name; anything else stays.
        if (!ReadBeneath(result, path, bytes) || !StoredByARun(path, bytes)) continue;
        unused.push_back({FileAt(result, path, path, bytes), {}, TrashFileEnd::Listed, {}});
    }
    out.used = out.images - unused.size();
    const bool over = unused.size() > kMaxPrunedFiles || unused.size() * 2 > out.images;
    if (request.dryRun || (over && !request.force)) {
        out.files = std::move(unused);
        if (over && !request.force) out.end = TrashEnd::OverBound;
        return;
    }
    if (unused.empty()) return;
    const std::string stamp = FreeStamp(result, now);
    out.stamps.push_back(stamp);
    std::vector<TrashFile> moved;
    for (TrashEntry& entry : unused) {
        if (request.pump) request.pump();
        if (stop.stop_requested()) break;
        const std::string to = TrashBelow(stamp) + "/" + entry.file.path;
        entry.stamp = stamp;
        switch (platform::MoveFileBeneath(result, entry.file.path, to)) {
            case platform::MoveBeneathResult::Moved:
                entry.end = TrashFileEnd::Moved;
                entry.file.localFile = result + to;
                moved.push_back(entry.file);
                break;
            case platform::MoveBeneathResult::Missing:
                entry.end = TrashFileEnd::Failed;
                entry.reason = "gone before it was moved";
                break;
            case platform::MoveBeneathResult::Taken:
            case platform::MoveBeneathResult::Refused:
            case platform::MoveBeneathResult::Failed:
                entry.end = TrashFileEnd::Failed;
                entry.reason = "cannot be moved into the trash";
                break;
        }
        out.files.push_back(std::move(entry));
    }
    if (request.mirror && !moved.empty())
        out.mirrorSteps = request.mirror->SetAside(stamp, moved, stop);
}

void Restore(const TrashRequest& request, TrashOutcome& out, std::stop_token stop) {
    const std::string& result = out.resultFolder;
    const std::vector<std::string> stamps = LocalTrashes(result);
    std::string stamp = request.stamp;
    if (stamp.empty() && !stamps.empty()) stamp = stamps.back();
    if (stamp.empty() || std::find(stamps.begin(), stamps.end(), stamp) == stamps.end()) {
        out.end = TrashEnd::NoTrash;
        out.detail = request.stamp;
        return;
    }
    out.stamps.push_back(stamp);
    const std::string trash = TrashBelow(stamp);
    std::vector<TrashFile> restored;
    // The trash holds the image folder's layout, whatever its folders are named.
    for (const std::string& path : platform::FilesBeneath(result, trash, true)) {
        if (request.pump) request.pump();
        if (stop.stop_requested()) break;
        const std::string from = trash + "/" + path;
        text::Bytes bytes, there;
        TrashEntry entry{{path, result + from, 0, 0}, stamp, TrashFileEnd::Failed, {}};
        if (!ReadBeneath(result, from, bytes)) {
            entry.reason = "cannot be read in the trash";
            out.files.push_back(std::move(entry));
            continue;
        }
        entry.file = FileAt(result, path, from, bytes);
        platform::MoveBeneathResult moved = platform::MoveBeneathResult::Taken;
        if (!platform::PathExists(result + path))
            moved = platform::MoveFileBeneath(result, from, path);
        if (moved == platform::MoveBeneathResult::Moved) {
            entry.end = TrashFileEnd::Restored;
            entry.file.localFile = result + path;
        } else if (moved == platform::MoveBeneathResult::Taken) {
            // Its name came back: the same bytes make it restored, other bytes are never replaced.
            if (ReadBeneath(result, path, there) && there == bytes) {
                entry.end = TrashFileEnd::Restored;
                entry.file.localFile = result + path;
                platform::RemoveFileBeneath(result, from);
            } else {
                entry.end = TrashFileEnd::Refused;
                entry.reason = "a file of that name came back meanwhile with other bytes";
            }
        } else {
            entry.reason = "cannot be moved back";
        }
        if (entry.end == TrashFileEnd::Restored) {
            restored.push_back(entry.file);
            platform::RemoveEmptyFoldersBeneath(result, from, 1);
        }
        out.files.push_back(std::move(entry));
    }
    // A trash left empty goes with its last file.
    if (platform::FilesBeneath(result, trash, true).empty() &&
        platform::FoldersBeneath(result, trash).empty())
        platform::RemoveFolderBeneath(result, trash);
    if (request.mirror && !restored.empty())
        out.mirrorSteps = request.mirror->Restore(stamp, restored, stop);
}

// Whether the trash is to go: 0 days takes every trash, however young (a trash made within the
// same second as another is stamped a second later).
bool OlderThan(const std::string& stamp, std::time_t now, int days) {
    const std::optional<std::time_t> made = StampTime(stamp);
    return made && (days == 0 || *made <= now - static_cast<std::time_t>(days) * kDay);
}

void Empty(const TrashRequest& request, std::time_t now, TrashOutcome& out, std::stop_token stop) {
    const std::string& result = out.resultFolder;
    for (const std::string& stamp : LocalTrashes(result)) {
        if (stop.stop_requested()) break;
        if (!OlderThan(stamp, now, request.days)) continue;
        out.stamps.push_back(stamp);
        std::vector<std::string> removed;
        const bool whole = platform::RemoveFolderBeneath(result, TrashBelow(stamp), &removed);
        for (const std::string& path : removed)
            out.files.push_back({{path, {}, 0, 0}, stamp, TrashFileEnd::Deleted, {}});
        if (!whole)
            out.files.push_back({{{}, result + TrashBelow(stamp), 0, 0},
                                 stamp,
                                 TrashFileEnd::Failed,
                                 "the trash cannot be removed whole"});
    }
    if (!request.mirror) return;
    for (const std::string& stamp : request.mirror->Stamps(out.mirrorError)) {
        if (stop.stop_requested()) break;
        if (!OlderThan(stamp, now, request.days)) continue;
        for (TrashStep& step : request.mirror->Empty(stamp, stop))
            out.mirrorSteps.push_back(std::move(step));
    }
}

}  // namespace

std::string TrashStamp(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

std::optional<std::time_t> StampTime(std::string_view stamp) {
    if (stamp.size() != 15 || stamp[8] != '-') return std::nullopt;
    for (std::size_t i = 0; i < stamp.size(); ++i) {
        if (i != 8 && (stamp[i] < '0' || stamp[i] > '9')) return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t n) {
        return std::stoi(std::string(stamp.substr(at, n)));
    };
    std::tm local{};
    local.tm_year = number(0, 4) - 1900;
    local.tm_mon = number(4, 2) - 1;
    local.tm_mday = number(6, 2);
    local.tm_hour = number(9, 2);
    local.tm_min = number(11, 2);
    local.tm_sec = number(13, 2);
    local.tm_isdst = -1;
    const std::time_t made = std::mktime(&local);
    // A name of digits that is no time (month 13) is no stamp.
    if (made == -1 || TrashStamp(made) != stamp) return std::nullopt;
    return made;
}

std::size_t TrashOutcome::Count(TrashFileEnd wanted) const {
    return static_cast<std::size_t>(std::count_if(
        files.begin(), files.end(), [&](const TrashEntry& e) { return e.end == wanted; }));
}

std::size_t TrashOutcome::CountMirror(TrashStepEnd wanted) const {
    return static_cast<std::size_t>(
        std::count_if(mirrorSteps.begin(), mirrorSteps.end(),
                      [&](const TrashStep& s) { return s.end == wanted; }));
}

std::vector<std::string> LocalTrashes(const std::string& resultFolder) {
    std::vector<std::string> stamps;
    for (const std::string& name :
         platform::FoldersBeneath(resultFolder, std::string(kTrashFolder))) {
        if (StampTime(name)) stamps.push_back(name);
    }
    std::sort(stamps.begin(), stamps.end());
    return stamps;
}

TrashOutcome DoTrash(const TrashRequest& request, std::stop_token stop) {
    TrashOutcome out;
    const std::time_t now = request.now ? request.now : std::time(nullptr);
    platform::EventPoints quiet;
    const RunResult start = CheckRunStart(request.inputs, quiet);
    // A restore or an emptying needs the result folder only, not articles.
    if (start.end != RunEnd::Finished &&
        (start.end != RunEnd::NoArticles || request.action == TrashAction::Prune)) {
        out.end = TrashEnd::StartRefused;
        out.runEnd = start.end;
        return out;
    }
    out.resultFolder = ResultFolder(request.inputs.settings.articleFolder, request.inputs.options);
    out.trashFolder = out.resultFolder + std::string(kTrashFolder) + "/";
    platform::FolderLock lock;
    if (platform::IsRealFolder(out.resultFolder) &&
        lock.Take(out.resultFolder) == platform::FolderLock::Result::InUse) {
        out.end = TrashEnd::InUse;
        return out;
    }
    if (request.action == TrashAction::Restore) {
        Restore(request, out, stop);
        return out;
    }
    if (request.action == TrashAction::Empty) {
        Empty(request, now, out, stop);
        return out;
    }
    if (!record::RunRecord::IsThere(out.resultFolder)) {
        out.end = TrashEnd::RecordMissing;
        return out;
    }
    record::RunRecord record;
    if (!record.OpenToRead(out.resultFolder)) {
        out.end = TrashEnd::RecordDamaged;
        out.detail = record.Message();
        return out;
    }
    Prune(request, record, start.articles, now, out, stop);
    return out;
}

std::string TrashRefusal(const TrashOutcome& outcome, const TrashRequest& request) {
    const std::string folder = text::Utf8FromGbk(outcome.resultFolder);
    switch (outcome.end) {
        case TrashEnd::Done:
            return {};
        case TrashEnd::StartRefused: {
            RunResult result;
            result.end = outcome.runEnd;
            return text::Utf8FromGbk(RunEndMessage(result, request.inputs.settings));
        }
        case TrashEnd::InUse:
            return "another run is using the result folder " + folder + ": nothing was moved";
        case TrashEnd::RecordMissing:
            return "no run record in " + folder +
                   ": a prune moves only what a run's record says no article uses (a run keeps "
                   "one under --incremental or --publish)";
        case TrashEnd::RecordDamaged:
            return "the run record of " + folder + " cannot be read (" + outcome.detail +
                   "): nothing was moved; run again to make a new one";
        case TrashEnd::RecordStale:
            return "the article " + text::Utf8FromGbk(outcome.detail) +
                   " changed after the last run (or was not read by it): run again before a "
                   "prune; nothing was moved";
        case TrashEnd::NotReadWhole:
            return "the article " + text::Utf8FromGbk(outcome.detail) +
                   " cannot be read whole, so not all its images are known: nothing was moved";
        case TrashEnd::OverBound:
            return std::to_string(outcome.files.size()) + " of " + std::to_string(outcome.images) +
                   " images are unused: more than " + std::to_string(kMaxPrunedFiles) +
                   " or more than half of them are not moved in one go; --force moves them";
        case TrashEnd::NoTrash:
            return outcome.detail.empty() ? "no trash to restore in " + folder
                                          : "no trash " + outcome.detail + " in " + folder;
        case TrashEnd::Failed:
            return "the trash folder cannot be made in " + folder;
    }
    return {};
}

const char* TrashFileEndText(TrashFileEnd end) {
    switch (end) {
        case TrashFileEnd::Listed:
            return "unused";
        case TrashFileEnd::Moved:
            return "moved";
        case TrashFileEnd::Restored:
            return "restored";
        case TrashFileEnd::Deleted:
            return "deleted";
        case TrashFileEnd::Refused:
            return "refused";
        case TrashFileEnd::Failed:
            return "failed";
    }
    return "failed";
}

const char* TrashStepEndText(TrashStepEnd end) {
    switch (end) {
        case TrashStepEnd::Done:
            return "done";
        case TrashStepEnd::Skipped:
            return "skipped";
        case TrashStepEnd::Refused:
            return "refused";
        case TrashStepEnd::Failed:
            return "failed";
    }
    return "failed";
}

}  // namespace zembrat::job
