// Built with -fno-tree-vectorize: one pixel per step.
#include "mask_scalar.h"

#include "optimized/maskKernels.h"

namespace scalarref {

using namespace kyr::kernels;

namespace {

std::shared_ptr<U16> like(const U16& image) {
    return U16::createNewBuffer(image.getWidth(), image.getHeight());
}

}  // namespace

std::shared_ptr<U16> saturationMask(const U16& dcs) {
    auto out = like(dcs);
    const uint16_t* a = dcs.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = dcs.pixelCount(); i < n; ++i) {
        o[i] = saturationPixel<1>({a[i]});
    }
    return out;
}

std::shared_ptr<U16> saturationMask(const U16& dcs0, const U16& dcs1, const U16& dcs2,
                                    const U16& dcs3) {
    auto out = like(dcs0);
    const uint16_t* a = dcs0.getData();
    const uint16_t* b = dcs1.getData();
    const uint16_t* c = dcs2.getData();
    const uint16_t* d = dcs3.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = dcs0.pixelCount(); i < n; ++i) {
        o[i] = saturationPixel<4>({a[i], b[i], c[i], d[i]});
    }
    return out;
}

std::shared_ptr<U16> minAmplitudeMask(const U16& amplitude, uint16_t minAmp) {
    auto out = like(amplitude);
    const uint16_t* a = amplitude.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = amplitude.pixelCount(); i < n; ++i) {
        o[i] = minAmplitudeMaskPixel(a[i], minAmp);
    }
    return out;
}

std::shared_ptr<U16> minAmplitude(const U16& amplitude, const U16& distance, uint16_t minAmp) {
    auto out = like(amplitude);
    const uint16_t* a = amplitude.getData();
    const uint16_t* d = distance.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = amplitude.pixelCount(); i < n; ++i) {
        o[i] = minAmplitudePixel(a[i], d[i], minAmp);
    }
    return out;
}

std::shared_ptr<U16> mergeErrorMasks(const U16& m0, const U16& m1, const U16& m2) {
    auto out = like(m0);
    const uint16_t* a = m0.getData();
    const uint16_t* b = m1.getData();
    const uint16_t* c = m2.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = m0.pixelCount(); i < n; ++i) {
        o[i] = mergePixel<3>({a[i], b[i], c[i]});
    }
    return out;
}

std::shared_ptr<U16> applyErrorMask(const U16& image, const U16& mask) {
    auto out = like(image);
    const uint16_t* a = image.getData();
    const uint16_t* m = mask.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = image.pixelCount(); i < n; ++i) {
        o[i] = applyErrorMaskPixel(a[i], m[i]);
    }
    return out;
}

std::shared_ptr<U16> errorToZero(const U16& in) {
    auto out = like(in);
    const uint16_t* a = in.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = in.pixelCount(); i < n; ++i) {
        o[i] = errorToZeroPixel(a[i]);
    }
    return out;
}

std::shared_ptr<U16> hdrSelection(const U16& a0, const U16& a1, const U16& a2) {
    auto out = like(a0);
    const uint16_t* a = a0.getData();
    const uint16_t* b = a1.getData();
    const uint16_t* c = a2.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = a0.pixelCount(); i < n; ++i) {
        o[i] = hdrSelectionPixel<3>({a[i], b[i], c[i]});
    }
    return out;
}

std::shared_ptr<U16> stitch(const U16& mask, const U16& e0, const U16& e1, const U16& e2) {
    auto out = like(mask);
    const Planes<3> exposures = {e0.getData(), e1.getData(), e2.getData()};
    const uint16_t* m = mask.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = mask.pixelCount(); i < n; ++i) {
        o[i] = exposures[stitchSource<3>(m[i])][i];
    }
    return out;
}

}  // namespace scalarref
