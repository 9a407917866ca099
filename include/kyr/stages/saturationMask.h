// Saturation and converter-overflow mask of one exposure's raw DCS images.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kyr/image.h"
#include "kyr/stage.h"

// An error mask from the N raw 12-bit DCS images of one exposure: per pixel
// SATURATION (64003) when any sample is 0, otherwise ADC_OVERFLOW (64002)
// when any sample is exactly 4095, otherwise 0 (valid). Built for N = 1 and 4.
template <size_t N>
class SaturationMask : public Stage<Image<uint16_t>> {
    static_assert(N == 1 || N == 4, "SaturationMask is built for 1 and 4 DCS images");

public:
    SaturationMask();

    // kyr::status::OK; SIZE_MISMATCH (logged, nothing published) when an
    // image differs in size from input[0]; INVALID_ARGUMENT for a missing
    // image; NO_MEMORY when the output image cannot be allocated.
    int action() override;

    Input<Image<uint16_t>> input[N];
};

extern template class SaturationMask<1>;
extern template class SaturationMask<4>;
