#include "job/plain_reader.h"

#include <cstring>

#include "job/article_chars.h"
#include "job/ref_scanner.h"

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

std::vector<FoundSource> PlainSources(std::string_view s, ArticleEncoding encoding) {
    Sources out;
    reading::ScanPace pace(nullptr);
    reading::ReadPlain(s, encoding, out, pace);
    return out;
}

}  // namespace zembrat::job
