#include "kyr/stages/filters/latch.h"

#include <utility>

#include "core/stages/basic_math/imagePair.h"
#include "kyr/status.h"
#include "optimized/interferenceKernels.h"

template <typename T>
Latch<T>::Latch(bool enabled) : input(*this), mask(*this), enabled(enabled) {
    this->setName("Latch");
    this->registerInput(&input);
    this->registerInput(&mask);
}

template <typename T>
void Latch<T>::setEnabled(bool enable) {
    enabled = enable;
    if (!enable) {
        state.reset();
    }
}

template <typename T>
int Latch<T>::action() {
    auto in = input.value();
    const auto flags = mask.value();
    const int r = kyr::kernels::checkImages(this->getName(), {in.get(), flags.get()});
    if (r != kyr::status::OK) {
        return r;
    }
    // Nothing held that fits the frame: it passes and is held from now on.
    if (!enabled || !state || !kyr::kernels::sameSize(*state, *in)) {
        state = in;
        this->buffer_out = std::move(in);
        return StageBase::OK;
    }
    auto out = Image<T>::createNewBuffer(in->getWidth(), in->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::latch(in->getData(), flags->getData(), state->getData(), out->getData(),
                        in->pixelCount());
    state = out;
    this->buffer_out = std::move(out);
    return StageBase::OK;
}

template class Latch<uint16_t>;
template class Latch<int16_t>;
