#include "config/config_store.h"

#include <algorithm>
#include <utility>

#include "config/ini_layout.h"
#include "config/store_file.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "text/codec.h"

namespace zembrat::config {
namespace {

using namespace text::literals;
using text::kNotFound;

bool HoldsZero(std::string_view s) {
    return s.find('\0') != kNotFound;
}

StoreResult ResultOf(ini::Lookup lookup) {
    switch (lookup) {
        case ini::Lookup::kNoSection:
            return StoreResult::kSectionNotFound;
        case ini::Lookup::kNoKey:
            return StoreResult::kKeyNotFound;
        default:
            return StoreResult::kDone;
    }
}

}  // namespace

ConfigStore::ConfigStore() : points_(&platform::NoEventPoints()) {}

ConfigStore::~ConfigStore() {
    Close();
}

ConfigStore::ConfigStore(const ConfigStore& other)
    : mirror_(other.mirror_),
      file_(other.file_),
      fileName_(other.fileName_),
      points_(other.points_),
      location_(other.location_),
      currentSection_(other.currentSection_),
      kind_(other.kind_),
      registryPath_(other.registryPath_),
      fileFailures_(other.fileFailures_),
      onDisk_(other.onDisk_),
      // Made in the middle of an operation, the copy would not know the edits not yet written:
      // its first save then writes all it holds.
      inStep_(other.inStep_ && other.unwritten_.empty()),
      lockedByAnother_(other.lockedByAnother_) {}

ConfigStore& ConfigStore::operator=(const ConfigStore& other) {
    if (this != &other) {
        ConfigStore copy(other);
        *this = std::move(copy);
    }
    return *this;
}

ConfigStore::ConfigStore(ConfigStore&&) noexcept = default;
ConfigStore& ConfigStore::operator=(ConfigStore&&) noexcept = default;

void ConfigStore::SetEventPoints(platform::EventPoints& points) {
    points_ = &points;
}

void ConfigStore::Close() {
    file_.reset();
    mirror_.clear();
    unwritten_.clear();
    onDisk_.clear();
    inStep_ = false;
}

bool ConfigStore::OpenFile(std::string_view path, bool inMemory) {
    Close();
    fileName_ = std::string(path);
    fileFailures_ = 0;
    lockedByAnother_ = false;
    if (inMemory) {
        platform::ReadWholeFile(path, mirror_);
        file_ = MakeMemoryFile(mirror_);
        return true;
    }
    // Take the file first, so that the bytes loaded are the ones the store then patches.
    DiskFileOpening opening = OpenLockedDiskFile(path);
    file_ = std::move(opening.file);
    lockedByAnother_ = opening.lockedByAnother;
    if (file_ && file_->ReadAll(mirror_)) {
        onDisk_ = mirror_;
        inStep_ = true;
    } else {
        // A file that cannot be written is still read: its values are the user's.
        ReadWholeSettings(path, mirror_);
    }
    return file_ != nullptr;
}

void ConfigStore::Reload() {
    platform::ReadWholeFile(fileName_, mirror_);
    unwritten_.clear();
    if (!file_) return;
    if (kind_ == MemoryFile) {
        // The copy in memory follows, so that it keeps equal to the mirror.
        NoteFile(file_->ReplaceAll(mirror_));
        return;
    }
    inStep_ = file_->StillNamed() && file_->ReadAll(onDisk_) && onDisk_ == mirror_;
}

StoreResult ConfigStore::ProcessPending() {
    // Called from an event handler while an item runs: the running call will get to the rest.
    if (busy_) return pending_.empty() ? StoreResult::kFailed : StoreResult::kQueued;
    return RunPending(nullptr);
}

StoreResult ConfigStore::Enqueue(PendingOp op, bool* reachedFile) {
    pending_.push_back(std::move(op));
    if (busy_) return StoreResult::kQueued;
    return RunPending(reachedFile);
}

StoreResult ConfigStore::RunPending(bool* reachedFile) {
    if (pending_.empty()) return StoreResult::kFailed;
    busy_ = true;
    const PendingOp op = pending_.front();
    const std::size_t failuresBefore = fileFailures_;
    const StoreResult result = Execute(op);
    if (reachedFile) *reachedFile = fileFailures_ == failuresBefore;
    pending_.pop_front();
    busy_ = false;
    RunPending(nullptr);
    return result;
}

StoreResult ConfigStore::Execute(const PendingOp& op) {
    const auto text = [&op](std::size_t i) -> std::string_view {
        return i < op.texts.size() ? std::string_view(op.texts[i]) : std::string_view();
    };
    switch (op.kind) {
        case PendingKind::kSetValue:
            return SetValueNow(text(0), text(1), text(2));
        case PendingKind::kDelete:
            return DeleteEntryNow(text(0), text(1));
        case PendingKind::kRenameSection:
            return RenameSectionNow(text(0), text(1));
        case PendingKind::kRenameKey:
            return RenameKeyNow(text(0), text(1), text(2));
    }
    return StoreResult::kFailed;
}

// --- patching -------------------------------------------------------------------------------

long ConfigStore::NextHeaderBetween(long start, long end) const {
    if (end < 1) return -1;
    const std::size_t from = start > 1 ? static_cast<std::size_t>(start - 1) : 0;
    const std::size_t found = ini::NextHeaderLine(mirror_, from, static_cast<std::size_t>(end - 1));
    return found == kNotFound ? -1 : static_cast<long>(found) + 1;
}

void ConfigStore::NoteFile(bool ok) {
    if (!ok) ++fileFailures_;
}

void ConfigStore::Patch(const ini::Edit& edit) {
    ini::ApplyEdit(mirror_, edit);
    unwritten_.push_back(edit);
}

void ConfigStore::WriteThrough() {
    if (unwritten_.empty()) return;
    const std::vector<ini::Edit> edits = std::move(unwritten_);
    unwritten_.clear();
    NoteFile(file_ && (kind_ == MemoryFile ? PatchFile(edits) : WriteToDisk(edits)));
}

bool ConfigStore::PatchFile(const std::vector<ini::Edit>& edits) {
    for (const ini::Edit& edit : edits) {
        if (!file_->Seek(edit.at) || !file_->Delete(edit.remove) || !file_->Seek(edit.at) ||
            !file_->Insert(edit.insert)) {
            return false;
        }
    }
    return true;
}

bool ConfigStore::WriteToDisk(const std::vector<ini::Edit>& edits) {
    // A file that no longer has its name (renamed away, its folder removed) is no longer the
    // settings file: writing it would save nothing, or change a file the user moved elsewhere.
    if (!file_->StillNamed()) {
        inStep_ = false;
        return false;
    }
    std::string before;
    if (!file_->ReadAll(before)) {
        inStep_ = false;
        return false;
    }
    // The file holds what the store last wrote: patch it in place. When something else changed
    // it, patches at the mirror's offsets would mix the two; fail, leaving it be. After a failed
    // save the file is not in step: this one writes all the store holds.
    const bool patching = inStep_;
    if (patching && before != onDisk_) {
        onDisk_ = std::move(before);
        inStep_ = false;
        return false;
    }
    // Neither the patches nor a whole write touch the bytes before `from`; what the file holds
    // from there on, before the save or after it, whichever is shorter, is kept until the save is
    // on the disk, so that one cut short at any moment is completed either way at the next
    // opening.
    std::size_t from = static_cast<std::size_t>(
        std::mismatch(before.begin(), before.end(), mirror_.begin(), mirror_.end()).first -
        before.begin());
    if (patching) {
        for (const ini::Edit& edit : edits) from = std::min(from, edit.at);
    }
    const std::string_view oldTail = std::string_view(before).substr(from);
    const std::string_view newTail = std::string_view(mirror_).substr(from);
    if (!file_->BeginChange(from, oldTail.size() <= newTail.size() ? oldTail : newTail)) {
        onDisk_ = std::move(before);  // untouched
        inStep_ = false;
        return false;
    }
    const bool ok = patching ? PatchFile(edits) : file_->ReplaceAll(mirror_);
    if (ok && file_->EndChange()) {
        onDisk_ = mirror_;
        inStep_ = true;
        return true;
    }
    // A save that cannot complete leaves the file as it was. Its earlier bytes always fit: the
    // file was that long, so writing them back needs no new space.
    if (file_->ReplaceAll(before)) file_->EndChange();
    onDisk_ = std::move(before);
    inStep_ = false;
    return false;
}

bool ConfigStore::WritesReachDisk() const {
    if (kind_ == RegistryBackend) return true;  // every registry write reports for itself
    return kind_ == DiskFile && file_ && inStep_;
}

// --- mutating operations --------------------------------------------------------------------

StoreResult ConfigStore::SetValue(std::string_view section, std::string_view key,
                                  std::string_view value, bool executeNow) {
    if (executeNow) return SetValueNow(section, key, value);
    return Enqueue(
        {PendingKind::kSetValue, {std::string(section), std::string(key), std::string(value)}},
        nullptr);
}

StoreResult ConfigStore::SetValueNow(std::string_view section, std::string_view key,
                                     std::string_view value) {
    // The store never writes a zero byte; a key holding one could never be found again.
    if (HoldsZero(key)) return StoreResult::kFailed;
    const std::string valueText = text::TextOf(value);
    ini::SetProgress progress;
    for (;;) {
        points_->ProcessEvents();
        const ini::SetRound round = ini::NextSetRound(mirror_, section, key, valueText, progress);
        Patch(round.edit);
        if (round.done) {
            WriteThrough();
            return StoreResult::kDone;
        }
        if (progress.appended < ini::kMostHeaderAppends) continue;
        WriteThrough();  // what was appended stays
        platform::MessageRequest warning;
        warning.text = "配置模块出现意外，可能导致无法正常保存！详情请咨询Qorv。"_gbk;
        warning.title = "Qorv："_gbk;
        warning.warning = true;
        warning.systemModal = true;
        points_->ShowMessage(warning);
        platform::MessageRequest content;
        content.text = GetContent();
        points_->ShowMessage(content);
        return StoreResult::kFailed;
    }
}

StoreResult ConfigStore::DeleteEntry(std::string_view section, std::string_view key,
                                     bool executeNow) {
    if (executeNow) return DeleteEntryNow(section, key);
    return Enqueue({PendingKind::kDelete, {std::string(section), std::string(key)}}, nullptr);
}

StoreResult ConfigStore::DeleteEntryNow(std::string_view section, std::string_view key) {
    const ini::Change change = ini::Deletion(mirror_, section, key);
    if (change.lookup == ini::Lookup::kFound) {
        Patch(change.edit);
        WriteThrough();
    }
    return ResultOf(change.lookup);
}

StoreResult ConfigStore::RenameSection(std::string_view oldName, std::string_view newName,
                                       bool executeNow) {
    if (executeNow) return RenameSectionNow(oldName, newName);
    return Enqueue({PendingKind::kRenameSection, {std::string(oldName), std::string(newName)}},
                   nullptr);
}

StoreResult ConfigStore::RenameSectionNow(std::string_view oldName, std::string_view newName) {
    points_->ProcessEvents();
    const ini::Change change = ini::SectionRenaming(mirror_, oldName, text::TextOf(newName));
    if (change.lookup == ini::Lookup::kFound) {
        Patch(change.edit);
        WriteThrough();
    }
    return ResultOf(change.lookup);
}

StoreResult ConfigStore::RenameKey(std::string_view section, std::string_view oldKey,
                                   std::string_view newKey, bool executeNow) {
    if (executeNow) return RenameKeyNow(section, oldKey, newKey);
    return Enqueue(
        {PendingKind::kRenameKey, {std::string(section), std::string(oldKey), std::string(newKey)}},
        nullptr);
}

StoreResult ConfigStore::RenameKeyNow(std::string_view section, std::string_view oldKey,
                                      std::string_view newKey) {
    points_->ProcessEvents();
    const ini::Change change = ini::KeyRenaming(mirror_, section, oldKey, text::TextOf(newKey));
    if (change.lookup == ini::Lookup::kFound) {
        Patch(change.edit);
        WriteThrough();
    }
    return ResultOf(change.lookup);
}

// --- reading --------------------------------------------------------------------------------

std::string ConfigStore::GetValue(std::string_view section, std::string_view key,
                                  std::string_view defaultValue, bool emptyIsMissing) {
    points_->ProcessEvents();
    const ini::HeaderSpan header = ini::FindSection(mirror_, section);
    if (!header.found()) return std::string(defaultValue);
    const ini::EntrySpan entry = ini::FindKey(mirror_, header, key);
    if (!entry.found()) return std::string(defaultValue);
    if (entry.end == entry.value && emptyIsMissing) return std::string(defaultValue);
    return text::TextOf(std::string_view(mirror_).substr(entry.value, entry.end - entry.value));
}

int ConfigStore::SectionsWithKey(std::string_view key, std::vector<std::string>& names) {
    // A snapshot: an event handler may change the mirror while the rounds go on.
    const std::string content = mirror_;
    names = ini::SectionsWithKey(content, key, [this] { points_->ProcessEvents(); });
    return static_cast<int>(names.size());
}

int ConfigStore::KeysWithValue(std::string_view valuePrefix, std::vector<std::string>& keys,
                               std::string_view sectionFilter) {
    const std::string content = mirror_;
    keys = ini::KeysWithValue(content, valuePrefix, sectionFilter,
                              [this] { points_->ProcessEvents(); });
    return static_cast<int>(keys.size());
}

std::string ConfigStore::ReadFileForListing() {
    // Without a file handle the listing shows what the store holds, as its reads do.
    std::string bytes;
    if (!file_ || !file_->ReadAll(bytes)) return mirror_;
    return bytes;
}

int ConfigStore::ListSections(std::vector<std::string>& names, std::string_view include,
                              std::string_view exclude) {
    names = ini::ListedSections(ReadFileForListing(), include, exclude,
                                [this] { points_->ProcessEvents(); });
    return static_cast<int>(names.size());
}

int ConfigStore::ListKeys(std::vector<std::string>& keys, std::string_view include,
                          std::string_view exclude, std::string_view restrict,
                          std::string_view sectionInclude, std::string_view sectionExclude) {
    keys = ini::ListedKeys(ReadFileForListing(), include, exclude, !restrict.empty(),
                           sectionInclude, sectionExclude, [this] { points_->ProcessEvents(); });
    return static_cast<int>(keys.size());
}

// --- whole content --------------------------------------------------------------------------

std::string ConfigStore::GetContent() const {
    return text::TextOf(mirror_);
}

void ConfigStore::SetContent(std::string_view content, bool append) {
    const std::string bytes = text::TextOf(content);
    if (!append) Patch({0, mirror_.size(), {}});
    Patch({mirror_.size(), 0, bytes});
    WriteThrough();
}

bool ConfigStore::SaveAs(std::string_view path) {
    const std::string target(path.empty() ? std::string_view(fileName_) : path);
    if (target.empty()) return false;
    return platform::WriteWholeFile(target, mirror_);
}

bool ConfigStore::Open(std::string_view location, BackendKind kind) {
    location_ = std::string(location);
    kind_ = kind;
    if (kind == RegistryBackend) {
        Close();  // nothing is opened; a file kept from before would go on taking raw writes
        return true;
    }
    return OpenFile(location_, kind == MemoryFile);
}

void ConfigStore::SetSection(std::string_view name) {
    currentSection_ = std::string(name);
    registryPath_ = "Qorv软件\\"_gbk + text::BaseName(location_) + "\\" + currentSection_ + "\\";
}

// --- helpers --------------------------------------------------------------------------------

std::string ConfigStore::TextBetweenMarkers(std::string_view source, std::string_view left,
                                            std::string_view right, text::MarkerSearch& search) {
    return text::TextBetweenMarkers(source, left, right, search);
}

std::string ConfigStore::TextBetweenMarkers(std::string_view source, std::string_view left,
                                            std::string_view right) {
    return text::TextBetweenMarkers(source, left, right);
}

}  // namespace zembrat::config
