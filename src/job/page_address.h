// Where an article was published: the address of its page, as its own head names it.
#pragma once

#include <string>
#include <string_view>

namespace zembrat::job {

// The href of the article's first <link rel="canonical">, else the content of its first
// <meta property="og:url">; tag and attribute names in any letter case, values quoted or not,
// attributes in any order. Only an absolute http:// or https:// address counts; empty when the
// article names none.
std::string ArticlePageAddress(std::string_view article);

}  // namespace zembrat::job
