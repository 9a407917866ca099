#include "kyr/stages/amplitude.h"

#include <utility>

#include "core/stages/basic_math/imagePair.h"
#include "kyr/status.h"
#include "optimized/arithmeticKernels.h"

Amplitude::Amplitude() : diff0(*this), diff1(*this) {
    setName("Amplitude");
    registerInput(&diff0);
    registerInput(&diff1);
}

int Amplitude::action() {
    const auto d0 = diff0.value();
    const auto d1 = diff1.value();
    const int r = kyr::kernels::checkImagePair(getName(), d0.get(), d1.get());
    if (r != 0) {
        return r;
    }
    auto out = Image<uint16_t>::createNewBuffer(d0->getWidth(), d0->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::amplitude(d0->getData(), d1->getData(), out->getData(), d0->pixelCount());
    buffer_out = std::move(out);
    return OK;
}
