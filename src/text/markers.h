#pragma once

#include <string>
#include <string_view>

namespace zembrat::text {

struct MarkerSearch {
    // 1-based byte position where the search starts (0 or 1: the start); on success it moves
    // past the right delimiter (forward) or to the left delimiter (backward).
    long start = 0;
    bool backward = false;
    long skipAfterLeft = 0;    // bytes dropped after the left delimiter
    long trimBeforeRight = 0;  // bytes dropped before the right delimiter
    bool keepApostrophes = false;
};

// The text between a left and a right delimiter, both found without regard to ASCII letter
// case. An empty delimiter stands for the start (left) or the end (right) of the source. Unless
// keepApostrophes is set, two apostrophes in a delimiter stand for a double quote; when the
// first attempt finds nothing, a second one ignores double quotes in the delimiters. Empty when
// neither attempt finds both delimiters.
std::string TextBetweenMarkers(std::string_view source, std::string_view left,
                               std::string_view right, MarkerSearch& search);
std::string TextBetweenMarkers(std::string_view source, std::string_view left,
                               std::string_view right);

}  // namespace zembrat::text
