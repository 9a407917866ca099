#include "kyr/stages/shift.h"

#include <algorithm>
#include <cstddef>

#include "kyr/platform.h"
#include "kyr/status.h"

template <typename T>
Shift<T>::Shift() : Shift(0) {}

template <typename T>
Shift<T>::Shift(uint8_t bits) : Stage<Image<T>>("Shift"), nBits(bits) {
    input.setOwner(*this);
}

template <typename T>
int Shift<T>::action() {
    const std::shared_ptr<Image<T>> in = input.value();
    if (!in) {
        KYR_LOG_ERROR("Input image is null");
        return kyr::status::INVALID_ARGUMENT;
    }
    std::shared_ptr<Image<T>> out = Image<T>::createNewBuffer(in->getWidth(), in->getHeight());
    if (!out) {
        return kyr::status::NO_MEMORY;
    }
    // The samples are promoted to int, so a shift by 16 is defined and
    // leaves only the sign.
    const int bits = std::min<int>(nBits, 16);
    const T* src = in->getData();
    T* dst = out->getData();
    const size_t n = in->pixelCount();
    for (size_t i = 0; i < n; ++i) {
        dst[i] = static_cast<T>(src[i] >> bits);
    }
    this->buffer_out = std::move(out);
    return StageBase::OK;
}

template class Shift<uint16_t>;
template class Shift<int16_t>;
