// Images that stages make for themselves: the flat stand-ins for missing
// calibration and the zero start of per-pixel state.
#pragma once

#include <algorithm>
#include <memory>

#include "kyr/image.h"

namespace kyr::kernels {

// A new image of the size of `like` with every pixel `value`, or null when
// it cannot be allocated (logged by the image).
template <typename T>
std::shared_ptr<Image<T>> filledImage(const ImageBase& like, T value) {
    auto image = Image<T>::createNewBuffer(like.getWidth(), like.getHeight());
    if (image) {
        std::fill_n(image->getData(), image->pixelCount(), value);
    }
    return image;
}

}  // namespace kyr::kernels
