// Reading and checking the input images of the mask, merge and HDR stages.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/stages/basic_math/imagePair.h"
#include "kyr/image.h"
#include "kyr/sink.h"
#include "optimized/maskKernels.h"

namespace kyr::kernels {

// The current image of each input, in index order (an unbuffered input is
// consumed).
template <typename T, size_t N>
std::array<std::shared_ptr<T>, N> takeImages(Input<T> (&inputs)[N]) {
    std::array<std::shared_ptr<T>, N> images;
    for (size_t n = 0; n < N; ++n) {
        images[n] = inputs[n].value();
    }
    return images;
}

// checkImages over `images`.
template <typename T, size_t N>
int checkImages(const char* stage, const std::array<std::shared_ptr<T>, N>& images) {
    std::array<const ImageBase*, N> all;
    for (size_t n = 0; n < N; ++n) {
        all[n] = images[n].get();
    }
    return checkImages(stage, all);
}

// checkImages over `first` followed by `images`.
template <typename T, size_t N>
int checkImages(const char* stage, const ImageBase* first,
                const std::array<std::shared_ptr<T>, N>& images) {
    std::array<const ImageBase*, N + 1> all{first};
    for (size_t n = 0; n < N; ++n) {
        all[n + 1] = images[n].get();
    }
    return checkImages(stage, all);
}

// The pixel arrays of 16-bit images (signed ones as their bit patterns).
template <typename T, size_t N>
Planes<N> pixelsOf(const std::array<std::shared_ptr<Image<T>>, N>& images) {
    static_assert(sizeof(T) == sizeof(uint16_t));
    Planes<N> planes;
    for (size_t n = 0; n < N; ++n) {
        planes[n] = reinterpret_cast<const uint16_t*>(images[n]->getData());
    }
    return planes;
}

}  // namespace kyr::kernels
