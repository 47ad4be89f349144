// Where the run meets the image module: what the image options ask of it, the content check's
// image type as the module's kind, what a downloaded image is stored as, and the key the run
// record keeps an image under.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "image/optimize.h"
#include "job/content_type.h"
#include "job/extension_options.h"
#include "text/gbk.h"

namespace zembrat::job {

// The kind the image module reads an image type as: the decoded kinds, and Other for SVG, ICO,
// HEIC and no type (stored as they came).
image::Kind ImageKind(ImageType type);

// The image type a stored kind is; None for Other.
ImageType StoredType(image::Kind kind);

// What the image options ask of the module.
image::Options ImageOptions(const ExtensionOptions& options);

// Whether the image options change anything that is stored (--optimize or --strip-metadata).
bool ShapesImages(const ExtensionOptions& options);

// What a downloaded image is stored as.
struct ShapedImage {
    text::Bytes bytes;
    std::string extension;  // the stored kind's; the usual rule when the kind stayed
};

// The bytes of a downloaded image as the image options shape them, with the extension of their
// kind: the usual one (StoredExtension) when the kind stayed, the new kind's when it changed.
// Nullopt when no image option acts: the bytes are stored as fetched.
std::optional<ShapedImage> ShapeImage(std::string_view address, const text::Bytes& bytes,
                                      const ExtensionOptions& options);

// The key the run record keeps an address's image under: the address, and when the image
// options shape the stored file, those options after it, so that an incremental run reuses a
// file only when it was shaped as this run would shape it. Without them the key is the address,
// as records have always held it.
std::string RecordedAddress(const std::string& address, const ExtensionOptions& options);

}  // namespace zembrat::job
