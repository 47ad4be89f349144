// The tag reader: the <img> tags of a page read as a browser's tokenizer reads them, and under
// the lazy option the lazy and responsive image attributes and the other places an image lives
// (see ref_scanner.h for the rules).
#pragma once

#include <string_view>

#include "job/found_source.h"

namespace zembrat::job::reading {

class ScanPace;

// The <img> tags of a page as a browser's tokenizer reads them (job/html_tokenizer.h); under
// lazy also the lazy attributes, <source> in <picture>, url(...) in style attributes and <style>
// blocks, the content of <meta property="og:image"> and <meta name="twitter:image">, and the href
// of an <a> that links a picture (by its extension) around an <img>, read in the same walk. A
// src whose place a lazy attribute takes (a placeholder, or none) is not a source; edits, when
// given, receives where the lazy source is written into it. The sources come sorted by offset,
// at the pace's points.
void ReadTagsAsBrowser(std::string_view page, bool lazy, ArticleEncoding encoding, Sources& out,
                       ScanPace& pace, SourceEdits* edits = nullptr);

}  // namespace zembrat::job::reading
