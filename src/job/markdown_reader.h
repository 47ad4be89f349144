// The Markdown reader: the images of a Markdown article, inline and by reference (see
// ref_scanner.h for the syntax read).
#pragma once

#include <string_view>

#include "job/found_source.h"

namespace zembrat::job::reading {

class ScanPace;

// The sources of a Markdown article, in article order, at the pace's points: its images read as
// CommonMark reads them (job/commonmark_reader.h), the fields of its front matter, Hugo's and
// Hexo's image shortcodes outside code, and the images of its raw HTML read as a browser reads
// them (the lazy attributes and places too under lazy; edits as ReadTagsAsBrowser gives them).
void ReadMarkdown(std::string_view article, ArticleEncoding encoding, bool lazy, Sources& out,
                  ScanPace& pace, SourceEdits* edits);

}  // namespace zembrat::job::reading

namespace zembrat::job {

// True for file names ending in ".md" or ".markdown", in any letter case.
bool IsMarkdownName(std::string_view fileName);

}  // namespace zembrat::job
