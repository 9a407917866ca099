#include "kyr/stages/hdrSelectionMask.h"

#include <utility>

#include "core/stages/masks/maskImages.h"
#include "kyr/status.h"
#include "optimized/maskKernels.h"

template <size_t N>
HDRSelectionMask<N>::HDRSelectionMask() : Stage<Image<uint16_t>>("HDRSelectionMask") {
    for (auto& in : amplitude) {
        in.setOwner(*this);
    }
}

template <size_t N>
int HDRSelectionMask<N>::action() {
    const auto amp = kyr::kernels::takeImages(amplitude);
    const int r = kyr::kernels::checkImages(getName(), amp);
    if (r != kyr::status::OK) {
        return r;
    }
    auto out = Image<uint16_t>::createNewBuffer(amp[0]->getWidth(), amp[0]->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::hdrSelection(kyr::kernels::pixelsOf(amp), out->getData(), out->pixelCount());
    buffer_out = std::move(out);
    return OK;
}

template class HDRSelectionMask<2>;
template class HDRSelectionMask<3>;
template class HDRSelectionMask<4>;
