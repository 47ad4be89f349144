// How a web server should serve a published file: its media type from its kind (the extension of
// its name), and how long a copy may be kept.
#pragma once

#include <string>
#include <string_view>

#include "publish/transport.h"

namespace zembrat::publish {

// The media type of a file by the extension of its name (any letter case): the image types a run
// stores, and the pages it writes; "application/octet-stream" for any other.
std::string ContentTypeOf(std::string_view name);

// servedAs with a text type naming the charset its bytes are in, as a run reads an article: UTF-8
// when they are (text::DetectArticleEncoding), GBK otherwise; any other type, or one that names
// its charset already, as it is.
ServedAs WithCharset(ServedAs servedAs, std::string_view bytes);

// Cache-Control for a content-named image (its bytes never change under its name) and for an
// article (it may be written again).
inline constexpr std::string_view kImmutableCaching = "public, max-age=31536000, immutable";
inline constexpr std::string_view kArticleCaching = "public, max-age=300";

}  // namespace zembrat::publish
