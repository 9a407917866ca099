#include "kyr/stages/mergeErrorMasks.h"

#include <utility>

#include "core/stages/masks/maskImages.h"
#include "kyr/status.h"
#include "optimized/maskKernels.h"

template <size_t N>
MergeErrorMasks<N>::MergeErrorMasks() : Stage<Image<uint16_t>>("Merge Error Masks") {
    for (auto& in : input) {
        in.setOwner(*this);
    }
}

template <size_t N>
int MergeErrorMasks<N>::action() {
    const auto masks = kyr::kernels::takeImages(input);
    const int r = kyr::kernels::checkImages(getName(), masks);
    if (r != kyr::status::OK) {
        return r;
    }
    auto out = Image<uint16_t>::createNewBuffer(masks[0]->getWidth(), masks[0]->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::mergeErrorMasks(kyr::kernels::pixelsOf(masks), out->getData(), out->pixelCount());
    buffer_out = std::move(out);
    return OK;
}

template class MergeErrorMasks<2>;
template class MergeErrorMasks<3>;
template class MergeErrorMasks<4>;
