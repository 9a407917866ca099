// Built with -fno-tree-vectorize: one pixel per step.
#include "arithmetic_scalar.h"

#include "optimized/arithmeticKernels.h"

namespace scalarref {

using namespace kyr::kernels;

std::shared_ptr<Image<int16_t>> subtract(const Image<uint16_t>& minuend,
                                         const Image<uint16_t>& subtrahend) {
    auto out = Image<int16_t>::createNewBuffer(minuend.getWidth(), minuend.getHeight());
    const uint16_t* a = minuend.getData();
    const uint16_t* b = subtrahend.getData();
    int16_t* o = out->getData();
    for (size_t i = 0, n = minuend.pixelCount(); i < n; ++i) {
        o[i] = subtractPixel(a[i], b[i]);
    }
    return out;
}

std::shared_ptr<Image<uint16_t>> amplitude(const Image<int16_t>& diff0,
                                           const Image<int16_t>& diff1) {
    auto out = Image<uint16_t>::createNewBuffer(diff0.getWidth(), diff0.getHeight());
    const int16_t* a = diff0.getData();
    const int16_t* b = diff1.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = diff0.pixelCount(); i < n; ++i) {
        o[i] = amplitudePixel(a[i], b[i]);
    }
    return out;
}

std::shared_ptr<Image<PhaseType<uint16_t>>> atan2Cordic(const Image<int16_t>& nominator,
                                                        const Image<int16_t>& denominator) {
    auto out =
        Image<PhaseType<uint16_t>>::createNewBuffer(nominator.getWidth(), nominator.getHeight());
    const int16_t* y = nominator.getData();
    const int16_t* x = denominator.getData();
    PhaseType<uint16_t>* o = out->getData();
    for (size_t i = 0, n = nominator.pixelCount(); i < n; ++i) {
        o[i] = PhaseType<uint16_t>(cordicPixel(y[i], x[i]));
    }
    return out;
}

std::shared_ptr<Image<PhaseType<uint16_t>>> atan2Cordic(const Image<float>& nominator,
                                                        const Image<float>& denominator) {
    auto out =
        Image<PhaseType<uint16_t>>::createNewBuffer(nominator.getWidth(), nominator.getHeight());
    const float* y = nominator.getData();
    const float* x = denominator.getData();
    PhaseType<uint16_t>* o = out->getData();
    for (size_t i = 0, n = nominator.pixelCount(); i < n; ++i) {
        o[i] = PhaseType<uint16_t>(
            cordicPixel(cordicInputFromFloat(y[i]), cordicInputFromFloat(x[i])));
    }
    return out;
}

}  // namespace scalarref
