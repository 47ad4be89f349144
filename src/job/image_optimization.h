// Where the run meets the image module: the content check's image type as the module's kind,
// and the stored kind's extension.
#pragma once

#include <string>
#include <string_view>

#include "image/optimize.h"
#include "job/content_type.h"

namespace zembrat::job {

// The kind the image module reads an image type as: the decoded kinds, and Other for SVG, ICO,
// HEIC and no type (stored as they came).
image::Kind ImageKind(ImageType type);

// The image type a stored kind is; None for Other.
ImageType StoredType(image::Kind kind);

}  // namespace zembrat::job
