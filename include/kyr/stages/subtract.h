// Difference of two DCS images.
#pragma once

#include <cstdint>

#include "kyr/image.h"
#include "kyr/stage.h"

// out = minuend - subtrahend per pixel, kept as the low 16 bits (two's
// complement, no clamping). 12-bit samples give differences in -4095..4095.
class Subtract : public Stage<Image<int16_t>> {
public:
    Subtract();

    // 0 on success; kyr::status::SIZE_MISMATCH (logged, nothing published)
    // when the two images differ in size; kyr::status::INVALID_ARGUMENT for a
    // missing image, kyr::status::NO_MEMORY when the output image cannot be
    // allocated.
    int action() override;

    Input<Image<uint16_t>> minuend;
    Input<Image<uint16_t>> subtrahend;
};
