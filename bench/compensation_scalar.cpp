#include "compensation_scalar.h"

#include "optimized/phaseKernels.h"

namespace scalarref {

using namespace kyr::kernels;

namespace {

const uint16_t* raw(const PhaseImage& img) {
    return reinterpret_cast<const uint16_t*>(img.getData());
}
uint16_t* raw(PhaseImage& img) {
    return reinterpret_cast<uint16_t*>(img.getData());
}

}  // namespace

std::shared_ptr<PhaseImage> phaseErrorLut(const PhaseImage& in, const uint16_t* lut, size_t size) {
    auto out = PhaseImage::createNewBuffer(in.getWidth(), in.getHeight());
    const uint16_t* src = raw(in);
    uint16_t* dst = raw(*out);
    for (size_t i = 0; i < in.pixelCount(); ++i) {
        dst[i] = phaseErrorPixel(src[i], lut, size);
    }
    return out;
}

std::shared_ptr<PhaseImage> phaseOffset(const PhaseImage& in, const PhaseImage& offset) {
    auto out = PhaseImage::createNewBuffer(in.getWidth(), in.getHeight());
    const uint16_t* src = raw(in);
    const uint16_t* off = raw(offset);
    uint16_t* dst = raw(*out);
    for (size_t i = 0; i < in.pixelCount(); ++i) {
        dst[i] = subtractPhasePixel(src[i], off[i]);
    }
    return out;
}

std::shared_ptr<PhaseImage> temperatureShift(const PhaseImage& in, float temperature_C,
                                             float calibrationTemp_C, float slope_mm_K,
                                             uint32_t frequency_Hz) {
    auto out = PhaseImage::createNewBuffer(in.getWidth(), in.getHeight());
    const uint16_t shift =
        kyr::kernels::temperatureShift(temperature_C, calibrationTemp_C, slope_mm_K, frequency_Hz);
    const uint16_t* src = raw(in);
    uint16_t* dst = raw(*out);
    for (size_t i = 0; i < in.pixelCount(); ++i) {
        dst[i] = subtractPhasePixel(src[i], shift);
    }
    return out;
}

std::shared_ptr<Image<uint16_t>> phaseToDistance(const PhaseImage& in, float scale) {
    auto out = Image<uint16_t>::createNewBuffer(in.getWidth(), in.getHeight());
    const uint16_t* src = raw(in);
    uint16_t* dst = out->getData();
    for (size_t i = 0; i < in.pixelCount(); ++i) {
        dst[i] = phaseToDistancePixel(src[i], scale);
    }
    return out;
}

}  // namespace scalarref
