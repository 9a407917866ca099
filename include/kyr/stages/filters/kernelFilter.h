// The spatial kernel filter stage: runs a kernel (kernels.h) over a whole
// image, replicating the border pixels, or passes its input through.
#pragma once

#include <cstdint>

#include "kyr/image.h"
#include "kyr/sink.h"
#include "kyr/stage.h"
#include "kyr/stages/filters/kernels.h"

// Output pixel (x, y) is kernel.apply of the N x N window around (x, y),
// where a coordinate outside the image is clamped to the nearest edge. Works
// for every image size: an image smaller than the window has every window
// clamped, a 0 x 0 image gives a 0 x 0 output. Disabled after construction;
// a disabled filter publishes the very input image. The stage's name is the
// kernel's name.
//
// The stage is built for the kernels of the catalogue below (instantiated in
// the library, with vector forms).
template <class Kernel>
class KernelFilter : public Stage<Image<typename Kernel::Type>> {
public:
    using Type = typename Kernel::Type;

    KernelFilter();

    // Applies from the next run.
    void setEnabled(bool enable) { enabled = enable; }
    bool getEnabled() const { return enabled; }

    // kyr::status::OK; INVALID_ARGUMENT (logged) without an input image,
    // NO_MEMORY when the output image cannot be allocated (nothing
    // published).
    int action() override;

    Input<Image<Type>> input;
    Kernel kernel;

private:
    bool enabled = false;
};

// The filters of the filter graph.
using MedianFilter = KernelFilter<kyr::kernels::MedianKernel<uint16_t, 3>>;
using AverageFilter = KernelFilter<kyr::kernels::AverageKernel<uint16_t, 3>>;

// The catalogue.
extern template class KernelFilter<kyr::kernels::SharpenKernel3x3<uint16_t>>;
extern template class KernelFilter<kyr::kernels::SharpenKernel3x3<float>>;
extern template class KernelFilter<kyr::kernels::LeftSobelKernel3x3<uint16_t>>;
extern template class KernelFilter<kyr::kernels::LeftSobelKernel3x3<float>>;
extern template class KernelFilter<kyr::kernels::RightSobelKernel3x3<uint16_t>>;
extern template class KernelFilter<kyr::kernels::RightSobelKernel3x3<float>>;
extern template class KernelFilter<kyr::kernels::UpSobelKernel3x3<uint16_t>>;
extern template class KernelFilter<kyr::kernels::UpSobelKernel3x3<float>>;
extern template class KernelFilter<kyr::kernels::DownSobelKernel3x3<uint16_t>>;
extern template class KernelFilter<kyr::kernels::DownSobelKernel3x3<float>>;
extern template class KernelFilter<kyr::kernels::Edge1Kernel3x3<uint16_t>>;
extern template class KernelFilter<kyr::kernels::Edge1Kernel3x3<float>>;
extern template class KernelFilter<kyr::kernels::Edge2Kernel3x3<uint16_t>>;
extern template class KernelFilter<kyr::kernels::Edge2Kernel3x3<float>>;
extern template class KernelFilter<kyr::kernels::BoxBlurKernel3x3<uint16_t>>;
extern template class KernelFilter<kyr::kernels::BoxBlurKernel3x3<float>>;
extern template class KernelFilter<kyr::kernels::GaussianKernel3x3<uint16_t>>;
extern template class KernelFilter<kyr::kernels::GaussianKernel3x3<float>>;
extern template class KernelFilter<kyr::kernels::AverageKernel<uint16_t, 3>>;
extern template class KernelFilter<kyr::kernels::AverageKernel<float, 3>>;
extern template class KernelFilter<kyr::kernels::AverageKernel<uint16_t, 5>>;
extern template class KernelFilter<kyr::kernels::AverageKernel<float, 5>>;
extern template class KernelFilter<kyr::kernels::MedianKernel<uint16_t, 3>>;
extern template class KernelFilter<kyr::kernels::MedianKernel<float, 3>>;
extern template class KernelFilter<kyr::kernels::MedianKernel<uint16_t, 5>>;
extern template class KernelFilter<kyr::kernels::MedianKernel<float, 5>>;
extern template class KernelFilter<kyr::kernels::EdgeFilterKernel>;
