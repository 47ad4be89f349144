// A Markdown article read as CommonMark 0.30 reads it, for its images: the block structure first
// (block quotes and list items with their indentation, fenced and indented code, HTML blocks of
// all seven kinds, ATX and setext headings, thematic breaks, paragraphs with their lazy
// continuation lines and the link reference definitions at their start), then the inlines of
// paragraphs and headings with CommonMark's precedence (code spans, backslash escapes, entity and
// numeric references, autolinks and raw HTML before links; brackets matched innermost first;
// a link inside a link not formed).
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "job/found_source.h"

namespace zembrat::job::reading {

class ScanPace;

using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;  // [begin, end) in the article

struct CommonMarkImages {
    // The destination of every image as it stands: of an inline image where it is written, of a
    // reference image (full, collapsed or shortcut) at its definition (once for each definition
    // used). Also the destination of a link around an image when it names a picture. Decoded as
    // CommonMark decodes it; in article order.
    Sources destinations;
    // The raw HTML the article holds (HTML blocks line by line, inline HTML), in article order:
    // what a browser reads as HTML.
    Ranges html;
    // Code blocks and code spans, in article order: nothing in them is read.
    Ranges code;
};

// The article from `from` on (after its front matter) read as CommonMark. Time linear in the
// article; at the pace's points.
CommonMarkImages ReadCommonMark(std::string_view article, std::size_t from,
                                ArticleEncoding encoding, ScanPace& pace);

}  // namespace zembrat::job::reading
