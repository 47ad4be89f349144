// What the readers of an article's references give: the pieces of the article that are image
// sources, and the encoding they read the article in.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "text/article_encoding.h"

namespace zembrat::job {

using text::ArticleEncoding;
using text::DetectArticleEncoding;

// One found source, a contiguous piece of the article.
struct FoundSource {
    std::size_t offset = 0;  // where text begins in the article
    std::string text;        // the value as written: what the rewrite replaces
    std::string address;     // what is fetched when it differs from text; empty otherwise

    const std::string& Fetched() const { return address.empty() ? text : address; }
    friend bool operator==(const FoundSource&, const FoundSource&) = default;
};

using Sources = std::vector<FoundSource>;

// A piece of the article that must be written as well for a source to show: the src of a lazy
// image, which holds a placeholder (or is missing) until the page's script swaps the real
// address in. What is written holds the source text, which the rewrite writes as the stored
// image's address when that source is stored.
struct SourceEdit {
    std::size_t offset = 0;  // where the piece begins in the article
    std::size_t length = 0;  // how many bytes it replaces (0: it is put in)
    std::string text;        // what is written there
    std::string source;      // the source text it stands for

    friend bool operator==(const SourceEdit&, const SourceEdit&) = default;
};

using SourceEdits = std::vector<SourceEdit>;

}  // namespace zembrat::job
