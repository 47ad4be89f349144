// The extension options of a run: read once when a run starts (from the settings section or
// the command line) and passed down. Every member's default keeps the program's plain
// behaviour, so a default-constructed value changes nothing anywhere. What each option is
// called, where it is kept and how it is shown is the option table's (job/option_table.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/codec.h"
#include "text/gbk.h"
#include "web/request_identity.h"

namespace zembrat::job {

// A picture a site sends instead of the image asked for, known by its CRC-32 and size.
struct PlaceholderMark {
    std::uint32_t crc = 0;
    std::size_t size = 0;

    friend bool operator==(const PlaceholderMark&, const PlaceholderMark&) = default;
};

struct ExtensionOptions {
    static constexpr int kMinDownloadsAtOnce = 1;
    static constexpr int kMaxDownloadsAtOnce = 16;
    // The time-outs a user can set: a second at least, one hour at most (anything above is taken
    // as a typing slip); 0 stands for the usual waits.
    static constexpr int kMinTimeoutSeconds = 1;
    static constexpr int kMaxTimeoutSeconds = 3600;

    bool https = false;         // keep and fetch https:// images; //host/path becomes https:
    bool lazyImages = false;    // data-src and friends, srcset, <picture><source srcset>
    bool htmlRules = false;     // read tags as a browser does
    bool checkContent = false;  // the body's first bytes decide whether it is an image
    bool markdown = false;      // the images of Markdown articles
    int timeoutSeconds = 0;     // one download from connect to last byte; 0: the usual waits
    int downloadsAtOnce = 1;    // kMinDownloadsAtOnce..kMaxDownloadsAtOnce
    bool writeReport = false;   // a report of every reference after the run
    bool hotlink = false;       // ask as a browser, no Referer first; spot "not allowed" pictures
    bool incremental = false;   // reuse what the run record knows: skip unchanged articles
    // Kept in a section of their own; they act under the hotlink option only.
    std::vector<web::SiteRule> siteRules{};       // the first match wins over the ladder
    std::vector<PlaceholderMark> placeholders{};  // never stored
    bool recursive = false;    // the article folder's subfolders too, each result at its own path
    std::string outputFolder;  // GBK, absolute; empty: the result folder inside the article folder
    bool publishAfterRun = false;  // a finished run publishes its result to the chosen target
    bool publishArticles = false;  // a publish puts the written articles there too
    std::string publishTarget;     // GBK: the chosen target's name or place; empty: the first
    // Kept in a section of their own: the publish targets, one URL each (GBK).
    std::vector<std::string> publishTargets{};

    friend bool operator==(const ExtensionOptions&, const ExtensionOptions&) = default;
};

// Key/text pairs as they stand in the settings section, texts in GBK.
using OptionTexts = std::vector<std::pair<std::string, std::string>>;

// The settings section that holds the options, "扩展选项".
inline const std::string& ExtensionSection() {
    using namespace text::literals;
    static const std::string section = "扩展选项"_gbk;
    return section;
}

// The section of the publish targets, "发布目标": keys "目标1" to "目标8", one target URL each.
inline constexpr std::size_t kMaxPublishTargets = 8;

inline const std::string& PublishSection() {
    using namespace text::literals;
    static const std::string section = "发布目标"_gbk;
    return section;
}
inline std::string PublishTargetKey(std::size_t index) {  // from 0
    using namespace text::literals;
    return "目标"_gbk + std::to_string(index + 1);
}

// The section of the per-site rules and the known placeholder pictures, "防盗链规则": keys
// "规则1" to "规则16", one rule each (web::SiteRuleText), and "占位图", the marks.
inline constexpr std::size_t kMaxSiteRules = 16;

inline const std::string& HotlinkSection() {
    using namespace text::literals;
    static const std::string section = "防盗链规则"_gbk;
    return section;
}
inline std::string SiteRuleKey(std::size_t index) {  // from 0
    using namespace text::literals;
    return "规则"_gbk + std::to_string(index + 1);
}
inline const std::string& PlaceholdersKey() {
    using namespace text::literals;
    static const std::string k = "占位图"_gbk;
    return k;
}

// One mark as "crc:size", the CRC in eight lower-case hex digits.
inline std::string PlaceholderText(const PlaceholderMark& mark) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string crc(8, '0');
    for (int i = 0; i < 8; ++i)
        crc[static_cast<std::size_t>(7 - i)] = kHex[(mark.crc >> (4 * i)) & 0xF];
    return crc + ":" + std::to_string(mark.size);
}

// One mark from "crc:size" (hex digits in either case, then decimal); nullopt otherwise.
inline std::optional<PlaceholderMark> ParsePlaceholder(std::string_view text) {
    const std::string t = text::Trim(text);
    const std::size_t colon = t.find(':');
    if (colon == 0 || colon > 8 || colon == std::string::npos || colon + 1 == t.size() ||
        t.size() - colon - 1 > 12)
        return std::nullopt;
    PlaceholderMark mark;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = static_cast<char>(t[i] | 0x20);  // ASCII letters to lower case
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return std::nullopt;
        mark.crc = (mark.crc << 4) | static_cast<std::uint32_t>(digit);
    }
    for (std::size_t i = colon + 1; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') return std::nullopt;
        mark.size = mark.size * 10 + static_cast<std::size_t>(t[i] - '0');
    }
    return mark;
}

// The marks as one text, "," between them; and back, skipping what is not a mark.
inline std::string PlaceholdersText(const std::vector<PlaceholderMark>& marks) {
    std::string out;
    for (const PlaceholderMark& m : marks) out += (out.empty() ? "" : ",") + PlaceholderText(m);
    return out;
}
inline std::vector<PlaceholderMark> PlaceholdersFromText(std::string_view text) {
    std::vector<PlaceholderMark> marks;
    for (const std::string& part : text::Split(text, ",")) {
        if (const std::optional<PlaceholderMark> m = ParsePlaceholder(part)) marks.push_back(*m);
    }
    return marks;
}

}  // namespace zembrat::job
