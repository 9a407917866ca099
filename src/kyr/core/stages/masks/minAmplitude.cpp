#include "kyr/stages/minAmplitude.h"

#include <utility>

#include "core/stages/basic_math/imagePair.h"
#include "kyr/status.h"
#include "optimized/maskKernels.h"

MinAmplitude::MinAmplitude(uint16_t minAmp)
    : Stage<Image<uint16_t>>("MinAmplitude"), amplitude(*this), distance(*this), minAmp(minAmp) {
    registerInput(&amplitude);
    registerInput(&distance);
}

int MinAmplitude::action() {
    const auto amp = amplitude.value();
    const auto dist = distance.value();
    const int r = kyr::kernels::checkImagePair(getName(), amp.get(), dist.get());
    if (r != kyr::status::OK) {
        return r;
    }
    auto out = Image<uint16_t>::createNewBuffer(amp->getWidth(), amp->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::minAmplitude(amp->getData(), dist->getData(), minAmp, out->getData(),
                               out->pixelCount());
    buffer_out = std::move(out);
    return OK;
}
