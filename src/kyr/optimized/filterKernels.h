// Whole-image forms of the spatial kernels (kernels.h) with explicit SIMD
// (the best instruction set of the running CPU chosen at run time), row by
// row; the windows at the edges see replicated edge pixels. The results are
// those of the clamped window rule at every pixel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kyr/stages/filters/kernels.h"

namespace kyr::kernels {

// out(x, y) = kernel.apply(window around (x, y), coordinates clamped to the
// image) for the width x height image `in`; `out` is another image of the
// same size. Any size is accepted; 0 x 0 does nothing. Defined for the
// kernels of KYR_FILTER_CATALOGUE.
template <class Kernel>
void filterImage(Kernel& kernel, const typename Kernel::Type* in, typename Kernel::Type* out,
                 size_t width, size_t height);

}  // namespace kyr::kernels

// The kernels with a filter stage and a whole-image form:
// X(short name, kernel type).
#define KYR_FILTER_CATALOGUE(X)                     \
    X(SharpenU16, SharpenKernel3x3<uint16_t>)       \
    X(SharpenF32, SharpenKernel3x3<float>)          \
    X(LeftSobelU16, LeftSobelKernel3x3<uint16_t>)   \
    X(LeftSobelF32, LeftSobelKernel3x3<float>)      \
    X(RightSobelU16, RightSobelKernel3x3<uint16_t>) \
    X(RightSobelF32, RightSobelKernel3x3<float>)    \
    X(UpSobelU16, UpSobelKernel3x3<uint16_t>)       \
    X(UpSobelF32, UpSobelKernel3x3<float>)          \
    X(DownSobelU16, DownSobelKernel3x3<uint16_t>)   \
    X(DownSobelF32, DownSobelKernel3x3<float>)      \
    X(Edge1U16, Edge1Kernel3x3<uint16_t>)           \
    X(Edge1F32, Edge1Kernel3x3<float>)              \
    X(Edge2U16, Edge2Kernel3x3<uint16_t>)           \
    X(Edge2F32, Edge2Kernel3x3<float>)              \
    X(BoxBlurU16, BoxBlurKernel3x3<uint16_t>)       \
    X(BoxBlurF32, BoxBlurKernel3x3<float>)          \
    X(GaussianU16, GaussianKernel3x3<uint16_t>)     \
    X(GaussianF32, GaussianKernel3x3<float>)        \
    X(Average3U16, AverageKernel<uint16_t, 3>)      \
    X(Average3F32, AverageKernel<float, 3>)         \
    X(Average5U16, AverageKernel<uint16_t, 5>)      \
    X(Average5F32, AverageKernel<float, 5>)         \
    X(Median3U16, MedianKernel<uint16_t, 3>)        \
    X(Median3F32, MedianKernel<float, 3>)           \
    X(Median5U16, MedianKernel<uint16_t, 5>)        \
    X(Median5F32, MedianKernel<float, 5>)           \
    X(EdgeFilterU16, EdgeFilterKernel)
