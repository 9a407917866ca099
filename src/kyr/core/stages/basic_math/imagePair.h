// Input checks shared by the two-input arithmetic stages.
#pragma once

#include <memory>

#include "kyr/image.h"
#include "kyr/platform.h"
#include "kyr/status.h"

namespace kyr::kernels {

// 0 when both images are present and of one size. Otherwise logs why, in the
// name of `stage`, and returns kyr::status::INVALID_ARGUMENT (an image is
// missing) or kyr::status::SIZE_MISMATCH (the sizes differ).
inline int checkImagePair(const char* stage, const ImageBase* first, const ImageBase* second) {
    if (first == nullptr || second == nullptr) {
        KYR_LOG_ERROR("%s: Input image is null", stage);
        return kyr::status::INVALID_ARGUMENT;
    }
    if (first->getWidth() != second->getWidth() || first->getHeight() != second->getHeight()) {
        KYR_LOG_ERROR("%s: input images differ in size (%zu x %zu and %zu x %zu)", stage,
                      first->getWidth(), first->getHeight(), second->getWidth(),
                      second->getHeight());
        return kyr::status::SIZE_MISMATCH;
    }
    return 0;
}

}  // namespace kyr::kernels
