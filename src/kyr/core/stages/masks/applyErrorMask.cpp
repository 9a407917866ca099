#include "kyr/stages/applyErrorMask.h"

#include <utility>

#include "core/stages/basic_math/imagePair.h"
#include "kyr/status.h"
#include "optimized/maskKernels.h"

ApplyErrorMask::ApplyErrorMask()
    : Stage<Image<uint16_t>>("Apply Error Mask"), image(*this), mask(*this) {
    registerInput(&image);
    registerInput(&mask);
}

int ApplyErrorMask::action() {
    const auto img = image.value();
    const auto codes = mask.value();
    const int r = kyr::kernels::checkImagePair(getName(), img.get(), codes.get());
    if (r != kyr::status::OK) {
        return r;
    }
    auto out = Image<uint16_t>::createNewBuffer(img->getWidth(), img->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::applyErrorMask(img->getData(), codes->getData(), out->getData(),
                                 out->pixelCount());
    buffer_out = std::move(out);
    return OK;
}
