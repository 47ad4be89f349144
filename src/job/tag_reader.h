// The tag reader: the <img>, <source> and <picture> tags of an article, read for the lazy and
// responsive image attributes the plain way, or every attribute under HTML rules (see
// ref_scanner.h for the rules).
#pragma once

#include <cstddef>
#include <string_view>

#include "job/found_source.h"

namespace zembrat::job::reading {

class ScanPace;

enum class TagKind { Other, Img, Source, PictureOpen, PictureClose };

// Sources already found, in article order, looked up with offsets that only grow.
class KnownSources {
  public:
    explicit KnownSources(const Sources* known) : known_(known) {}
    bool Has(std::size_t offset, std::size_t length);

  private:
    const Sources* known_;
    std::size_t next_ = 0;
};

class TagReader {
  public:
    // known: what the plain rule found, left out of the plain reading's src values. edits: where
    // lazy images' real sources must be written into their src as well (nullptr: not wanted).
    TagReader(std::string_view article, bool htmlRules, bool lazy, ArticleEncoding encoding,
              const Sources* known, SourceEdits* edits = nullptr)
        : article_(article),
          htmlRules_(htmlRules),
          lazy_(lazy),
          encoding_(encoding),
          known_(known),
          edits_(edits) {}

    // The tag at lt ("<"), if it is one of those read; where the search goes on. Tags come in
    // article order. A srcset read up to its closing quote may end past the tag, so the values
    // of one tag can stand after those of the next.
    std::size_t At(std::size_t lt, Sources& out);

  private:
    std::string_view article_;
    bool htmlRules_, lazy_;
    ArticleEncoding encoding_;
    KnownSources known_;
    SourceEdits* edits_;
    bool inPicture_ = false;
};

// Every <img>, <source> and <picture> tag of the article, read the plain way or under HTML
// rules, at the pace's points.
void ReadTags(std::string_view article, bool htmlRules, bool lazy, ArticleEncoding encoding,
              Sources& out, ScanPace& pace, SourceEdits* edits = nullptr);

// The <img> tags of a page as a browser's tokenizer reads them (job/html_tokenizer.h); under
// lazy also the lazy attributes, <source> in <picture>, and the places ReadPlaces names, read in
// the same walk. The sources come sorted by offset.
void ReadTagsAsBrowser(std::string_view page, bool lazy, ArticleEncoding encoding, Sources& out,
                       ScanPace& pace, SourceEdits* edits = nullptr);

// The other places an image lives in a page, in article order: url(...) in style attributes
// and <style> blocks, the content of <meta property="og:image"> and <meta name="twitter:image">,
// and the href of an <a> that links a picture (by its extension) around an <img>. The plain
// reading: under HTML rules ReadTagsAsBrowser reads them.
void ReadPlaces(std::string_view article, ArticleEncoding encoding, Sources& out, ScanPace& pace);

}  // namespace zembrat::job::reading
