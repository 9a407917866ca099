// Built with -fno-tree-vectorize: one pixel per step.
#include "temporal_scalar.h"

#include "optimized/temporalKernels.h"

namespace scalarref {

using namespace kyr::kernels;

std::shared_ptr<Image<uint16_t>> temporalFilter(const Image<uint16_t>& in,
                                                const Image<uint16_t>& average, float alpha,
                                                uint16_t threshold) {
    auto out = Image<uint16_t>::createNewBuffer(in.getWidth(), in.getHeight());
    const uint32_t weight = temporalWeight(alpha);
    const uint16_t* a = in.getData();
    const uint16_t* b = average.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = in.pixelCount(); i < n; ++i) {
        o[i] = temporalPixel(a[i], b[i], weight, threshold);
    }
    return out;
}

std::shared_ptr<Image<uint16_t>> kalmanFilter(const Image<uint16_t>& distance,
                                              const Image<uint16_t>& amplitude,
                                              Image<uint16_t>& estimate,
                                              Image<uint16_t>& uncertainty, uint16_t processNoise,
                                              uint16_t uncertaintyThreshold) {
    auto out = Image<uint16_t>::createNewBuffer(distance.getWidth(), distance.getHeight());
    const int32_t limit = kalmanLimit(uncertaintyThreshold);
    const uint16_t* z = distance.getData();
    const uint16_t* amp = amplitude.getData();
    uint16_t* x = estimate.getData();
    uint16_t* p = uncertainty.getData();
    uint16_t* o = out->getData();
    for (size_t i = 0, n = distance.pixelCount(); i < n; ++i) {
        const KalmanPixel r = kalmanPixel(z[i], amp[i], x[i], p[i], processNoise, limit);
        x[i] = r.estimate;
        p[i] = r.uncertainty;
        o[i] = r.out;
    }
    return out;
}

}  // namespace scalarref
