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

}  // namespace zembrat::job
