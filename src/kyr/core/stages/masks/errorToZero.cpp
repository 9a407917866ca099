#include "kyr/stages/errorToZero.h"

#include <utility>

#include "core/stages/basic_math/imagePair.h"
#include "kyr/status.h"
#include "optimized/maskKernels.h"

ErrorToZero::ErrorToZero() : Stage<Image<uint16_t>>("Insert Errors"), input(*this) {
    registerInput(&input);
}

int ErrorToZero::action() {
    const auto in = input.value();
    const ImageBase* const images[] = {in.get()};
    const int r = kyr::kernels::checkImages(getName(), images);
    if (r != kyr::status::OK) {
        return r;
    }
    auto out = Image<uint16_t>::createNewBuffer(in->getWidth(), in->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::errorToZero(in->getData(), out->getData(), out->pixelCount());
    buffer_out = std::move(out);
    return OK;
}
