// The Markdown reader: the images of a Markdown article, inline and by reference (see
// ref_scanner.h for the syntax read).
#pragma once

#include <string_view>

#include "job/found_source.h"

namespace zembrat::job::reading {

class ScanPace;

// The sources of the article's Markdown images, in article order, at the pace's points.
void ReadMarkdown(std::string_view article, ArticleEncoding encoding, Sources& out, ScanPace& pace);

}  // namespace zembrat::job::reading

namespace zembrat::job {

// True for file names ending in ".md" or ".markdown", in any letter case.
bool IsMarkdownName(std::string_view fileName);

}  // namespace zembrat::job
