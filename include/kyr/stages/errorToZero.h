// Replaces every pixel code by 0.
#pragma once

#include <cstdint>

#include "kyr/image.h"
#include "kyr/stage.h"

// out = 0 where the input holds a pixel code (64000 and above), else the
// input value: plain numbers for consumers that do not read codes.
class ErrorToZero : public Stage<Image<uint16_t>> {
public:
    ErrorToZero();

    // kyr::status::OK; INVALID_ARGUMENT (logged) for a missing image;
    // NO_MEMORY when the output image cannot be allocated.
    int action() override;

    Input<Image<uint16_t>> input;
};
