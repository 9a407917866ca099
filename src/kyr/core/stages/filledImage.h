// Images that stages make for themselves: the flat stand-ins for missing
// calibration and the zero start of per-pixel state.
#pragma once

#include <algorithm>
#include <memory>

#include "kyr/image.h"
#include "kyr/platform.h"
#include "kyr/status.h"

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

// The stand-in of a compensation stage whose calibration is missing or does
// not fit the frame: `image` becomes an image of the size of `like` with
// every pixel `identity`, the value that corrects nothing. `warning` is
// logged unless `announced` is set already, and `announced` is set. 0, or
// kyr::status::NO_MEMORY when the image cannot be allocated (`image` is then
// null).
template <typename T>
int standInCalibration(std::shared_ptr<Image<T>>& image, const ImageBase& like, T identity,
                       bool& announced, const char* warning) {
    if (!announced) {
        KYR_LOG_WARN("%s", warning);
    }
    announced = true;
    image = filledImage(like, identity);
    return image ? kyr::status::OK : kyr::status::NO_MEMORY;
}

}  // namespace kyr::kernels
