// How a downloaded image is named and addressed, and how its references are rewritten.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/gbk.h"

namespace zembrat::job {

// The CRC-32 of the bytes in upper-case hexadecimal, without leading zeros.
std::string ContentName(std::string_view bytes);

// "gif", "png", "ico" or "bmp" when the text after the address's last "." is one of them (any
// letter case), otherwise "jpg".
std::string ImageExtension(std::string_view address);

// The image folder as a path relative to the result folder: as typed, a "\" read as "/".
std::string ImageFolderBelow(std::string_view imageFolder);

// The image's path relative to the result folder: ImageFolderBelow, "/", the name, ".", the
// extension.
std::string ImageRelPath(std::string_view imageFolder, std::string_view name,
                         std::string_view extension);

// What replaces a reference in the article: "/" + the relative path with "/" separators,
// behind "http://" + newPrefix when a new prefix is set.
std::string NewAddress(std::string_view relPath, std::string_view newPrefix);

// Every occurrence of source replaced by newAddress, left to right, never starting on the
// second byte of a two-byte character and never searching the inserted text again.
std::string Rewrite(std::string_view text, std::string_view source, std::string_view newAddress);
// The same on text itself; scratch is working space kept between calls, so that rewriting a
// long article again and again does not allocate it anew each time.
void RewriteInPlace(std::string& text, std::string_view source, std::string_view newAddress,
                    std::string& scratch);
// Each source replaced by its new address in turn, as RewriteInPlace for one after the other
// gives it.
void RewriteInPlace(std::string& text, const std::vector<text::TextReplacement>& rewrites,
                    std::string& scratch);

}  // namespace zembrat::job
