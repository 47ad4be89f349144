// ConfigStore: the settings module.
// The program itself calls Open (start-up), SetSection, ReadText, WriteText, WritesReachDisk and
// FileName (the main window); the rest is the module's full set of operations.
//
// The store keeps the whole settings file as one byte sequence, the content mirror, and works by
// byte search, insertion and deletion in it; it never parses the file. In the disk-file backend
// every change is applied to the mirror and, at the same offset, to the open file, so the file
// always equals the mirror and there is no save step. The memory-file backend patches a copy in
// memory that reaches the disk only through SaveAs; the registry backend keeps the typed values
// in the registry stand-in (config/registry_standin.h).
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
#include "platform/datetime.h"
#include "text/gbk.h"
#include "text/markers.h"

namespace zembrat::platform {
class EventPoints;
}

namespace zembrat::config {

namespace ini {
struct Edit;
}
class StoreFile;

enum BackendKind : int { DiskFile = 0, MemoryFile = 1, RegistryBackend = 2 };

// Results of the mutating operations.
using StoreResult = int;
inline constexpr StoreResult kStoreDone = 0;
inline constexpr StoreResult kSectionNotFound = 1;
inline constexpr StoreResult kKeyNotFound = 2;
inline constexpr StoreResult kStoreQueued = 3;  // the store is busy; the operation will still run
inline constexpr StoreResult kStoreFailed = -1;

enum PendingKind : int {
    kPendingSetValue = 0,
    kPendingDelete = 1,
    kPendingRenameSection = 2,
    kPendingRenameKey = 3
};

struct PendingOp {
    int kind = kPendingSetValue;
    std::vector<std::string> texts;
};

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
    bool Open(std::string_view location, int kind = DiskFile);
    void SetSection(std::string_view name);

    text::Bytes ReadBinary(std::string_view key, std::string_view defaultBytes = {});
    bool WriteBinary(std::string_view key, std::string_view bytes);
    // The typed writes report true when the change is stored: in the file backends, done now
    // (not queued) and every file operation of it succeeded.
    bool WriteText(std::string_view key, std::string_view value);
    std::string ReadText(std::string_view key, std::string_view defaultValue = {});
    bool WriteNumber(std::string_view key, double value);
    double ReadNumber(std::string_view key, double defaultValue = 0);
    bool WriteBool(std::string_view key, bool value);
    bool ReadBool(std::string_view key, bool defaultValue = false);
    bool ReadBoolUnlessFalse(std::string_view key, bool defaultValue = false);
    bool WriteDateTime(std::string_view key, const platform::DateTime& value);
    platform::DateTime ReadDateTime(std::string_view key,
                                    const platform::DateTime& defaultValue = {});

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

    // State, for the application and for tests.
    const std::string& ContentBytes() const { return mirror_; }
    bool HasFileHandle() const { return file_ != nullptr; }
    // Whether changes reach the disk: the disk-file backend with its file open and no file
    // operation failed since it was opened. The memory-file backend reaches it only by SaveAs.
    bool WritesReachDisk() const;
    bool Busy() const { return busy_ != 0; }
    const std::deque<PendingOp>& PendingQueue() const { return pending_; }
    const std::string& CurrentSection() const { return currentSection_; }
    const std::string& RegistryPath() const { return registryPath_; }
    const std::string& FileName() const { return fileName_; }
    int Backend() const { return kind_; }
    // The binary value file of a key of the current section; empty when the names cannot form
    // one file name.
    std::string BinaryValueFile(std::string_view key) const;

  private:
    StoreResult Enqueue(PendingOp op, bool* reachedFile);
    StoreResult RunPending(bool* reachedFile);
    StoreResult Execute(const PendingOp& op);
    StoreResult SetValueNow(std::string_view section, std::string_view key, std::string_view value);
    StoreResult DeleteEntryNow(std::string_view section, std::string_view key);
    StoreResult RenameSectionNow(std::string_view oldName, std::string_view newName);
    StoreResult RenameKeyNow(std::string_view section, std::string_view oldKey,
                             std::string_view newKey);

    // Mirror and file patched in one step.
    void Patch(const ini::Edit& edit);
    void NoteFile(bool ok);
    std::string ReadFileForListing();

    bool WriteStored(std::string_view key, std::string_view stored);
    std::string ReadStored(std::string_view key, std::string_view storedDefault);
    bool WriteRegistryStored(std::string_view key, std::string_view stored);
    std::string ReadRegistryStored(std::string_view key, std::string_view storedDefault);
    bool SaveOnOff(const OnOffControl& control);
    bool RestoreOnOff(OnOffControl& control);

    std::string mirror_;
    std::shared_ptr<StoreFile> file_;
    std::string fileName_;
    platform::EventPoints* points_;
    int busy_ = 0;
    std::deque<PendingOp> pending_;
    std::string location_;
    std::string currentSection_;
    int kind_ = DiskFile;
    std::string registryPath_;
    std::size_t fileFailures_ = 0;  // file operations that failed or found no file
};

}  // namespace zembrat::config
