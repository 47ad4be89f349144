// ConfigStore: the settings module.
// The program itself calls Open (start-up), SetSection, ReadText, WriteText, WritesReachDisk and
// FileName (the main window); the rest is the module's full set of operations.
//
// The store keeps the whole settings file as one byte sequence, the content mirror, and works by
// byte search, insertion and deletion in it; it never parses the file. In the disk-file backend
// every change is applied to the mirror and, at the same offsets, to the open file when the
// operation has made it, so the file equals the mirror and there is no save step. A change that
// cannot be written whole (a full disk) leaves the file exactly as it was before it. The
// memory-file backend patches a copy in memory that reaches the disk only through SaveAs; the
// registry backend keeps the typed values in the registry stand-in (config/registry_standin.h).
//
// Positions handed in and out (NextHeaderBetween) are 1-based byte positions, -1 for none. All
// texts are GBK. Mutating operations made while another one runs (from an event handler called
// at one of the store's event-processing points) are queued and run right after it.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/geometry.h"
#include "config/ini_layout.h"
#include "platform/datetime.h"
#include "text/gbk.h"
#include "text/markers.h"

namespace zembrat::platform {
class EventPoints;
}

namespace zembrat::config {

class StoreFile;

enum class BackendKind { DiskFile = 0, MemoryFile = 1, RegistryBackend = 2 };
// Callers name a backend unqualified: config::DiskFile.
using enum BackendKind;

// Results of the mutating operations.
enum class StoreResult {
    kDone = 0,
    kSectionNotFound = 1,
    kKeyNotFound = 2,
    kQueued = 3,  // the store is busy; the operation will still run
    kFailed = -1,
};

// What a typed write (WriteText, WriteNumber, WriteBool, WriteDateTime) did.
enum class WriteResult {
    kWritten,  // stored; in the disk-file backend, in the file on disk
    // The store was busy (the write came from one of its event points): the write runs right
    // after the running operation. Whether it reached the file, WritesReachDisk() tells once
    // that operation has returned.
    kQueued,
    kFailed,  // not stored where it must go (for the file backends: the file was left as it was)
};

enum class PendingKind { kSetValue = 0, kDelete = 1, kRenameSection = 2, kRenameKey = 3 };

struct PendingOp {
    PendingKind kind = PendingKind::kSetValue;
    std::vector<std::string> texts;
};

struct ConfigStoreTestAccess;

class ConfigStore {
  public:
    ConfigStore();
    ~ConfigStore();
    // The copy refers to the same open file (the file closes when its last holder lets it go).
    // It starts idle, with no queued operations: those belong to the call running in the
    // original.
    ConfigStore(const ConfigStore& other);
    ConfigStore& operator=(const ConfigStore& other);
    ConfigStore(ConfigStore&&) noexcept;
    ConfigStore& operator=(ConfigStore&&) noexcept;

    // The event points the store's searches and listings stop at (once per round, once per listed
    // line), and through which it shows its messages. The object must outlive the store's use.
    void SetEventPoints(platform::EventPoints& points);

    void Close();
    // Loads the file into the mirror and opens it (or a copy in memory). True when a file
    // handle was obtained; false when the file cannot be opened or another holder keeps it, in
    // which case the mirror still holds its bytes but no change reaches it.
    bool OpenFile(std::string_view path, bool inMemory);
    void Reload();
    StoreResult ProcessPending();

    StoreResult SetValue(std::string_view section, std::string_view key, std::string_view value,
                         bool executeNow = false);
    std::string GetValue(std::string_view section, std::string_view key,
                         std::string_view defaultValue = {}, bool emptyIsMissing = false);
    long NextHeaderBetween(long start, long end) const;
    int SectionsWithKey(std::string_view key, std::vector<std::string>& names);
    int KeysWithValue(std::string_view valuePrefix, std::vector<std::string>& keys,
                      std::string_view sectionFilter = {});
    bool SaveAs(std::string_view path = {});
    int ListSections(std::vector<std::string>& names, std::string_view include = {},
                     std::string_view exclude = {});
    int ListKeys(std::vector<std::string>& keys, std::string_view include = {},
                 std::string_view exclude = {}, std::string_view restrict = {},
                 std::string_view sectionInclude = {}, std::string_view sectionExclude = {});
    StoreResult DeleteEntry(std::string_view section, std::string_view key = {},
                            bool executeNow = false);
    StoreResult RenameSection(std::string_view oldName, std::string_view newName,
                              bool executeNow = false);
    StoreResult RenameKey(std::string_view section, std::string_view oldKey,
                          std::string_view newKey, bool executeNow = false);
    // The mirror as text (up to a zero byte, if the file holds one).
    std::string GetContent() const;
    void SetContent(std::string_view content, bool append = false);
    bool Open(std::string_view location, BackendKind kind = BackendKind::DiskFile);
    void SetSection(std::string_view name);

    text::Bytes ReadBinary(std::string_view key, std::string_view defaultBytes = {});
    bool WriteBinary(std::string_view key, std::string_view bytes);
    WriteResult WriteText(std::string_view key, std::string_view value);
    std::string ReadText(std::string_view key, std::string_view defaultValue = {});
    WriteResult WriteNumber(std::string_view key, double value);
    double ReadNumber(std::string_view key, double defaultValue = 0);
    WriteResult WriteBool(std::string_view key, bool value);
    bool ReadBool(std::string_view key, bool defaultValue = false);
    bool ReadBoolUnlessFalse(std::string_view key, bool defaultValue = false);
    WriteResult WriteDateTime(std::string_view key, const platform::DateTime& value);
    platform::DateTime ReadDateTime(std::string_view key,
                                    const platform::DateTime& defaultValue = {});

    // True when the state was written (WriteResult::kWritten).
    bool SaveControlState(const CheckableMenuItem& control);
    bool RestoreControlState(CheckableMenuItem& control);
    bool SaveControlState(const CheckBoxControl& control);
    bool RestoreControlState(CheckBoxControl& control);
    bool SaveControlState(const RadioButtonControl& control);
    bool RestoreControlState(RadioButtonControl& control);
    void SaveWindowGeometry(const PlacedWindow& window, std::string_view name = {});
    void RestoreWindowGeometry(PlacedWindow& window, std::string_view name = {});

    std::string GetLocation() const { return location_; }

    static std::string TextBetweenMarkers(std::string_view source, std::string_view left,
                                          std::string_view right, text::MarkerSearch& search);
    static std::string TextBetweenMarkers(std::string_view source, std::string_view left,
                                          std::string_view right);

    // Whether changes reach the disk: the disk-file backend with its file open, still under its
    // name, and holding exactly what the store holds (a failed save leaves the file as it was
    // before it; the next save that succeeds writes all the store holds). The memory-file
    // backend reaches the disk only by SaveAs.
    bool WritesReachDisk() const;
    // Whether the last opening found the settings file held by another holder (another copy of
    // the program): the store then got no file handle.
    bool LockedByAnother() const { return lockedByAnother_; }
    // The path the file backends were opened on.
    const std::string& FileName() const { return fileName_; }

  private:
    friend struct ConfigStoreTestAccess;

    StoreResult Enqueue(PendingOp op, bool* reachedFile);
    StoreResult RunPending(bool* reachedFile);
    StoreResult Execute(const PendingOp& op);
    StoreResult SetValueNow(std::string_view section, std::string_view key, std::string_view value);
    StoreResult DeleteEntryNow(std::string_view section, std::string_view key);
    StoreResult RenameSectionNow(std::string_view oldName, std::string_view newName);
    StoreResult RenameKeyNow(std::string_view section, std::string_view oldKey,
                             std::string_view newKey);

    // An edit of the mirror; WriteThrough then takes the edits made so far to the file, once an
    // operation has made all of its own.
    void Patch(const ini::Edit& edit);
    void WriteThrough();
    bool PatchFile(const std::vector<ini::Edit>& edits);
    bool WriteToDisk(const std::vector<ini::Edit>& edits);
    void NoteFile(bool ok);
    std::string ReadFileForListing();

    // The binary value file of a key of the current section; empty when the names cannot form
    // one file name.
    std::string BinaryValueFile(std::string_view key) const;
    WriteResult WriteStored(std::string_view key, std::string_view stored);
    std::string ReadStored(std::string_view key, std::string_view storedDefault);
    bool WriteRegistryStored(std::string_view key, std::string_view stored);
    std::string ReadRegistryStored(std::string_view key, std::string_view storedDefault);
    bool SaveOnOff(const OnOffControl& control);
    bool RestoreOnOff(OnOffControl& control);

    std::string mirror_;
    std::shared_ptr<StoreFile> file_;
    std::string fileName_;
    platform::EventPoints* points_;
    bool busy_ = false;
    std::deque<PendingOp> pending_;
    std::string location_;
    std::string currentSection_;
    BackendKind kind_ = BackendKind::DiskFile;
    std::string registryPath_;
    std::size_t fileFailures_ = 0;      // writes to the file that failed or found no file
    std::vector<ini::Edit> unwritten_;  // edits of the mirror not yet taken to the file
    // The bytes of the disk file as the store last saw or wrote them; in step when the mirror
    // is onDisk_ with unwritten_ applied, so that the edits can be patched in place.
    std::string onDisk_;
    bool inStep_ = false;
    bool lockedByAnother_ = false;
};

}  // namespace zembrat::config
