#include "publish/served_as.h"

#include <algorithm>
#include <cctype>

#include "text/article_encoding.h"

namespace zembrat::publish {
namespace {

struct Kind {
    std::string_view extension;
    std::string_view type;
};

constexpr Kind kKinds[] = {
    {"jpg", "image/jpeg"},    {"jpeg", "image/jpeg"},        {"png", "image/png"},
    {"gif", "image/gif"},     {"webp", "image/webp"},        {"bmp", "image/bmp"},
    {"ico", "image/x-icon"},  {"avif", "image/avif"},        {"heic", "image/heic"},
    {"svg", "image/svg+xml"}, {"htm", "text/html"},          {"html", "text/html"},
    {"md", "text/markdown"},  {"markdown", "text/markdown"}, {"txt", "text/plain"},
};

}  // namespace

std::string ContentTypeOf(std::string_view name) {
    const std::size_t slash = name.rfind('/');
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return "application/octet-stream";
    std::string extension(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                   [&](const Kind& k) { return k.extension == extension; });
    return std::string(kind == std::end(kKinds) ? "application/octet-stream" : kind->type);
}

ServedAs WithCharset(ServedAs servedAs, std::string_view bytes) {
    std::string& type = servedAs.contentType;
    if (!type.starts_with("text/") || type.find(';') != std::string::npos) return servedAs;
    type += text::DetectArticleEncoding(bytes) == text::ArticleEncoding::Utf8 ? "; charset=UTF-8"
                                                                              : "; charset=GBK";
    return servedAs;
}

}  // namespace zembrat::publish
