// Shifts every pixel right by a fixed number of bits: brings the driver's
// samples, which sit in the upper bits of each word, into range.
#pragma once

#include <cstdint>

#include "kyr/image.h"
#include "kyr/sink.h"
#include "kyr/stage.h"

// Instantiated for uint16_t (logical shift) and int16_t (the sign is kept).
template <typename T>
class Shift : public Stage<Image<T>> {
public:
    Shift();
    explicit Shift(uint8_t nBits);

    // Shifts of 16 bits or more leave only the sign (0, or -1 for negative
    // int16_t samples).
    void setShiftBits(uint8_t bits) { nBits = bits; }
    uint8_t getShiftBits() const { return nBits; }

    int action() override;

    Input<Image<T>> input;

private:
    uint8_t nBits = 0;
};

extern template class Shift<uint16_t>;
extern template class Shift<int16_t>;
