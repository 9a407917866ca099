#include "kyr/stages/stitch.h"

#include <utility>

#include "core/stages/masks/maskImages.h"
#include "kyr/status.h"
#include "optimized/maskKernels.h"

template <size_t N, typename T>
Stitch<N, T>::Stitch() : Stage<Image<T>>("Stitch"), inMask(*this) {
    this->registerInput(&inMask);
    for (auto& in : amplitude) {
        in.setOwner(*this);
    }
}

template <size_t N, typename T>
int Stitch<N, T>::action() {
    const auto mask = inMask.value();
    const auto images = kyr::kernels::takeImages(amplitude);
    const int r = kyr::kernels::checkImages(this->getName(), mask.get(), images);
    if (r != kyr::status::OK) {
        return r;
    }
    auto out = Image<T>::createNewBuffer(mask->getWidth(), mask->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    // 16-bit pixels of any kind are stitched as their bit patterns.
    kyr::kernels::stitch(mask->getData(), kyr::kernels::pixelsOf(images),
                         reinterpret_cast<uint16_t*>(out->getData()), out->pixelCount());
    this->buffer_out = std::move(out);
    return StageBase::OK;
}

template class Stitch<2, uint16_t>;
template class Stitch<3, uint16_t>;
template class Stitch<4, uint16_t>;
template class Stitch<3, int16_t>;
