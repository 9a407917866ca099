#include "kyr/stages/atan2CORDIC.h"

#include <type_traits>
#include <utility>

#include "core/stages/basic_math/imagePair.h"
#include "kyr/status.h"
#include "optimized/arithmeticKernels.h"

// The phase image is written as its raw 16-bit values.
static_assert(sizeof(PhaseType<uint16_t>) == sizeof(uint16_t) &&
              std::is_standard_layout_v<PhaseType<uint16_t>>);

template <typename T>
Atan2CORDIC<T>::Atan2CORDIC() : nominator(*this), denominator(*this) {
    setName("Atan2 CORDIC");
    registerInput(&nominator);
    registerInput(&denominator);
}

template <typename T>
int Atan2CORDIC<T>::action() {
    const auto y = nominator.value();
    const auto x = denominator.value();
    // Unequal sizes are refused: the loop would run past the smaller image.
    const int r = kyr::kernels::checkImagePair(getName(), y.get(), x.get());
    if (r != 0) {
        return r;
    }
    auto out = Image<PhaseType<uint16_t>>::createNewBuffer(y->getWidth(), y->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    kyr::kernels::atan2Cordic(y->getData(), x->getData(),
                              reinterpret_cast<uint16_t*>(out->getData()), y->pixelCount());
    this->buffer_out = std::move(out);
    return OK;
}

template class Atan2CORDIC<int16_t>;
template class Atan2CORDIC<float>;
