#include "kyr/stages/subtract.h"

#include <utility>

#include "core/stages/basic_math/imagePair.h"
#include "kyr/status.h"
#include "optimized/arithmeticKernels.h"

Subtract::Subtract() : minuend(*this), subtrahend(*this) {
    setName("Subtract");
    registerInput(&minuend);
    registerInput(&subtrahend);
}

int Subtract::action() {
    const auto a = minuend.value();
    const auto b = subtrahend.value();
    const int r = kyr::kernels::checkImagePair(getName(), a.get(), b.get());
    if (r != 0) {
        return r;
    }
    auto out = Image<int16_t>::createNewBuffer(a->getWidth(), a->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::subtract(a->getData(), b->getData(), out->getData(), a->pixelCount());
    buffer_out = std::move(out);
    return OK;
}
