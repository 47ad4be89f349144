#include "job/image_names.h"

#include <cstdio>

#include "text/crc32.h"
#include "text/gbk.h"

namespace zembrat::job {

std::string ContentName(std::string_view bytes) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(text::Crc32(bytes)));
    return hex;
}

std::string ImageExtension(std::string_view address) {
    const std::size_t dot = text::FindLast(address, ".");
    const std::string ext =
        dot == text::kNotFound ? std::string() : text::AsciiLower(address.substr(dot + 1));
    if (ext == "gif" || ext == "png" || ext == "ico" || ext == "bmp") return ext;
    return "jpg";
}

std::string ImageFolderBelow(std::string_view imageFolder) {
    return text::ReplaceAll(imageFolder, "\\", "/");
}

std::string ImageRelPath(std::string_view imageFolder, std::string_view name,
                         std::string_view extension) {
    std::string rel = ImageFolderBelow(imageFolder);
    rel += '/';
    rel += name;
    rel += '.';
    rel += extension;
    return rel;
}

std::string NewAddress(std::string_view relPath, std::string_view newPrefix) {
    std::string address = "/" + text::ReplaceAll(relPath, "\\", "/");
    if (!newPrefix.empty()) address = "http://" + std::string(newPrefix) + address;
    return address;
}

std::string Rewrite(std::string_view text, std::string_view source, std::string_view newAddress) {
    return text::ReplaceAll(text, source, newAddress);
}

void RewriteInPlace(std::string& text, std::string_view source, std::string_view newAddress,
                    std::string& scratch) {
    if (text::ReplaceAllInto(text, source, newAddress, scratch)) text.swap(scratch);
}

void RewriteInPlace(std::string& text, const std::vector<text::TextReplacement>& rewrites,
                    std::string& scratch) {
    if (text::ReplaceEachInto(text, rewrites, scratch)) text.swap(scratch);
}

}  // namespace zembrat::job
