#include "publish/remote_listing.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>

namespace zembrat::publish {

std::string FolderOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string NameOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::vector<std::string> FolderLevels(std::string_view folder) {
    std::vector<std::string> levels;
    for (auto slash = folder.find('/'); slash != std::string_view::npos;
         slash = folder.find('/', slash + 1))
        if (slash > 0) levels.emplace_back(folder.substr(0, slash + 1));
    return levels;
}

std::vector<std::string_view> XmlElements(std::string_view xml, std::string_view local) {
    std::vector<std::string_view> found;
    for (std::size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
        const std::size_t end = xml.find_first_of(" \t\r\n/>", at + 1);
        if (end == std::string_view::npos) break;
        const std::string_view name = xml.substr(at + 1, end - at - 1);
        const std::size_t colon = name.find(':');
        if ((colon == std::string_view::npos ? name : name.substr(colon + 1)) != local) continue;
        const std::size_t open = xml.find('>', end);
        if (open == std::string_view::npos) break;
        if (xml[open - 1] == '/') {
            found.push_back({});  // <name/>: there, and empty
            continue;
        }
        const std::size_t close = xml.find("</" + std::string(name) + ">", open);
        if (close == std::string_view::npos) break;
        found.push_back(xml.substr(open + 1, close - open - 1));
        at = close;
    }
    return found;
}

std::string XmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t semicolon = text[i] == '&' ? text.find(';', i) : std::string_view::npos;
        if (semicolon == std::string_view::npos || semicolon - i > 10) {
            out += text[i];
            continue;
        }
        const std::string_view name = text.substr(i + 1, semicolon - i - 1);
        unsigned long code = 0;
        if (name == "amp")
            code = '&';
        else if (name == "lt")
            code = '<';
        else if (name == "gt")
            code = '>';
        else if (name == "quot")
            code = '"';
        else if (name == "apos")
            code = '\'';
        else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x' || name[1] == 'X';
            const std::string digits(name.substr(hex ? 2 : 1));
            char* end = nullptr;
            code = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
            if (digits.empty() || *end != '\0' || code >= 0x80) code = 0;
        }
        if (code == 0) {
            out += text[i];
            continue;
        }
        out += static_cast<char>(code);
        i = semicolon;
    }
    return out;
}

namespace {

// A UTC time written in that strptime format.
std::optional<std::chrono::system_clock::time_point> UtcTime(std::string_view text,
                                                             const char* format) {
    std::tm tm{};
    const std::string copy(text);
    if (!::strptime(copy.c_str(), format, &tm)) return std::nullopt;
    return std::chrono::system_clock::from_time_t(::timegm(&tm));
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> HttpDate(std::string_view text) {
    return UtcTime(text, "%a, %d %b %Y %H:%M:%S GMT");
}

std::optional<std::chrono::system_clock::time_point> IsoDate(std::string_view text) {
    return UtcTime(text, "%Y-%m-%dT%H:%M:%S");
}

std::optional<RemoteEntry> LongListingEntry(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    if (line.empty() || (line[0] != '-' && line[0] != 'd')) return std::nullopt;
    // Mode, links, owner, group, size, month, day, time or year; then the name, which may hold
    // spaces of its own.
    std::string_view rest = line;
    std::string_view fields[8];
    for (std::string_view& field : fields) {
        const std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) return std::nullopt;
        rest.remove_prefix(start);
        const std::size_t end = rest.find(' ');
        if (end == std::string_view::npos) return std::nullopt;
        field = rest.substr(0, end);
        rest.remove_prefix(end + 1);
    }
    if (rest.empty() || rest == "." || rest == "..") return std::nullopt;
    RemoteEntry entry;
    entry.name = std::string(rest);
    entry.folder = line[0] == 'd';
    if (!entry.folder) {
        const std::string size(fields[4]);
        char* end = nullptr;
        const unsigned long long value = std::strtoull(size.c_str(), &end, 10);
        if (!size.empty() && *end == '\0') entry.size = value;
    }
    return entry;
}

std::vector<RemoteEntry> LongListing(std::string_view listing) {
    std::vector<RemoteEntry> entries;
    while (!listing.empty()) {
        const std::size_t end = std::min(listing.find('\n'), listing.size());
        if (auto entry = LongListingEntry(listing.substr(0, end))) entries.push_back(*entry);
        listing.remove_prefix(std::min(end + 1, listing.size()));
    }
    return entries;
}

}  // namespace zembrat::publish
