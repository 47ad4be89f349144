#include "text/gbk.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "text/text_set.h"

namespace zembrat::text {
namespace {

inline unsigned char Byte(std::string_view s, std::size_t i) {
    return static_cast<unsigned char>(s[i]);
}

inline char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
inline char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

// Tells whether positions are character boundaries, scanning backwards from a candidate no
// further than the last boundary it already knows. Every byte below 0x80 ends a character
// (as a single byte or as a trail byte), so the byte after it is a boundary; after that,
// lead bytes pair up. Keeping the known boundary moving forward makes a whole search linear.
class BoundaryTracker {
  public:
    explicit BoundaryTracker(std::string_view s, std::size_t known) : s_(s), known_(known) {}

    bool IsBoundary(std::size_t p) {
        if (p < known_) return false;  // only asked for positions at or after the known one
        std::size_t q = p;
        while (q > known_ && Byte(s_, q - 1) >= 0x80) --q;
        const bool boundary = ((p - q) % 2) == 0;
        known_ = boundary ? p : p - 1;
        return boundary;
    }

  private:
    std::string_view s_;
    std::size_t known_;
};

// Compares needle with the bytes of s at at; letters compare without case, but the second byte
// of a two-byte character must match exactly.
bool EqualNoCaseAt(std::string_view s, std::size_t at, std::string_view needle) {
    for (std::size_t k = 0; k < needle.size(); ++k) {
        if (Byte(needle, k) >= 0x80) {
            if (s[at + k] != needle[k]) return false;
            if (++k < needle.size() && s[at + k] != needle[k]) return false;
        } else if (LowerAscii(s[at + k]) != LowerAscii(needle[k])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string TextOf(std::string_view bytes) {
    if (bytes.empty()) return {};  // memchr may not be given the null data of an empty view
    const void* zero = std::memchr(bytes.data(), 0, bytes.size());
    if (!zero) return std::string(bytes);
    return std::string(bytes.data(), static_cast<const char*>(zero) - bytes.data());
}

namespace {

// The first occurrence at or after from that starts on a character boundary, judged by
// boundaries (which knows a boundary at or before from).
std::size_t FindWith(BoundaryTracker& boundaries, std::string_view s, std::string_view needle,
                     std::size_t from) {
    std::size_t at = from;
    while (at + needle.size() <= s.size()) {
        const void* hit = memmem(s.data() + at, s.size() - at, needle.data(), needle.size());
        if (!hit) return kNotFound;
        const std::size_t p = static_cast<const char*>(hit) - s.data();
        if (boundaries.IsBoundary(p)) return p;
        at = p + 1;
    }
    return kNotFound;
}

}  // namespace

std::size_t Find(std::string_view s, std::string_view needle, std::size_t from) {
    if (from > s.size()) return kNotFound;
    if (needle.empty()) return from;
    BoundaryTracker boundaries(s, from);
    return FindWith(boundaries, s, needle, from);
}

std::size_t FindNoCase(std::string_view s, std::string_view needle, std::size_t from) {
    if (from > s.size()) return kNotFound;
    if (needle.empty()) return from;
    for (std::size_t i = from; i + needle.size() <= s.size(); i += CharLength(s, i)) {
        if (EqualNoCaseAt(s, i, needle)) return i;
    }
    return kNotFound;
}

namespace {

std::size_t FindLastImpl(std::string_view s, std::string_view needle, std::size_t end,
                         bool noCase) {
    if (end > s.size()) end = s.size();
    std::size_t last = kNotFound;
    for (std::size_t i = 0; i + needle.size() <= end; i += CharLength(s, i)) {
        const bool hit =
            noCase ? EqualNoCaseAt(s, i, needle) : s.compare(i, needle.size(), needle) == 0;
        if (hit) last = i;
        if (i == s.size()) break;  // an empty needle at the very end
    }
    return last;
}

}  // namespace

std::size_t FindLast(std::string_view s, std::string_view needle, std::size_t end) {
    return FindLastImpl(s, needle, end, false);
}

std::size_t FindLastNoCase(std::string_view s, std::string_view needle, std::size_t end) {
    return FindLastImpl(s, needle, end, true);
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    const std::size_t at = s.size() - suffix.size();
    if (s.compare(at, suffix.size(), suffix) != 0) return false;
    return BoundaryTracker(s, 0).IsBoundary(at);
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    const std::size_t at = s.size() - suffix.size();
    if (!EqualNoCaseAt(s, at, suffix)) return false;
    return BoundaryTracker(s, 0).IsBoundary(at);
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
    std::string out;
    if (!ReplaceAllInto(s, from, to, out)) return std::string(s);
    return out;
}

bool ReplaceAllInto(std::string_view s, std::string_view from, std::string_view to,
                    std::string& out) {
    if (from.empty()) return false;
    // One tracker from the start of the text: an occurrence that ends on a lone lead byte does
    // not make the byte behind it the start of a character.
    BoundaryTracker boundaries(s, 0);
    std::size_t hit = FindWith(boundaries, s, from, 0);
    if (hit == kNotFound) return false;
    out.clear();
    out.reserve(s.size());
    std::size_t done = 0;
    while (hit != kNotFound) {
        out.append(s, done, hit - done);
        out.append(to);
        done = hit + from.size();
        hit = FindWith(boundaries, s, from, done);
    }
    out.append(s, done, s.size() - done);
    return true;
}

namespace {

// True when a walk over whole characters (a byte of 0x80 or more taking the next byte with it)
// ends exactly at the end of t: put in or taken out at a character boundary, t leaves the
// boundaries after it where they were.
bool IsWholeCharacters(std::string_view t) {
    std::size_t i = 0;
    while (i < t.size()) i += Byte(t, i) >= 0x80 ? 2 : 1;
    return i == t.size();
}

// Whether the replacements one after the other give what they give at once on the text as it
// was: every text is whole characters, nothing put in is empty (two pieces would meet), and no
// later text to replace can be found in, across the edges of, or around what an earlier one
// put in. (That no two of the texts are found overlapping in s is checked while they are
// looked for.) Each question is asked of all the texts at once (TextSet), so that the time is
// linear in the texts, not in the pairs of them.
bool ActAlone(const std::vector<TextReplacement>& list, const TextSet& froms) {
    std::vector<std::string_view> tos;
    tos.reserve(list.size());
    for (const TextReplacement& r : list) {
        if (r.from.empty() || r.to.empty() || !IsWholeCharacters(r.from) ||
            !IsWholeCharacters(r.to))
            return false;
        tos.push_back(r.to);
    }
    if (froms.Repeated()) return false;  // a later text equal to an earlier one
    const TextSet inserted(tos);
    // A text put in that holds, or ends with the beginning of, a later text to replace.
    for (std::size_t i = 0; i < list.size(); ++i) {
        TextSet::State state = TextSet::kRoot;
        for (const char c : list[i].to) {
            state = froms.Step(state, static_cast<unsigned char>(c));
            const std::size_t later = froms.HighestEnded(state);
            if (later != TextSet::kNone && later > i) return false;
        }
        for (; state != TextSet::kRoot; state = froms.Shorter(state)) {
            const std::size_t later = froms.HighestBegun(state);
            if (froms.Depth(state) < list[i].to.size() && later != TextSet::kNone && later > i)
                return false;
        }
    }
    // A later text to replace that holds, or ends with the beginning of, a text put in before.
    for (std::size_t j = 0; j < list.size(); ++j) {
        TextSet::State state = TextSet::kRoot;
        for (const char c : list[j].from) {
            state = inserted.Step(state, static_cast<unsigned char>(c));
            if (inserted.LowestEnded(state) < j) return false;
        }
        for (; state != TextSet::kRoot; state = inserted.Shorter(state)) {
            if (inserted.Depth(state) < list[j].from.size() && inserted.LowestBegun(state) < j)
                return false;
        }
    }
    return true;
}

// One found text: where, and which replacement.
struct Hit {
    std::size_t at;
    std::size_t which;
};

// The occurrences each replacement takes in s (at character boundaries, each search going on
// after the last one it took), in text order; false when texts of two replacements overlap in
// s, so that the order of the replacements matters. One walk over s finds every text.
bool FindEach(std::string_view s, const std::vector<TextReplacement>& list, const TextSet& froms,
              std::vector<Hit>& hits) {
    // A position begins a character when an even number of bytes of 0x80 or more stand
    // right before it.
    std::vector<bool> boundary(s.size() + 1, true);
    std::size_t run = 0;
    for (std::size_t p = 0; p < s.size(); ++p) {
        run = Byte(s, p) >= 0x80 ? run + 1 : 0;
        boundary[p + 1] = run % 2 == 0;
    }
    // Every occurrence at a boundary; two texts ending at one place overlap.
    std::vector<Hit> found;
    TextSet::State state = TextSet::kRoot;
    for (std::size_t p = 0; p < s.size(); ++p) {
        state = froms.Step(state, Byte(s, p));
        if (!froms.EndsAText(state)) continue;
        bool ended = false;
        for (TextSet::State t = froms.TextAt(state) != TextSet::kNone ? state
                                                                      : froms.ShorterText(state);
             t != TextSet::kRoot; t = froms.ShorterText(t)) {
            const std::size_t at = p + 1 - froms.Depth(t);
            if (!boundary[at]) continue;
            if (ended) return false;
            ended = true;
            found.push_back({at, froms.TextAt(t)});
        }
    }
    std::sort(found.begin(), found.end(), [](const Hit& a, const Hit& b) { return a.at < b.at; });
    std::vector<std::size_t> freeFrom(list.size(), 0);  // each search goes on from there
    std::size_t reach = 0, reachOf = list.size();       // the furthest end of a text found so far
    for (const Hit& hit : found) {
        const std::size_t end = hit.at + list[hit.which].from.size();
        if (hit.at < reach && reachOf != hit.which) return false;
        if (end > reach) {
            reach = end;
            reachOf = hit.which;
        }
        if (hit.at < freeFrom[hit.which]) continue;
        hits.push_back(hit);
        freeFrom[hit.which] = end;
    }
    return true;
}

}  // namespace

bool ReplaceEachInto(std::string_view s, const std::vector<TextReplacement>& replacements,
                     std::string& out) {
    std::vector<Hit> hits;
    std::vector<std::string_view> froms;
    froms.reserve(replacements.size());
    for (const TextReplacement& r : replacements) froms.push_back(r.from);
    const TextSet set(froms);
    if (!replacements.empty() && ActAlone(replacements, set) &&
        FindEach(s, replacements, set, hits)) {
        if (hits.empty()) return false;
        out.clear();
        out.reserve(s.size());
        std::size_t done = 0;
        for (const Hit& hit : hits) {
            out.append(s, done, hit.at - done);
            out.append(replacements[hit.which].to);
            done = hit.at + replacements[hit.which].from.size();
        }
        out.append(s, done, s.size() - done);
        return true;
    }
    // One after the other, between out and a second buffer.
    bool replaced = false;
    std::string spare;
    for (const TextReplacement& r : replacements) {
        if (!ReplaceAllInto(replaced ? std::string_view(out) : s, r.from, r.to, spare)) continue;
        out.swap(spare);
        replaced = true;
    }
    return replaced;
}

std::vector<std::string> Split(std::string_view s, std::string_view separator) {
    std::vector<std::string> pieces;
    if (s.empty()) return pieces;
    if (separator.empty()) {
        pieces.emplace_back(s);
        return pieces;
    }
    BoundaryTracker boundaries(s, 0);
    std::size_t start = 0;
    for (std::size_t hit = FindWith(boundaries, s, separator, 0); hit != kNotFound;
         hit = FindWith(boundaries, s, separator, start)) {
        pieces.emplace_back(s.substr(start, hit - start));
        start = hit + separator.size();
    }
    pieces.emplace_back(s.substr(start));
    return pieces;
}

std::string TrimLeft(std::string_view s) {
    std::size_t i = 0;
    for (;;) {
        if (i < s.size() && s[i] == ' ') {
            ++i;
        } else if (s.substr(i, 2) == kFullWidthSpace) {
            i += 2;
        } else {
            break;
        }
    }
    return std::string(s.substr(i));
}

std::string TrimRight(std::string_view s) {
    // Walk forward so that an A1 A1 pair is only taken where it is a character of its own.
    std::size_t keep = 0;  // end of the last character that is not a space
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = CharLength(s, i);
        const bool space = (n == 1 && s[i] == ' ') || (n == 2 && s.substr(i, 2) == kFullWidthSpace);
        i += n;
        if (!space) keep = i;
    }
    return std::string(s.substr(0, keep));
}

std::string Trim(std::string_view s) {
    return TrimRight(TrimLeft(s));
}

std::string AsciiLower(std::string_view s) {
    std::string out(s);
    for (std::size_t i = 0; i < out.size(); i += CharLength(out, i)) out[i] = LowerAscii(out[i]);
    return out;
}

std::string AsciiUpper(std::string_view s) {
    std::string out(s);
    for (std::size_t i = 0; i < out.size(); i += CharLength(out, i)) out[i] = UpperAscii(out[i]);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && EqualNoCaseAt(a, 0, b);
}

namespace {

const std::string_view kSeparator(&kPathSeparator, 1);

}  // namespace

std::string FileName(std::string_view path) {
    const std::size_t at = FindLast(path, kSeparator);
    return std::string(at == kNotFound ? path : path.substr(at + 1));
}

std::string BaseName(std::string_view path) {
    std::string name = FileName(path);
    const std::size_t dot = FindLast(name, ".");
    if (dot != kNotFound) name.resize(dot);
    return name;
}

std::string DirectoryPart(std::string_view path) {
    const std::size_t at = FindLast(path, kSeparator);
    return std::string(at == kNotFound ? std::string_view() : path.substr(0, at));
}

bool EndsWithSeparator(std::string_view path) {
    return EndsWith(path, kSeparator);
}

std::string WithSeparator(std::string_view path) {
    std::string out(path);
    if (!EndsWithSeparator(path)) out += kPathSeparator;
    return out;
}

}  // namespace zembrat::text
