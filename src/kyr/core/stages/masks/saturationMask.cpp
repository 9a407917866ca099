#include "kyr/stages/saturationMask.h"

#include <utility>

#include "core/stages/masks/maskImages.h"
#include "kyr/status.h"
#include "optimized/maskKernels.h"

template <size_t N>
SaturationMask<N>::SaturationMask() : Stage<Image<uint16_t>>("Saturation Mask") {
    for (auto& in : input) {
        in.setOwner(*this);
    }
}

template <size_t N>
int SaturationMask<N>::action() {
    const auto dcs = kyr::kernels::takeImages(input);
    const int r = kyr::kernels::checkImages(getName(), dcs);
    if (r != kyr::status::OK) {
        return r;
    }
    auto out = Image<uint16_t>::createNewBuffer(dcs[0]->getWidth(), dcs[0]->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::saturationMask(kyr::kernels::pixelsOf(dcs), out->getData(), out->pixelCount());
    buffer_out = std::move(out);
    return OK;
}

template class SaturationMask<1>;
template class SaturationMask<4>;
