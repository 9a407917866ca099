// Phase from the two DCS differences by a fixed-point CORDIC arctangent.
#pragma once

#include <cstdint>

#include "kyr/image.h"
#include "kyr/phaseType.h"
#include "kyr/stage.h"

// phase = atan2(nominator, denominator) as a raw PhaseType in 1/65536 of a
// turn (16384 = pi/2). T is int16_t (the pixel values are the CORDIC inputs)
// or float (each value is truncated toward zero and its low 16 bits taken).
template <typename T>
class Atan2CORDIC : public Stage<Image<PhaseType<uint16_t>>> {
public:
    Atan2CORDIC();

    // 0 on success; kyr::status::SIZE_MISMATCH (logged, nothing published)
    // when the two images differ in size; kyr::status::INVALID_ARGUMENT for a
    // missing image, kyr::status::NO_MEMORY when the output image cannot be
    // allocated.
    int action() override;

    Input<Image<T>> nominator;
    Input<Image<T>> denominator;
};

extern template class Atan2CORDIC<int16_t>;
extern template class Atan2CORDIC<float>;
