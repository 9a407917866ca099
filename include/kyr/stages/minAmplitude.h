// Writes the low-amplitude code straight into a distance image.
#pragma once

#include <cstdint>

#include "kyr/image.h"
#include "kyr/stage.h"

// out = LOW_AMPLITUDE (64001) where the amplitude is below minAmp
// (strictly), else the distance unchanged (pixel codes included).
class MinAmplitude : public Stage<Image<uint16_t>> {
public:
    // minAmp in the units of the amplitude image.
    explicit MinAmplitude(uint16_t minAmp);

    // Takes effect from the next run.
    void setMinAmplitude(uint16_t value) { minAmp = value; }
    uint16_t getMinAmplitude() const { return minAmp; }

    // kyr::status::OK; SIZE_MISMATCH (logged, nothing published) when the
    // distance image differs in size from the amplitude image;
    // INVALID_ARGUMENT for a missing image; NO_MEMORY when the output image
    // cannot be allocated.
    int action() override;

    Input<Image<uint16_t>> amplitude;
    Input<Image<uint16_t>> distance;

private:
    uint16_t minAmp;
};
