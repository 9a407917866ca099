// Converts raw phases to distances in millimetres for the modulation
// frequency.
#pragma once

#include <cstdint>

#include "kyr/image.h"
#include "kyr/phaseType.h"
#include "kyr/stage.h"

// out[i] = trunc(((p * 2pi) / 65535) * scaleFactor) in single precision,
// stored as its low 16 bits, with scaleFactor = c / (4 pi f) millimetres per
// radian. Raw 65535 gives c / (2 f): 7494 mm at 20 MHz.
class PhaseToDistance : public Stage<Image<uint16_t>> {
public:
    explicit PhaseToDistance(uint32_t modulationFrequencyHz);

    // Sets the scale for `hz`; 0 Hz has none: the scale is 0 (all distances
    // 0), with a warning.
    void setModulationFrequency(uint32_t hz);

    float getScaleFactor() const { return scaleFactor; }

    // 0; kyr::status::INVALID_ARGUMENT without an input image,
    // kyr::status::NO_MEMORY when the output cannot be allocated.
    int action() override;

    Input<Image<PhaseType<uint16_t>>> phaseInput;

private:
    float scaleFactor = 0.0f;
};
