// Input checks shared by the stages that combine images pixel by pixel.
#pragma once

#include <initializer_list>
#include <memory>
#include <span>

#include "kyr/image.h"
#include "kyr/platform.h"
#include "kyr/status.h"

namespace kyr::kernels {

inline bool sameSize(const ImageBase& a, const ImageBase& b) {
    return a.getWidth() == b.getWidth() && a.getHeight() == b.getHeight();
}

// 0 when every image is present and of the size of the first. Otherwise
// logs why, in the name of `stage`, and returns INVALID_ARGUMENT (an image
// is missing) or SIZE_MISMATCH (naming the first size and the one that
// differs).
inline int checkImages(const char* stage, std::span<const ImageBase* const> images) {
    for (const ImageBase* image : images) {
        if (image == nullptr) {
            KYR_LOG_ERROR("%s: Input image is null", stage);
            return kyr::status::INVALID_ARGUMENT;
        }
    }
    if (images.size() == 0) {
        return kyr::status::OK;
    }
    const ImageBase& first = **images.begin();
    for (const ImageBase* image : images) {
        if (!sameSize(*image, first)) {
            KYR_LOG_ERROR("%s: input images differ in size (%zu x %zu and %zu x %zu)", stage,
                          first.getWidth(), first.getHeight(), image->getWidth(),
                          image->getHeight());
            return kyr::status::SIZE_MISMATCH;
        }
    }
    return kyr::status::OK;
}

inline int checkImages(const char* stage, std::initializer_list<const ImageBase*> images) {
    return checkImages(stage, std::span<const ImageBase* const>(images.begin(), images.size()));
}

inline int checkImagePair(const char* stage, const ImageBase* first, const ImageBase* second) {
    return checkImages(stage, {first, second});
}

}  // namespace kyr::kernels
