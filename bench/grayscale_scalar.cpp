// Built with -fno-tree-vectorize: one pixel per step.
#include "grayscale_scalar.h"

#include "optimized/grayscaleKernels.h"

namespace scalarref {

using namespace kyr::kernels;

std::shared_ptr<Image<uint16_t>> dsnu(const Image<uint16_t>& in, const Image<uint16_t>& offset) {
    auto out = Image<uint16_t>::createNewBuffer(in.getWidth(), in.getHeight());
    const uint16_t *a = in.getData(), *b = offset.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = in.pixelCount(); i < n; ++i) {
        o[i] = dsnuPixel(a[i], b[i]);
    }
    return out;
}

std::shared_ptr<Image<uint16_t>> prnu(const Image<uint16_t>& in,
                                      const Image<uint16_t>& reciprocal) {
    auto out = Image<uint16_t>::createNewBuffer(in.getWidth(), in.getHeight());
    const uint16_t *a = in.getData(), *r = reciprocal.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = in.pixelCount(); i < n; ++i) {
        o[i] = prnuPixel(a[i], r[i]);
    }
    return out;
}

}  // namespace scalarref
