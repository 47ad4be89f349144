// The tags of a page as a browser's tokenizer reads them: the data, tag-open, tag-name,
// attribute-name and attribute-value states; comments (with "<!-->" and "--!>"), bogus comments
// ("<?...>", "</1>", "<!DOCTYPE ...>") and CDATA sections (inside SVG and MathML only, elsewhere
// a bogus comment); the text of raw text elements (script, with its escaped states, style, xmp,
// iframe, noembed, noframes, plaintext) and RCDATA elements (title, textarea), which holds no
// tags. A tag cut off by the end of the text is no tag. Of the tree builder it keeps what decides
// whether a browser loads an image a tag names: template content and SVG or MathML content are
// inert (an HTML tag such as <img> inside SVG leaves it, as a browser's does), and <image> is read
// as <img> outside them.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zembrat::job::reading {

struct HtmlAttribute {
    std::string name;                          // lower case
    std::size_t valueBegin = 0, valueEnd = 0;  // the value as written, without its quotes
    bool hasValue = false, quoted = false;

    bool Is(std::string_view lowerName) const { return std::string_view(name) == lowerName; }
};

struct HtmlTag {
    std::size_t begin = 0;    // its "<"
    std::size_t nameEnd = 0;  // just after its name
    std::size_t end = 0;      // just after its ">"
    bool closing = false, selfClosing = false;
    bool inert = false;  // in template content or foreign content: nothing it names is loaded
    std::string name;    // lower case (at most 16 characters kept)
    // Of the names asked for, the first attribute of each name, in the tag's order.
    std::vector<HtmlAttribute> attributes;
    // For the start tag of a raw text or RCDATA element: where its text ends (at its end tag, or
    // the end of the page). Otherwise end.
    std::size_t contentEnd = 0;

    const HtmlAttribute* Find(std::string_view lowerName) const;
    bool Is(std::string_view lowerName) const { return std::string_view(name) == lowerName; }
};

class HtmlTokenizer {
  public:
    // wanted: the attribute names (lower case) the tags are read for; the others are stepped
    // over. Both must outlive the tokenizer.
    HtmlTokenizer(std::string_view page, std::span<const std::string_view> wanted)
        : s_(page), wanted_(wanted) {}

    // The next tag after the last one (or its element's text); false at the page's end.
    bool Next(HtmlTag& tag);
    // How far the reading has come.
    std::size_t position() const { return pos_; }

  private:
    bool ReadTag(std::size_t lt, bool closing, HtmlTag& tag);
    void AfterStartTag(HtmlTag& tag);
    std::size_t RawTextEnd(std::size_t from, std::string_view name) const;
    std::size_t ScriptEnd(std::size_t from) const;
    std::size_t CommentEnd(std::size_t from);
    bool EndTagAt(std::size_t i, std::string_view name) const;

    std::string_view s_;
    std::span<const std::string_view> wanted_;
    std::size_t pos_ = 0;
    std::size_t foreign_ = 0;   // open svg and math elements
    std::size_t template_ = 0;  // open template elements
    // Where the next "-->" and "--!>" stand, found for positions that only grow.
    std::size_t nextClose_ = 0, nextBangClose_ = 0;
    bool closeKnown_ = false, bangCloseKnown_ = false;
};

}  // namespace zembrat::job::reading
