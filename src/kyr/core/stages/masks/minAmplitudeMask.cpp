#include "kyr/stages/minAmplitudeMask.h"

#include <utility>

#include "core/stages/basic_math/imagePair.h"
#include "kyr/status.h"
#include "optimized/maskKernels.h"

MinAmplitudeMask::MinAmplitudeMask(uint16_t minAmp)
    : Stage<Image<uint16_t>>("Min Amplitude Mask"), amplitude(*this), minAmp(minAmp) {
    registerInput(&amplitude);
}

int MinAmplitudeMask::action() {
    const auto amp = amplitude.value();
    const ImageBase* const images[] = {amp.get()};
    const int r = kyr::kernels::checkImages(getName(), images);
    if (r != kyr::status::OK) {
        return r;
    }
    auto out = Image<uint16_t>::createNewBuffer(amp->getWidth(), amp->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::minAmplitudeMask(amp->getData(), minAmp, out->getData(), out->pixelCount());
    buffer_out = std::move(out);
    return OK;
}
