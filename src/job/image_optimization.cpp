#include "job/image_optimization.h"

#include <utility>

namespace zembrat::job {

image::Kind ImageKind(ImageType type) {
    switch (type) {
        case ImageType::Jpeg:
            return image::Kind::Jpeg;
        case ImageType::Png:
            return image::Kind::Png;
        case ImageType::Gif:
            return image::Kind::Gif;
        case ImageType::WebP:
            return image::Kind::WebP;
        case ImageType::Avif:
            return image::Kind::Avif;
        case ImageType::Bmp:
            return image::Kind::Bmp;
        case ImageType::None:
        case ImageType::Ico:
        case ImageType::Heic:
        case ImageType::Svg:
            break;
    }
    return image::Kind::Other;
}

ImageType StoredType(image::Kind kind) {
    switch (kind) {
        case image::Kind::Jpeg:
            return ImageType::Jpeg;
        case image::Kind::Png:
            return ImageType::Png;
        case image::Kind::Gif:
            return ImageType::Gif;
        case image::Kind::WebP:
            return ImageType::WebP;
        case image::Kind::Avif:
            return ImageType::Avif;
        case image::Kind::Bmp:
            return ImageType::Bmp;
        case image::Kind::Other:
            break;
    }
    return ImageType::None;
}

image::Options ImageOptions(const ExtensionOptions& options) {
    image::Options o;
    if (options.optimizeImages == "webp") o.optimize = image::Target::WebP;
    if (options.optimizeImages == "avif") o.optimize = image::Target::Avif;
    o.quality = options.imageQuality;
    o.maxWidth = options.maxImageWidth;
    o.stripMetadata = options.stripMetadata;
    return o;
}

bool ShapesImages(const ExtensionOptions& options) {
    const image::Options o = ImageOptions(options);
    return o.optimize != image::Target::None || o.stripMetadata;
}

std::optional<ShapedImage> ShapeImage(std::string_view address, const text::Bytes& bytes,
                                      const ExtensionOptions& options) {
    if (!ShapesImages(options)) return std::nullopt;
    const image::Kind kind = ImageKind(DetectImageType(bytes));
    image::Stored stored = image::Optimize(bytes, kind, ImageOptions(options));
    std::string extension = stored.kind == kind
                                ? StoredExtension(address, stored.bytes, options.checkContent)
                                : std::string(ExtensionOf(StoredType(stored.kind)));
    return ShapedImage{std::move(stored.bytes), std::move(extension)};
}

std::string RecordedAddress(const std::string& address, const ExtensionOptions& options) {
    if (!ShapesImages(options)) return address;
    const image::Options o = ImageOptions(options);
    std::string key = address + "\n" + "image:";
    if (o.optimize != image::Target::None) {
        key += options.optimizeImages + " quality " +
               std::to_string(image::QualityFor(o, o.optimize)) + " width " +
               std::to_string(o.maxWidth);
    }
    if (o.stripMetadata) key += " stripped";
    return key;
}

}  // namespace zembrat::job
