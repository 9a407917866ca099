// Stamps an error mask onto an image.
#pragma once

#include <cstdint>

#include "kyr/image.h"
#include "kyr/stage.h"

// out = max(image, mask) per pixel: a valid value with mask 0 passes
// unchanged, a mask code replaces a valid value, and where the image already
// holds a code the higher code stays.
class ApplyErrorMask : public Stage<Image<uint16_t>> {
public:
    ApplyErrorMask();

    // kyr::status::OK; SIZE_MISMATCH (logged, nothing published) when the
    // mask differs in size from the image; INVALID_ARGUMENT for a missing
    // image; NO_MEMORY when the output image cannot be allocated.
    int action() override;

    Input<Image<uint16_t>> image;
    Input<Image<uint16_t>> mask;
};
