#include "job/image_optimization.h"

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

}  // namespace zembrat::job
