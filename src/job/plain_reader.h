// The plain rule: the source values the image-tag pattern gives, found without the pattern
// engine and in one walk over the article.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/found_source.h"

namespace zembrat::job::reading {

class ScanPace;

// True when "<img " (any letter case) stands at p.
bool IsImgTagStart(std::string_view s, std::size_t p);

class PlainReader {
  public:
    PlainReader(std::string_view article, ArticleEncoding encoding)
        : s_(article), encoding_(encoding) {}

    // One attempt of the image-tag pattern at p, where "<img " stands: the source when it
    // matches, and where the search goes on. Attempts come in article order.
    std::size_t MatchAt(std::size_t p, Sources& out);

  private:
    std::string_view s_;
    ArticleEncoding encoding_;
    // The line break that ends the line of the last attempt (the article's size for the last
    // line): a long line with many tags is searched for its end once.
    std::size_t lineEnd_ = 0;
};

// The plain rule over the whole article (PlainSources), at the pace's points.
void ReadPlain(std::string_view s, ArticleEncoding encoding, Sources& out, ScanPace& pace);

}  // namespace zembrat::job::reading

namespace zembrat::job {

// The source values the image-tag pattern gives, in article order, duplicates included.
std::vector<FoundSource> PlainSources(std::string_view article, ArticleEncoding encoding);

// The source values the image-tag pattern gives over the article read as GBK, found by the plain
// rule's walk over its bytes without the pattern engine, when that walk is sure to give exactly
// what the engine gives: every character is ASCII or a two-byte character, and the engine's
// search would stay far from its limits (reaching one, it gives nothing). nullopt otherwise; the
// engine then reads the article.
std::optional<std::vector<std::string>> PatternSourcesByBytes(std::string_view article);

}  // namespace zembrat::job
