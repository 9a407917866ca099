// Amplitude of the received modulated light from the two DCS differences.
#pragma once

#include <cstdint>

#include "kyr/image.h"
#include "kyr/stage.h"

// out = trunc(0.5 * sqrt(diff0^2 + diff1^2)) per pixel, in single
// precision (see kyr::kernels::amplitudePixel).
class Amplitude : public Stage<Image<uint16_t>> {
public:
    Amplitude();

    // 0 on success; kyr::status::SIZE_MISMATCH (logged, nothing published)
    // when the two images differ in size; kyr::status::INVALID_ARGUMENT for a
    // missing image, kyr::status::NO_MEMORY when the output image cannot be
    // allocated.
    int action() override;

    Input<Image<int16_t>> diff0;
    Input<Image<int16_t>> diff1;
};
