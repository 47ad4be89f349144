#include "job/plain_reader.h"

#include <cstdint>
#include <cstring>

#include "job/article_chars.h"
#include "job/ref_scanner.h"
#include "platform/regex_component.h"
#include "text/codec.h"

namespace zembrat::job::reading {

bool IsImgTagStart(std::string_view s, std::size_t p) {
    return HasNoCase(s, p, "<img ");
}

std::size_t PlainReader::MatchAt(std::size_t p, Sources& out) {
    const std::string_view s = s_;
    const std::size_t n = s.size();
    // ".*?" between "<img " and "src=" stays on the line.
    if (p >= lineEnd_) {
        const void* lf = std::memchr(s.data() + p, '\n', n - p);
        lineEnd_ = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - s.data()) : n;
    }
    const std::size_t lineEnd = lineEnd_;
    // A value run once scanned, and a stretch known to hold no ">" before its line break:
    // a later "src=" inside them gives the same result, so long lines stay linear.
    std::size_t runStart = n, runEnd = n, noCloseFrom = n, noCloseTo = n;
    for (std::size_t q = p + 5; q < lineEnd;) {
        const void* eqHit = std::memchr(s.data() + q, '=', lineEnd - q);
        if (!eqHit) break;
        const std::size_t eq = static_cast<std::size_t>(static_cast<const char*>(eqHit) - s.data());
        q = eq + 1;
        if (eq < p + 8 || !HasNoCase(s, eq - 3, "src") || !StartsCharacter(s, eq - 3, encoding_))
            continue;
        std::size_t v = eq + 1;
        if (v < n && (s[v] == '"' || s[v] == '\'')) ++v;
        std::size_t w;
        if (v > runStart && v <= runEnd) {
            w = runEnd;
        } else {
            w = v;
            while (w < n && IsPlainValueByte(s[w])) ++w;
            runStart = v;
            runEnd = w;
        }
        if (w == v) continue;
        if (w >= noCloseFrom && w <= noCloseTo) continue;
        std::size_t close = w;
        while (close < n && s[close] != '>' && s[close] != '\n') ++close;
        if (close >= n || s[close] == '\n') {
            noCloseFrom = w;
            noCloseTo = close;
            continue;
        }
        out.push_back(Found(s, v, w));
        return close + 1;
    }
    // No "src=" on this line completes a match, and a later "<img " on it would find only
    // those same ones.
    return lineEnd;
}

void ReadPlain(std::string_view s, ArticleEncoding encoding, Sources& out, ScanPace& pace) {
    PlainReader reader(s, encoding);
    for (std::size_t p = NextLt(s, 0); p < s.size() && pace.Passed(p);
         p = NextLt(s, IsImgTagStart(s, p) ? reader.MatchAt(p, out) : p + 1)) {
    }
}

}  // namespace zembrat::job::reading

namespace zembrat::job {
namespace {

// How far one attempt of the pattern may reach, and how many steps the whole search may take,
// for the byte walk to stand in for the engine: well below the engine's step limit and the
// backtracking depth a long reach brings.
constexpr std::size_t kFarReach = 32 * 1024;
constexpr std::uint64_t kStepsAllowed = platform::RegexComponent::kMatchLimit / 8;

// One "src=" of a line: where it stands, and the steps the rest of the pattern takes there at
// most (each length of the value, then the lazy ".*?>" to a ">" or line break).
struct SrcCandidate {
    std::size_t at;
    std::uint64_t steps;
};

// Whether the engine's search of the image-tag pattern over s (ASCII and two-byte characters)
// stays far from its limits. The bound counts a backtracking search's steps: a few for each
// "<", and for each "<img " the lazy ".*?" to the end of its line and every "src=" after it on
// the line, tried with each length of its value; every byte counts as a character.
bool FarFromEngineLimits(std::string_view s) {
    const std::size_t n = s.size();
    if (n >= platform::RegexSpan::kNone) return false;  // the engine's offsets are 32-bit
    std::uint64_t steps = 0;
    std::vector<SrcCandidate> line;    // the "src=" of the current line, in order
    std::vector<std::uint64_t> after;  // after[k]: the steps of line[k..]
    std::size_t lineEnd = 0, next = 0;
    bool inLine = false;
    for (std::size_t p = reading::NextLt(s, 0); p < n; p = reading::NextLt(s, p + 1)) {
        steps += 8;
        if (steps > kStepsAllowed) return false;
        if (!reading::IsImgTagStart(s, p)) continue;
        if (!inLine || p >= lineEnd) {
            const void* lf = std::memchr(s.data() + p, '\n', n - p);
            lineEnd = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - s.data()) : n;
            inLine = true;
            line.clear();
            std::uint64_t scanned = 0;
            for (std::size_t q = p + 5; q + 4 <= lineEnd; ++q) {
                const void* eq = std::memchr(s.data() + q + 3, '=', lineEnd - q - 3);
                if (!eq) break;
                q = static_cast<std::size_t>(static_cast<const char*>(eq) - s.data()) - 3;
                if (!reading::HasNoCase(s, q, "src")) continue;
                std::size_t v = q + 4;
                if (v < n && (s[v] == '"' || s[v] == '\'')) ++v;
                std::size_t w = v;
                while (w < n && w - v <= kFarReach && reading::IsPlainValueByte(s[w])) ++w;
                std::size_t close = w;
                while (close < n && close - v <= kFarReach && s[close] != '>' && s[close] != '\n')
                    ++close;
                const std::uint64_t value = w - v, rest = close - w;
                if (value + rest > kFarReach) return false;
                scanned += value + rest;
                if (scanned > kStepsAllowed) return false;
                line.push_back({q, 4 + (value + 1) * (value + rest + 5)});
            }
            after.assign(line.size() + 1, 0);
            for (std::size_t k = line.size(); k-- > 0;) after[k] = after[k + 1] + line[k].steps;
            next = 0;
        }
        if (lineEnd - p > kFarReach) return false;
        while (next < line.size() && line[next].at < p + 5) ++next;
        steps += (lineEnd - p) + 8 + after[next];
        if (steps > kStepsAllowed) return false;
    }
    return true;
}

}  // namespace

std::optional<std::vector<std::string>> PatternSourcesByBytes(std::string_view article) {
    if (!text::HasOnlyAsciiAndTwoByteCharacters(article) || !FarFromEngineLimits(article))
        return std::nullopt;
    std::vector<FoundSource> found = PlainSources(article, ArticleEncoding::Gbk);
    std::vector<std::string> texts;
    texts.reserve(found.size());
    for (FoundSource& f : found) texts.push_back(std::move(f.text));
    return texts;
}

std::vector<FoundSource> PlainSources(std::string_view s, ArticleEncoding encoding) {
    Sources out;
    reading::ScanPace pace(nullptr);
    reading::ReadPlain(s, encoding, out, pace);
    return out;
}

}  // namespace zembrat::job
