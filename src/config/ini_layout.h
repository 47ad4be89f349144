// The byte layout of the settings file, as pure functions over its bytes.
//
// The store never parses the file: it finds sections, keys and line bounds by byte search and
// changes the file by one edit at a time. These functions are those searches and the edits they
// lead to; ConfigStore applies the edits to its mirror and its file, with its event points
// between the rounds. Positions are 0-based byte offsets, text::kNotFound for none. All texts are
// GBK bytes.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/gbk.h"

namespace zembrat::config::ini {

inline constexpr std::string_view kCrLf = "\r\n";

// A section header "[" name "]": its brackets.
struct HeaderSpan {
    std::size_t open = text::kNotFound;   // the "["
    std::size_t close = text::kNotFound;  // the "]"
    bool found() const { return open != text::kNotFound; }
};

// An entry CR LF key "=" value.
struct EntrySpan {
    std::size_t cr = text::kNotFound;  // the CR before the key
    std::size_t value = 0;             // first byte of the value
    std::size_t end = 0;               // one past its last byte
    bool found() const { return cr != text::kNotFound; }
};

// One change of the file: remove bytes at a position, then insert others there.
struct Edit {
    std::size_t at = 0;
    std::size_t remove = 0;
    std::string insert;
};
void ApplyEdit(std::string& file, const Edit& edit);

// The start of the line holding position at (just after the CR LF before it, or 0).
std::size_t LineStartBefore(std::string_view file, std::size_t at);
// Whether at is the first byte of the file or follows a CR LF.
bool IsLineStart(std::string_view file, std::size_t at);
// The next CR LF at or after from, or the end of the file.
std::size_t LineEndFrom(std::string_view file, std::size_t from);

// The first header "[" name "]" at or after from whose "[" starts a line. It need not end its
// line.
HeaderSpan FindSection(std::string_view file, std::string_view name, std::size_t from = 0);
// The section's first entry of key: CR LF key "=" after the header, with no complete header
// line between the "]" and that CR.
EntrySpan FindKey(std::string_view file, const HeaderSpan& header, std::string_view key);
// The "[" of the first complete header line (CR LF "[" ... "]" CR LF, no CR LF between the
// brackets) whose CR lies at or after from and before limit, and whose "]" does not lie after
// limit.
std::size_t NextHeaderLine(std::string_view file, std::size_t from, std::size_t limit);
// One past the section's last byte: the "[" of the next complete header line, or the end.
std::size_t SectionEnd(std::string_view file, const HeaderSpan& header);
// The header enclosing position at, searched backwards: the nearest "[" ... "]" CR LF with no
// CR LF between the brackets (and, when lineStart is set, the "[" starting its line).
HeaderSpan EnclosingHeader(std::string_view file, std::size_t at, bool lineStart);

// Writing one value, round by round: each round either finds the entry and replaces its value
// (done), or inserts the missing entry under the found header, or appends the missing header.
struct SetProgress {
    std::size_t from = 0;  // where the section search starts
    int appended = 0;      // headers appended so far
};
struct SetRound {
    Edit edit;
    bool done = false;  // the edit replaces the value: the write is complete
};
// The section is appended at most eleven times; after that the write cannot be done.
inline constexpr int kMostHeaderAppends = 11;
SetRound NextSetRound(std::string_view file, std::string_view section, std::string_view key,
                      std::string_view valueText, SetProgress& progress);
// The file after the whole write, or nothing when it cannot be done (a key holding a zero byte,
// a section that is never found again after it was appended).
std::optional<std::string> WithValue(std::string_view file, std::string_view section,
                                     std::string_view key, std::string_view valueText);

// Deleting, renaming: the one edit each makes, or why there is none.
enum class Lookup { kFound, kNoSection, kNoKey };
struct Change {
    Lookup lookup = Lookup::kFound;
    Edit edit;
};
// Without a key, the section from its "[" to the next complete header line (or the end);
// with one, CR LF key "=" value.
Change Deletion(std::string_view file, std::string_view section, std::string_view key);
Change SectionRenaming(std::string_view file, std::string_view oldName,
                       std::string_view newNameText);
Change KeyRenaming(std::string_view file, std::string_view section, std::string_view oldKey,
                   std::string_view newKeyText);

// Searches over the whole file; perRound is called before each occurrence is looked at.
using RoundHook = std::function<void()>;
// The sections that hold key, once each, in file order.
std::vector<std::string> SectionsWithKey(std::string_view file, std::string_view key,
                                         const RoundHook& perRound = {});
// The keys whose value starts with prefix (empty: whose value is empty), optionally only those
// of the section named sectionFilter.
std::vector<std::string> KeysWithValue(std::string_view file, std::string_view prefix,
                                       std::string_view sectionFilter,
                                       const RoundHook& perRound = {});

// The file as a text reader lists it: lines end at LF (a CR before it is dropped), and a zero
// or 0x1A byte ends the listing.
std::vector<std::string> ListingLines(std::string_view file);
// A line whose first character is "[" and last is "]".
bool IsHeaderLine(std::string_view line);
// Substring tests of a listing: include must be in s, exclude must not (empty: no test).
bool Passes(std::string_view s, std::string_view include, std::string_view exclude);
// The listed sections and keys; perLine is called once for each line looked at.
std::vector<std::string> ListedSections(std::string_view file, std::string_view include,
                                        std::string_view exclude, const RoundHook& perLine = {});
// With restrict set, only the keys of the first section whose header line passes the section
// tests; otherwise those of every line of the file.
std::vector<std::string> ListedKeys(std::string_view file, std::string_view include,
                                    std::string_view exclude, bool restrict,
                                    std::string_view sectionInclude,
                                    std::string_view sectionExclude, const RoundHook& perLine = {});

}  // namespace zembrat::config::ini
