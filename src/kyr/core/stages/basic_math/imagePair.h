// Input checks shared by the stages with several input images.
#pragma once

#include <memory>
#include <span>

#include "kyr/image.h"
#include "kyr/platform.h"
#include "kyr/status.h"

namespace kyr::kernels {

// 0 when every image is present and has the size of the first. Otherwise
// logs why, in the name of `stage`, and returns INVALID_ARGUMENT (an image is
// missing) or SIZE_MISMATCH (naming the first image's size and the first
// size that differs).
inline int checkImageSizes(const char* stage, std::span<const ImageBase* const> images) {
    for (const ImageBase* image : images) {
        if (image == nullptr) {
            KYR_LOG_ERROR("%s: Input image is null", stage);
            return kyr::status::INVALID_ARGUMENT;
        }
    }
    if (images.empty()) {
        return kyr::status::OK;
    }
    const ImageBase& first = *images.front();
    for (const ImageBase* image : images.subspan(1)) {
        if (image->getWidth() != first.getWidth() || image->getHeight() != first.getHeight()) {
            KYR_LOG_ERROR("%s: input images differ in size (%zu x %zu and %zu x %zu)", stage,
                          first.getWidth(), first.getHeight(), image->getWidth(),
                          image->getHeight());
            return kyr::status::SIZE_MISMATCH;
        }
    }
    return kyr::status::OK;
}

inline int checkImagePair(const char* stage, const ImageBase* first, const ImageBase* second) {
    const ImageBase* const images[] = {first, second};
    return checkImageSizes(stage, images);
}

}  // namespace kyr::kernels
