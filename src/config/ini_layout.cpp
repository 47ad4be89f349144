#include "config/ini_layout.h"

#include <utility>

#include "text/markers.h"

namespace zembrat::config::ini {
namespace {

using text::kNotFound;

// A CR LF never lies inside a two-byte character (trail bytes start at 0x40), so patterns that
// begin with CR LF, or with "[" right after one, are searched byte by byte; a stray lead byte
// before a line break can then never hide the break.
std::size_t FindBytes(std::string_view s, std::string_view needle, std::size_t from) {
    if (from > s.size()) return kNotFound;
    return s.find(needle, from);
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

bool HoldsZero(std::string_view s) {
    return s.find('\0') != kNotFound;
}

void Call(const RoundHook& hook) {
    if (hook) hook();
}

}  // namespace

void ApplyEdit(std::string& file, const Edit& edit) {
    file.replace(edit.at, edit.remove, edit.insert);
}

std::size_t LineStartBefore(std::string_view file, std::size_t at) {
    if (at < 2) return 0;
    const std::size_t crlf = file.rfind(kCrLf, at - 2);
    return crlf == kNotFound ? 0 : crlf + 2;
}

bool IsLineStart(std::string_view file, std::size_t at) {
    return at == 0 || (at >= 2 && file[at - 2] == '\r' && file[at - 1] == '\n');
}

std::size_t LineEndFrom(std::string_view file, std::size_t from) {
    const std::size_t crlf = FindBytes(file, kCrLf, from);
    return crlf == kNotFound ? file.size() : crlf;
}

HeaderSpan FindSection(std::string_view file, std::string_view name, std::size_t from) {
    const std::string header = "[" + std::string(name) + "]";
    for (std::size_t at = FindBytes(file, header, from); at != kNotFound;
         at = FindBytes(file, header, at + 1)) {
        if (IsLineStart(file, at)) return {at, at + header.size() - 1};
    }
    return {};
}

EntrySpan FindKey(std::string_view file, const HeaderSpan& header, std::string_view key) {
    const std::string pattern = "\r\n" + std::string(key) + "=";
    const std::size_t cr = FindBytes(file, pattern, header.close);
    if (cr == kNotFound) return {};
    // Only the first occurrence counts: behind a complete header line it is another section's.
    if (NextHeaderLine(file, header.close + 1, cr + 1) != kNotFound) return {};
    const std::size_t value = cr + pattern.size();
    return {cr, value, LineEndFrom(file, value)};
}

std::size_t NextHeaderLine(std::string_view file, std::size_t from, std::size_t limit) {
    for (;;) {
        const std::size_t cr = FindBytes(file, "\r\n[", from);
        if (cr == kNotFound || cr >= limit) return kNotFound;
        const std::size_t open = cr + 2;
        const std::size_t close = FindBracketLineEnd(file, open);
        if (close == kNotFound || close > limit) return kNotFound;
        const std::size_t crlf = FindBytes(file, kCrLf, open);
        if (crlf == kNotFound || crlf > close) return open;
        from = open;
    }
}

std::size_t SectionEnd(std::string_view file, const HeaderSpan& header) {
    const std::size_t next =
        file.empty() ? kNotFound : NextHeaderLine(file, header.open, file.size() - 1);
    return next == kNotFound ? file.size() : next;
}

HeaderSpan EnclosingHeader(std::string_view file, std::size_t at, bool lineStart) {
    std::size_t end = at + 2;  // the "]" CR LF may share the CR LF that starts an entry
    for (;;) {
        const std::size_t close = FindLastBracketLineEnd(file, end);
        if (close == kNotFound) return {};
        const std::size_t open = text::FindLast(file, "[", close);
        if (open == kNotFound) return {};
        const std::size_t crlf = FindBytes(file, kCrLf, open);
        const bool sameLine = crlf == kNotFound || crlf > close;
        if (sameLine && (!lineStart || IsLineStart(file, open))) return {open, close};
        end = open;
    }
}

// --- writing a value ------------------------------------------------------------------------

SetRound NextSetRound(std::string_view file, std::string_view section, std::string_view key,
                      std::string_view valueText, SetProgress& progress) {
    const HeaderSpan header = FindSection(file, section, progress.from);
    if (header.found()) {
        progress.from = header.open;
        const EntrySpan entry = FindKey(file, header, key);
        if (entry.found()) {
            return {{entry.value, entry.end - entry.value, std::string(valueText)}, true};
        }
        // A new key goes right under the header. Bytes that follow the "]" on the header line
        // stay on it, so the new entry starts at the end of that line.
        return {{LineEndFrom(file, header.close + 1), 0, "\r\n" + std::string(key) + "="}, false};
    }
    // The section is missing: append its header; the next round finds it there. The name is
    // written as text, so a name holding a zero byte is never found.
    progress.from = file.empty() ? 0 : file.size() - 1;
    ++progress.appended;
    return {{file.size(), 0, (file.empty() ? "[" : "\r\n[") + text::TextOf(section) + "]"}, false};
}

std::optional<std::string> WithValue(std::string_view file, std::string_view section,
                                     std::string_view key, std::string_view valueText) {
    if (HoldsZero(key)) return std::nullopt;
    std::string result(file);
    SetProgress progress;
    for (;;) {
        const SetRound round = NextSetRound(result, section, key, valueText, progress);
        ApplyEdit(result, round.edit);
        if (round.done) return result;
        if (progress.appended >= kMostHeaderAppends) return std::nullopt;
    }
}

// --- deleting and renaming ------------------------------------------------------------------

Change Deletion(std::string_view file, std::string_view section, std::string_view key) {
    const HeaderSpan header = FindSection(file, section);
    if (!header.found()) return {Lookup::kNoSection, {}};
    const std::size_t end = SectionEnd(file, header);
    if (key.empty()) return {Lookup::kFound, {header.open, end - header.open, {}}};
    const std::size_t cr = FindBytes(file, "\r\n" + std::string(key) + "=", header.open);
    if (cr == kNotFound || cr >= end) return {Lookup::kNoKey, {}};
    return {Lookup::kFound, {cr, LineEndFrom(file, cr + 2) - cr, {}}};
}

Change SectionRenaming(std::string_view file, std::string_view oldName,
                       std::string_view newNameText) {
    const HeaderSpan header = FindSection(file, oldName);
    if (!header.found()) return {Lookup::kNoSection, {}};
    return {Lookup::kFound, {header.open + 1, oldName.size(), std::string(newNameText)}};
}

Change KeyRenaming(std::string_view file, std::string_view section, std::string_view oldKey,
                   std::string_view newKeyText) {
    const HeaderSpan header = FindSection(file, section);
    if (!header.found()) return {Lookup::kNoSection, {}};
    const std::size_t cr = FindBytes(file, "\r\n" + std::string(oldKey) + "=", header.close + 1);
    // The same section test as for reading, which also sees a header on the very next line.
    if (cr == kNotFound || NextHeaderLine(file, header.close + 1, cr + 1) != kNotFound) {
        return {Lookup::kNoKey, {}};
    }
    return {Lookup::kFound, {cr + 2, oldKey.size(), std::string(newKeyText)}};
}

// --- searches -------------------------------------------------------------------------------

std::vector<std::string> SectionsWithKey(std::string_view file, std::string_view key,
                                         const RoundHook& perRound) {
    std::vector<std::string> names;
    const std::string pattern = "\r\n" + std::string(key) + "=";
    std::size_t previous = kNotFound;
    for (std::size_t at = FindBytes(file, pattern, 0); at != kNotFound;
         at = FindBytes(file, pattern, at + 1)) {
        Call(perRound);
        const HeaderSpan header = EnclosingHeader(file, at, true);
        // A header lying before the previous occurrence was reached from it already.
        const bool seen = previous != kNotFound && header.open < previous;
        if (header.found() && !seen) {
            names.emplace_back(file.substr(header.open + 1, header.close - header.open - 1));
        }
        previous = at;
    }
    return names;
}

std::vector<std::string> KeysWithValue(std::string_view file, std::string_view prefix,
                                       std::string_view sectionFilter, const RoundHook& perRound) {
    std::vector<std::string> keys;
    const std::string pattern = prefix.empty() ? "=\r\n" : "=" + std::string(prefix);
    for (std::size_t at = FindBytes(file, pattern, 0); at != kNotFound;
         at = FindBytes(file, pattern, at + 1)) {
        Call(perRound);
        if (!sectionFilter.empty()) {
            const HeaderSpan header = EnclosingHeader(file, at, false);
            if (!header.found() ||
                file.substr(header.open + 1, header.close - header.open - 1) != sectionFilter) {
                continue;
            }
        }
        const std::size_t start = LineStartBefore(file, at);
        keys.emplace_back(file.substr(start, at - start));
    }
    return keys;
}

// --- listings -------------------------------------------------------------------------------

std::vector<std::string> ListingLines(std::string_view file) {
    const std::size_t stop = file.find_first_of(std::string_view("\0\x1A", 2));
    if (stop != kNotFound) file = file.substr(0, stop);
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < file.size()) {
        std::size_t lf = file.find('\n', from);
        const bool last = lf == kNotFound;
        if (last) lf = file.size();
        std::size_t end = lf;
        if (!last && end > from && file[end - 1] == '\r') --end;
        lines.emplace_back(file.substr(from, end - from));
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

std::vector<std::string> ListedSections(std::string_view file, std::string_view include,
                                        std::string_view exclude, const RoundHook& perLine) {
    std::vector<std::string> names;
    for (const std::string& line : ListingLines(file)) {
        Call(perLine);
        if (IsHeaderLine(line) && Passes(line, include, exclude)) {
            names.push_back(text::TextBetweenMarkers(line, "[", "]"));
        }
    }
    return names;
}

std::vector<std::string> ListedKeys(std::string_view file, std::string_view include,
                                    std::string_view exclude, bool restrict,
                                    std::string_view sectionInclude,
                                    std::string_view sectionExclude, const RoundHook& perLine) {
    std::vector<std::string> keys;
    bool inSection = false;
    for (const std::string& line : ListingLines(file)) {
        Call(perLine);
        const bool header = IsHeaderLine(line);
        if (restrict) {
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
    return keys;
}

}  // namespace zembrat::config::ini
