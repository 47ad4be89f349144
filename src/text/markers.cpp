#include "text/markers.h"

#include "text/codec.h"
#include "text/gbk.h"

namespace zembrat::text {
namespace {

using namespace literals;

struct Found {
    std::size_t left = kNotFound;   // 0-based
    std::size_t right = kNotFound;  // 0-based
};

Found Locate(std::string_view source, std::string_view left, std::string_view right, long start,
             bool backward) {
    Found f;
    if (!backward) {
        const std::size_t from = start > 1 ? static_cast<std::size_t>(start - 1) : 0;
        f.left = FindNoCase(source, left, from);
        if (f.left == kNotFound) return {};
        f.right = FindNoCase(source, right, f.left + left.size());
        if (f.right == kNotFound) return {};
    } else {
        // Occurrences that end before the start position (1-based), or anywhere for start <= 0.
        const std::size_t end = start > 0 ? static_cast<std::size_t>(start - 1) : kNotFound;
        f.right = FindLastNoCase(source, right, end);
        if (f.right == kNotFound) return {};
        f.left = FindLastNoCase(source, left, f.right);
        if (f.left == kNotFound) return {};
    }
    return f;
}

}  // namespace

std::string TextBetweenMarkers(std::string_view sourceIn, std::string_view leftIn,
                               std::string_view rightIn, MarkerSearch& search) {
    static const std::string kHeadMarker = "#Qorv头#"_gbk;
    static const std::string kTailMarker = "#Qorv尾#"_gbk;
    std::string left(leftIn), right(rightIn), source(sourceIn);
    if (!search.keepApostrophes) {
        left = ReplaceAll(left, "''", "\"");
        right = ReplaceAll(right, "''", "\"");
    }
    if (left.empty()) {
        left = kHeadMarker;
        source = kHeadMarker + source;
    }
    if (right.empty()) {
        right = kTailMarker;
        source += kTailMarker;
    }
    const long startGiven = search.start;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1) {
            search.start = startGiven;
            left = ReplaceAll(left, "\"", "");
            right = ReplaceAll(right, "\"", "");
        }
        const Found f = Locate(source, left, right, search.start, search.backward);
        if (f.left == kNotFound || f.right == kNotFound) continue;
        search.start = search.backward ? static_cast<long>(f.left) + 1
                                       : static_cast<long>(f.right + right.size()) + 1;
        const long from = static_cast<long>(f.left + left.size()) + search.skipAfterLeft;
        const long length = static_cast<long>(f.right) - from - search.trimBeforeRight;
        if (from < 0 || length <= 0 || from >= static_cast<long>(source.size())) return {};
        return source.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(length));
    }
    return {};
}

std::string TextBetweenMarkers(std::string_view source, std::string_view left,
                               std::string_view right) {
    MarkerSearch search;
    return TextBetweenMarkers(source, left, right, search);
}

}  // namespace zembrat::text
