#include "config/config_store.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "config/registry_standin.h"
#include "config/store_file.h"
#include "config/value_forms.h"
#include "platform/event_points.h"
#include "platform/files.h"
#include "platform/messages.h"
#include "text/codec.h"

namespace zembrat::config {
namespace {

using namespace text::literals;
using text::kNotFound;

constexpr std::string_view kCrLf = "\r\n";

// Searches over the mirror. A CR LF never lies inside a two-byte character (trail bytes start at
// 0x40), so patterns that begin with CR LF, or with "[" right after one, are searched byte by
// byte; a stray lead byte before a line break can then never hide the break.
std::size_t FindBytes(std::string_view s, std::string_view needle, std::size_t from) {
    if (from > s.size()) return kNotFound;
    return s.find(needle, from);
}

std::size_t LineStartBefore(std::string_view s, std::size_t at) {
    if (at < 2) return 0;
    const std::size_t crlf = s.rfind(kCrLf, at - 2);
    return crlf == kNotFound ? 0 : crlf + 2;
}

bool IsLineStart(std::string_view s, std::size_t at) {
    return at == 0 || (at >= 2 && s[at - 2] == '\r' && s[at - 1] == '\n');
}

// A "]" that ends its line as a character of its own, not as the second byte of a two-byte one.
bool IsBracketAtBoundary(std::string_view s, std::size_t bracket) {
    const std::size_t start = LineStartBefore(s, bracket);
    return text::EndsWith(s.substr(start, bracket + 1 - start), "]");
}

// First "]" CR LF at or after from.
std::size_t FindBracketLineEnd(std::string_view s, std::size_t from) {
    for (std::size_t at = FindBytes(s, "]\r\n", from); at != kNotFound;
         at = FindBytes(s, "]\r\n", at + 1)) {
        if (IsBracketAtBoundary(s, at)) return at;
    }
    return kNotFound;
}

// Last "]" CR LF lying wholly before end.
std::size_t FindLastBracketLineEnd(std::string_view s, std::size_t end) {
    if (end > s.size()) end = s.size();
    if (end < 3) return kNotFound;
    for (std::size_t at = s.rfind("]\r\n", end - 3); at != kNotFound;
         at = at == 0 ? kNotFound : s.rfind("]\r\n", at - 1)) {
        if (IsBracketAtBoundary(s, at)) return at;
    }
    return kNotFound;
}

// The section header enclosing position at, searched backwards: the nearest "[" ... "]" CR LF
// with no CR LF between the brackets (and, when lineStart is set, the "[" starting its line).
// Returns the "[" and "]" positions.
std::pair<std::size_t, std::size_t> EnclosingHeader(std::string_view s, std::size_t at,
                                                    bool lineStart) {
    std::size_t end = at + 2;  // the "]" CR LF may share the CR LF that starts an entry
    for (;;) {
        const std::size_t close = FindLastBracketLineEnd(s, end);
        if (close == kNotFound) return {kNotFound, kNotFound};
        const std::size_t open = text::FindLast(s, "[", close);
        if (open == kNotFound) return {kNotFound, kNotFound};
        const std::size_t crlf = FindBytes(s, kCrLf, open);
        const bool sameLine = crlf == kNotFound || crlf > close;
        if (sameLine && (!lineStart || IsLineStart(s, open))) return {open, close};
        end = open;
    }
}

// The settings file as lines: a line ends at LF (a CR before it is dropped). A zero or 0x1A
// byte ends the listing, as a text reader stops there.
std::vector<std::string> LinesOf(std::string_view bytes) {
    const std::size_t stop = bytes.find_first_of(std::string_view("\0\x1A", 2));
    if (stop != kNotFound) bytes = bytes.substr(0, stop);
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < bytes.size()) {
        std::size_t lf = bytes.find('\n', from);
        const bool last = lf == kNotFound;
        if (last) lf = bytes.size();
        std::size_t end = lf;
        if (!last && end > from && bytes[end - 1] == '\r') --end;
        lines.emplace_back(bytes.substr(from, end - from));
        from = lf + 1;
    }
    return lines;
}

bool IsHeaderLine(std::string_view line) {
    return text::StartsWith(line, "[") && text::EndsWith(line, "]");
}

bool Passes(std::string_view s, std::string_view include, std::string_view exclude) {
    if (!include.empty() && text::Find(s, include) == kNotFound) return false;
    if (!exclude.empty() && text::Find(s, exclude) != kNotFound) return false;
    return true;
}

bool HoldsZero(std::string_view s) {
    return s.find('\0') != kNotFound;
}

int IntFromReal(double v) {
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (v <= static_cast<double>(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(v);  // towards zero
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
      fileFailures_(other.fileFailures_) {}

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
}

bool ConfigStore::OpenFile(std::string_view path, bool inMemory) {
    Close();
    fileName_ = std::string(path);
    fileFailures_ = 0;
    if (inMemory) {
        platform::ReadWholeFile(path, mirror_);
        file_ = MakeMemoryFile(mirror_);
        return true;
    }
    // Take the file first, so that the bytes loaded are the ones the store then patches.
    file_ = OpenLockedDiskFile(path);
    if (!file_ || !file_->ReadAll(mirror_)) platform::ReadWholeFile(path, mirror_);
    return file_ != nullptr;
}

void ConfigStore::Reload() {
    platform::ReadWholeFile(fileName_, mirror_);
    if (kind_ == MemoryFile && file_) {
        // The copy in memory follows, so that it keeps equal to the mirror.
        std::size_t size = 0;
        NoteFile(file_->Size(size) && file_->Seek(0) && file_->Delete(size) &&
                 file_->Insert(mirror_));
    }
}

StoreResult ConfigStore::ProcessPending() {
    // Called from an event handler while an item runs: the running call will get to the rest.
    if (busy_) return pending_.empty() ? kStoreFailed : kStoreQueued;
    return RunPending(nullptr);
}

StoreResult ConfigStore::Enqueue(PendingOp op, bool* reachedFile) {
    pending_.push_back(std::move(op));
    if (busy_) return kStoreQueued;
    return RunPending(reachedFile);
}

StoreResult ConfigStore::RunPending(bool* reachedFile) {
    if (pending_.empty()) return kStoreFailed;
    busy_ = 1;
    const PendingOp op = pending_.front();
    const std::size_t failuresBefore = fileFailures_;
    const StoreResult result = Execute(op);
    if (reachedFile) *reachedFile = fileFailures_ == failuresBefore;
    pending_.pop_front();
    busy_ = 0;
    RunPending(nullptr);
    return result;
}

StoreResult ConfigStore::Execute(const PendingOp& op) {
    const auto text = [&op](std::size_t i) -> std::string_view {
        return i < op.texts.size() ? std::string_view(op.texts[i]) : std::string_view();
    };
    switch (op.kind) {
        case kPendingSetValue:
            return SetValueNow(text(0), text(1), text(2));
        case kPendingDelete:
            return DeleteEntryNow(text(0), text(1));
        case kPendingRenameSection:
            return RenameSectionNow(text(0), text(1));
        case kPendingRenameKey:
            return RenameKeyNow(text(0), text(1), text(2));
        default:
            return kStoreFailed;
    }
}

// --- locating -------------------------------------------------------------------------------

ConfigStore::Header ConfigStore::LocateSection(std::string_view name, std::size_t from) const {
    const std::string header = "[" + std::string(name) + "]";
    for (std::size_t at = FindBytes(mirror_, header, from); at != kNotFound;
         at = FindBytes(mirror_, header, at + 1)) {
        if (IsLineStart(mirror_, at)) return {at, at + header.size() - 1};
    }
    return {};
}

ConfigStore::Entry ConfigStore::LocateKey(const Header& header, std::string_view key) const {
    const std::string pattern = "\r\n" + std::string(key) + "=";
    const std::size_t cr = FindBytes(mirror_, pattern, header.close);
    if (cr == kNotFound) return {};
    // Only the first occurrence counts: behind a complete header line it is another section's.
    if (NextHeader(header.close + 1, cr + 1) != kNotFound) return {};
    const std::size_t value = cr + pattern.size();
    const std::size_t next = FindBytes(mirror_, kCrLf, value);
    return {cr, value, next == kNotFound ? mirror_.size() : next};
}

// The "[" of the first complete header line (CR LF "[" ... "]" CR LF, no CR LF between the
// brackets) whose CR lies before limit and whose "]" does not lie after it; 0-based.
std::size_t ConfigStore::NextHeader(std::size_t from, std::size_t limit) const {
    for (;;) {
        const std::size_t cr = FindBytes(mirror_, "\r\n[", from);
        if (cr == kNotFound || cr >= limit) return kNotFound;
        const std::size_t open = cr + 2;
        const std::size_t close = FindBracketLineEnd(mirror_, open);
        if (close == kNotFound || close > limit) return kNotFound;
        const std::size_t crlf = FindBytes(mirror_, kCrLf, open);
        if (crlf == kNotFound || crlf > close) return open;
        from = open;
    }
}

long ConfigStore::NextHeaderBetween(long start, long end) const {
    if (end < 1) return -1;
    const std::size_t from = start > 1 ? static_cast<std::size_t>(start - 1) : 0;
    const std::size_t found = NextHeader(from, static_cast<std::size_t>(end - 1));
    return found == kNotFound ? -1 : static_cast<long>(found) + 1;
}

// --- patching -------------------------------------------------------------------------------

void ConfigStore::NoteFile(bool ok) {
    if (!ok) ++fileFailures_;
}

void ConfigStore::Replace(std::size_t at, std::size_t count, std::string_view bytes) {
    mirror_.replace(at, count, bytes);
    NoteFile(file_ && file_->Seek(at) && file_->Delete(count) && file_->Seek(at) &&
             file_->Insert(bytes));
}

void ConfigStore::Insert(std::size_t at, std::string_view bytes) {
    mirror_.insert(at, bytes);
    NoteFile(file_ && file_->Seek(at) && file_->Insert(bytes));
}

void ConfigStore::Erase(std::size_t at, std::size_t count) {
    mirror_.erase(at, count);
    NoteFile(file_ && file_->Seek(at) && file_->Delete(count));
}

bool ConfigStore::WritesReachDisk() const {
    if (kind_ == RegistryBackend) return true;  // every registry write reports for itself
    return kind_ != MemoryFile && file_ && fileFailures_ == 0;
}

// --- mutating operations --------------------------------------------------------------------

StoreResult ConfigStore::SetValue(std::string_view section, std::string_view key,
                                  std::string_view value, bool executeNow) {
    if (executeNow) return SetValueNow(section, key, value);
    return Enqueue({kPendingSetValue, {std::string(section), std::string(key), std::string(value)}},
                   nullptr);
}

StoreResult ConfigStore::SetValueNow(std::string_view section, std::string_view key,
                                     std::string_view value) {
    // The store never writes a zero byte; a key holding one could never be found again.
    if (HoldsZero(key)) return kStoreFailed;
    const std::string valueText = text::TextOf(value);
    std::size_t from = 0;  // where the section search starts
    int appended = 0;
    for (;;) {
        points_->ProcessEvents();
        const Header header = LocateSection(section, from);
        if (header.found()) {
            from = header.open;
            const Entry entry = LocateKey(header, key);
            if (entry.found()) {
                Replace(entry.value, entry.end - entry.value, valueText);
                return kStoreDone;
            }
            // A new key goes right under the header. Bytes that follow the "]" on the header
            // line stay on it, so the new entry starts at the end of that line.
            const std::size_t lineEnd = FindBytes(mirror_, kCrLf, header.close + 1);
            Insert(lineEnd == kNotFound ? mirror_.size() : lineEnd,
                   "\r\n" + std::string(key) + "=");
            continue;
        }
        // The section is missing: append its header; the next round finds it there. The name
        // is written as text, so a name holding a zero byte is never found.
        from = mirror_.empty() ? 0 : mirror_.size() - 1;
        Insert(mirror_.size(), (mirror_.empty() ? "[" : "\r\n[") + text::TextOf(section) + "]");
        if (++appended <= 10) continue;
        platform::MessageRequest warning;
        warning.text = "配置模块出现意外，可能导致无法正常保存！详情请咨询Qorv。"_gbk;
        warning.title = "Qorv："_gbk;
        warning.warning = true;
        warning.systemModal = true;
        points_->ShowMessage(warning);
        platform::MessageRequest content;
        content.text = GetContent();
        points_->ShowMessage(content);
        return kStoreFailed;
    }
}

StoreResult ConfigStore::DeleteEntry(std::string_view section, std::string_view key,
                                     bool executeNow) {
    if (executeNow) return DeleteEntryNow(section, key);
    return Enqueue({kPendingDelete, {std::string(section), std::string(key)}}, nullptr);
}

StoreResult ConfigStore::DeleteEntryNow(std::string_view section, std::string_view key) {
    const Header header = LocateSection(section, 0);
    if (!header.found()) return kSectionNotFound;
    // The section runs up to the "[" of the next complete header line, or to the end.
    const std::size_t next =
        mirror_.empty() ? kNotFound : NextHeader(header.open, mirror_.size() - 1);
    const std::size_t end = next == kNotFound ? mirror_.size() : next;
    std::size_t first = header.open, last = end;
    if (!key.empty()) {
        const std::size_t cr = FindBytes(mirror_, "\r\n" + std::string(key) + "=", header.open);
        if (cr == kNotFound || cr >= end) return kKeyNotFound;
        const std::size_t lineEnd = FindBytes(mirror_, kCrLf, cr + 2);
        first = cr;
        last = lineEnd == kNotFound ? mirror_.size() : lineEnd;
    }
    Erase(first, last - first);
    return kStoreDone;
}

StoreResult ConfigStore::RenameSection(std::string_view oldName, std::string_view newName,
                                       bool executeNow) {
    if (executeNow) return RenameSectionNow(oldName, newName);
    return Enqueue({kPendingRenameSection, {std::string(oldName), std::string(newName)}}, nullptr);
}

StoreResult ConfigStore::RenameSectionNow(std::string_view oldName, std::string_view newName) {
    points_->ProcessEvents();
    const Header header = LocateSection(oldName, 0);
    if (!header.found()) return kSectionNotFound;
    Replace(header.open + 1, oldName.size(), text::TextOf(newName));
    return kStoreDone;
}

StoreResult ConfigStore::RenameKey(std::string_view section, std::string_view oldKey,
                                   std::string_view newKey, bool executeNow) {
    if (executeNow) return RenameKeyNow(section, oldKey, newKey);
    return Enqueue(
        {kPendingRenameKey, {std::string(section), std::string(oldKey), std::string(newKey)}},
        nullptr);
}

StoreResult ConfigStore::RenameKeyNow(std::string_view section, std::string_view oldKey,
                                      std::string_view newKey) {
    points_->ProcessEvents();
    const Header header = LocateSection(section, 0);
    if (!header.found()) return kSectionNotFound;
    const std::size_t cr = FindBytes(mirror_, "\r\n" + std::string(oldKey) + "=", header.close + 1);
    // The same section test as for reading, which also sees a header on the very next line.
    if (cr == kNotFound || NextHeader(header.close + 1, cr + 1) != kNotFound) return kKeyNotFound;
    Replace(cr + 2, oldKey.size(), text::TextOf(newKey));
    return kStoreDone;
}

// --- reading --------------------------------------------------------------------------------

std::string ConfigStore::GetValue(std::string_view section, std::string_view key,
                                  std::string_view defaultValue, bool emptyIsMissing) {
    points_->ProcessEvents();
    const Header header = LocateSection(section, 0);
    if (!header.found()) return std::string(defaultValue);
    const Entry entry = LocateKey(header, key);
    if (!entry.found()) return std::string(defaultValue);
    if (entry.end == entry.value && emptyIsMissing) return std::string(defaultValue);
    return text::TextOf(std::string_view(mirror_).substr(entry.value, entry.end - entry.value));
}

int ConfigStore::SectionsWithKey(std::string_view key, std::vector<std::string>& names) {
    names.clear();
    // A snapshot: an event handler may change the mirror while the rounds go on.
    const std::string content = mirror_;
    const std::string pattern = "\r\n" + std::string(key) + "=";
    std::size_t previous = kNotFound;
    for (std::size_t at = FindBytes(content, pattern, 0); at != kNotFound;
         at = FindBytes(content, pattern, at + 1)) {
        points_->ProcessEvents();
        const auto [open, close] = EnclosingHeader(content, at, true);
        // A header lying before the previous occurrence was reached from it already.
        const bool seen = previous != kNotFound && open < previous;
        if (open != kNotFound && !seen) names.push_back(content.substr(open + 1, close - open - 1));
        previous = at;
    }
    return static_cast<int>(names.size());
}

int ConfigStore::KeysWithValue(std::string_view valuePrefix, std::vector<std::string>& keys,
                               std::string_view sectionFilter) {
    keys.clear();
    const std::string content = mirror_;
    const std::string pattern = valuePrefix.empty() ? "=\r\n" : "=" + std::string(valuePrefix);
    for (std::size_t at = FindBytes(content, pattern, 0); at != kNotFound;
         at = FindBytes(content, pattern, at + 1)) {
        points_->ProcessEvents();
        if (!sectionFilter.empty()) {
            const auto [open, close] = EnclosingHeader(content, at, false);
            if (open == kNotFound ||
                std::string_view(content).substr(open + 1, close - open - 1) != sectionFilter) {
                continue;
            }
        }
        const std::size_t start = LineStartBefore(content, at);
        keys.push_back(content.substr(start, at - start));
    }
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
    names.clear();
    for (const std::string& line : LinesOf(ReadFileForListing())) {
        points_->ProcessEvents();
        if (IsHeaderLine(line) && Passes(line, include, exclude)) {
            names.push_back(text::TextBetweenMarkers(line, "[", "]"));
        }
    }
    return static_cast<int>(names.size());
}

int ConfigStore::ListKeys(std::vector<std::string>& keys, std::string_view include,
                          std::string_view exclude, std::string_view restrict,
                          std::string_view sectionInclude, std::string_view sectionExclude) {
    keys.clear();
    const bool restricted = !restrict.empty();
    bool inSection = false;
    for (const std::string& line : LinesOf(ReadFileForListing())) {
        points_->ProcessEvents();
        const bool header = IsHeaderLine(line);
        if (restricted) {
            if (header) {
                if (inSection) break;
                inSection = Passes(line, sectionInclude, sectionExclude);
                continue;
            }
            if (!inSection) continue;
        } else if (header) {
            continue;
        }
        std::string key = text::TextBetweenMarkers(line, "", "=");
        if (key.empty() || !Passes(key, include, exclude)) continue;
        keys.push_back(std::move(key));
    }
    return static_cast<int>(keys.size());
}

// --- whole content --------------------------------------------------------------------------

std::string ConfigStore::GetContent() const {
    return text::TextOf(mirror_);
}

void ConfigStore::SetContent(std::string_view content, bool append) {
    const std::string bytes = text::TextOf(content);
    if (!append) {
        mirror_.clear();
        std::size_t size = 0;
        NoteFile(file_ && file_->Seek(0) && file_->Size(size) && file_->Delete(size));
    }
    mirror_ += bytes;
    NoteFile(file_ && file_->SeekToEnd() && file_->Insert(bytes));
}

bool ConfigStore::SaveAs(std::string_view path) {
    const std::string target(path.empty() ? std::string_view(fileName_) : path);
    if (target.empty()) return false;
    return platform::WriteWholeFile(target, mirror_);
}

bool ConfigStore::Open(std::string_view location, int kind) {
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

// --- typed values ---------------------------------------------------------------------------

bool ConfigStore::WriteStored(std::string_view key, std::string_view stored) {
    if (kind_ == RegistryBackend) {
        const std::string full = registryPath_ + std::string(key);
        const std::size_t cut = text::FindLast(full, "\\");
        return WriteRegistryValue(std::string_view(full).substr(0, cut),
                                  std::string_view(full).substr(cut + 1), stored);
    }
    bool reached = false;
    const StoreResult result = Enqueue(
        {kPendingSetValue, {currentSection_, std::string(key), std::string(stored)}}, &reached);
    return result == kStoreDone && reached;
}

std::string ConfigStore::ReadStored(std::string_view key, std::string_view storedDefault) {
    if (kind_ == RegistryBackend) {
        const std::string full = registryPath_ + std::string(key);
        const std::size_t cut = text::FindLast(full, "\\");
        const auto value = ReadRegistryValue(std::string_view(full).substr(0, cut),
                                             std::string_view(full).substr(cut + 1));
        return value ? *value : std::string(storedDefault);
    }
    return GetValue(currentSection_, key, storedDefault, true);
}

bool ConfigStore::WriteText(std::string_view key, std::string_view value) {
    return WriteStored(key, TextToStored(text::TextOf(value)));
}

std::string ConfigStore::ReadText(std::string_view key, std::string_view defaultValue) {
    return TextFromStored(ReadStored(key, TextToStored(defaultValue)));
}

bool ConfigStore::WriteNumber(std::string_view key, double value) {
    return WriteStored(key, NumberToStored(value));
}

double ConfigStore::ReadNumber(std::string_view key, double defaultValue) {
    return NumberFromStored(ReadStored(key, NumberToStored(defaultValue)));
}

bool ConfigStore::WriteBool(std::string_view key, bool value) {
    return WriteStored(key, BoolToStored(value));
}

bool ConfigStore::ReadBool(std::string_view key, bool defaultValue) {
    return ReadStored(key, BoolToStored(defaultValue)) == TrueText();
}

bool ConfigStore::ReadBoolUnlessFalse(std::string_view key, bool defaultValue) {
    return ReadStored(key, BoolToStored(defaultValue)) != FalseText();
}

bool ConfigStore::WriteDateTime(std::string_view key, const platform::DateTime& value) {
    return WriteStored(key, DateTimeToStored(value));
}

platform::DateTime ConfigStore::ReadDateTime(std::string_view key,
                                             const platform::DateTime& defaultValue) {
    return DateTimeFromStored(ReadStored(key, DateTimeToStored(defaultValue)));
}

std::string ConfigStore::BinaryValueFile(std::string_view key) const {
    // Each value is one file directly in "inibin": names that hold a separator or a zero byte
    // would lead elsewhere.
    for (std::string_view name : {std::string_view(currentSection_), key}) {
        if (HoldsZero(name) || name.find(text::kPathSeparator) != kNotFound) return {};
    }
    const std::string& location = location_.empty() ? fileName_ : location_;
    // Byte by byte: the separator is never part of a two-byte character, even after a stray byte.
    const std::size_t cut = location.rfind(text::kPathSeparator);
    // A location without a folder is relative: its folder is the working one.
    std::string folder =
        cut == kNotFound ? std::string("inibin") : location.substr(0, cut + 1) + "inibin";
    return folder + text::kPathSeparator + currentSection_ + "-" + std::string(key) + ".ibn";
}

text::Bytes ConfigStore::ReadBinary(std::string_view key, std::string_view defaultBytes) {
    const std::string file = BinaryValueFile(key);
    text::Bytes bytes;
    if (file.empty() || !platform::ReadWholeFile(file, bytes) || bytes.empty()) {
        return text::Bytes(defaultBytes);
    }
    return bytes;
}

bool ConfigStore::WriteBinary(std::string_view key, std::string_view bytes) {
    const std::string file = BinaryValueFile(key);
    if (file.empty()) return false;
    const std::string folder = file.substr(0, file.rfind(text::kPathSeparator));
    if (!folder.empty() && !platform::IsFolder(folder) && !platform::CreateOneFolder(folder)) {
        return false;
    }
    return platform::WriteWholeFile(file, bytes);
}

// --- window geometry and control states -----------------------------------------------------

bool ConfigStore::SaveOnOff(const OnOffControl& control) {
    return WriteBool(control.KeyText(), control.IsOn());
}

bool ConfigStore::RestoreOnOff(OnOffControl& control) {
    control.SetOn(ReadBool(control.KeyText(), control.IsOn()));
    return control.IsOn();
}

bool ConfigStore::SaveControlState(const CheckableMenuItem& control) {
    return SaveOnOff(control);
}
bool ConfigStore::RestoreControlState(CheckableMenuItem& control) {
    return RestoreOnOff(control);
}
bool ConfigStore::SaveControlState(const CheckBoxControl& control) {
    return SaveOnOff(control);
}
bool ConfigStore::RestoreControlState(CheckBoxControl& control) {
    return RestoreOnOff(control);
}
bool ConfigStore::SaveControlState(const RadioButtonControl& control) {
    return SaveOnOff(control);
}
bool ConfigStore::RestoreControlState(RadioButtonControl& control) {
    return RestoreOnOff(control);
}

namespace {

std::string GeometrySection(std::string_view name) {
    return (name.empty() ? "主界面"_gbk : std::string(name)) + ".尺寸"_gbk;
}

}  // namespace

void ConfigStore::SaveWindowGeometry(const PlacedWindow& window, std::string_view name) {
    SetSection(GeometrySection(name));
    const int state = window.PlacementState();
    WriteNumber("位置"_gbk, state);
    // In these states the rectangle is not the window's own; the last one saved is kept.
    if (state >= kPlacementMinimised) return;
    const WindowRect rect = window.Rect();
    WriteNumber("左边"_gbk, rect.left);
    WriteNumber("顶边"_gbk, rect.top);
    WriteNumber("宽度"_gbk, rect.width);
    WriteNumber("高度"_gbk, rect.height);
}

void ConfigStore::RestoreWindowGeometry(PlacedWindow& window, std::string_view name) {
    SetSection(GeometrySection(name));
    window.SetPlacementState(IntFromReal(ReadNumber("位置"_gbk, window.PlacementState())));
    if (window.PlacementState() >= kPlacementMinimised) return;
    const WindowRect current = window.Rect();
    WindowRect rect;
    rect.left = IntFromReal(ReadNumber("左边"_gbk, current.left));
    rect.top = IntFromReal(ReadNumber("顶边"_gbk, current.top));
    rect.width = IntFromReal(ReadNumber("宽度"_gbk, current.width));
    rect.height = IntFromReal(ReadNumber("高度"_gbk, current.height));
    window.SetRect(rect);
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
