// Mask of the pixels whose amplitude is below a threshold.
#pragma once

#include <cstdint>

#include "kyr/image.h"
#include "kyr/stage.h"

// An error mask from an amplitude image: LOW_AMPLITUDE (64001) where the
// amplitude is below minAmp (strictly), 0 elsewhere. An amplitude that is
// already a pixel code counts as large.
class MinAmplitudeMask : public Stage<Image<uint16_t>> {
public:
    // minAmp in the units of the amplitude image.
    explicit MinAmplitudeMask(uint16_t minAmp);

    // Takes effect from the next run.
    void setMinAmplitude(uint16_t value) { minAmp = value; }
    uint16_t getMinAmplitude() const { return minAmp; }

    // kyr::status::OK; INVALID_ARGUMENT (logged) for a missing image;
    // NO_MEMORY when the output image cannot be allocated.
    int action() override;

    Input<Image<uint16_t>> amplitude;

private:
    uint16_t minAmp;
};
