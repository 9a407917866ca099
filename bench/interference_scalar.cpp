// Built with -fno-tree-vectorize: one pixel per step.
#include "interference_scalar.h"

#include "optimized/interferenceKernels.h"

namespace scalarref {

using namespace kyr::kernels;

std::shared_ptr<Image16> interferenceMask(const std::shared_ptr<Image16> (&dcs)[4],
                                          const Image16& dsnu, uint16_t threshold) {
    auto out = Image16::createNewBuffer(dcs[0]->getWidth(), dcs[0]->getHeight());
    const uint16_t *d0 = dcs[0]->getData(), *d1 = dcs[1]->getData(), *d2 = dcs[2]->getData(),
                   *d3 = dcs[3]->getData(), *offset = dsnu.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = out->pixelCount(); i < n; ++i) {
        o[i] = interferencePixel(d0[i], d1[i], d2[i], d3[i], offset[i], threshold);
    }
    return out;
}

std::shared_ptr<Image16> latch(const Image16& input, const Image16& mask, const Image16& held) {
    auto out = Image16::createNewBuffer(input.getWidth(), input.getHeight());
    const uint16_t *in = input.getData(), *m = mask.getData(), *h = held.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = out->pixelCount(); i < n; ++i) {
        o[i] = latchPixel(in[i], m[i], h[i]);
    }
    return out;
}

std::shared_ptr<Image16> interferenceDetection(const std::shared_ptr<Image16> (&dcs)[4],
                                               const Image16& input, uint16_t threshold, bool latch,
                                               Image16& last) {
    auto out = Image16::createNewBuffer(input.getWidth(), input.getHeight());
    const uint16_t *d0 = dcs[0]->getData(), *d1 = dcs[1]->getData(), *d2 = dcs[2]->getData(),
                   *d3 = dcs[3]->getData(), *in = input.getData();
    uint16_t *o = out->getData(), *l = last.getData();
    for (size_t i = 0, n = out->pixelCount(); i < n; ++i) {
        if (undisturbedPixel(d0[i], d1[i], d2[i], d3[i], DEFAULT_DARK_OFFSET, threshold)) {
            o[i] = l[i] = in[i];
        } else {
            o[i] = latch ? l[i] : INTERFERENCE_CODE;
        }
    }
    return out;
}

}  // namespace scalarref
