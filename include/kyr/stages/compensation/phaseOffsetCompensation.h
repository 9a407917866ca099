// Subtracts the per-pixel phase offset (fixed-pattern phase) of the
// calibration.
#pragma once

#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/phaseType.h"
#include "kyr/stage.h"

// out[i] = in[i] - offset[i] modulo 65536. Without an offset image covering
// the input (none for the frequency, or one with fewer pixels than the
// frame) a zero offset image of the frame's size takes its place, with a
// warning once, until the next lookup. When disabled the input image itself
// is published.
class PhaseOffsetCompensation : public Stage<Image<PhaseType<uint16_t>>> {
public:
    explicit PhaseOffsetCompensation(uint32_t modulationFrequencyHz);

    // Fetches the offset image for `hz` from the calibration registry; warns
    // when there is none and the compensation is enabled.
    void setModulationFrequency(uint32_t hz);

    void setCompensation(bool enable) { enabled = enable; }
    bool isCompensationActive() const { return enabled; }

    void setPhaseOffsetImage(std::shared_ptr<Image<PhaseType<uint16_t>>> image);

    // 0; kyr::status::INVALID_ARGUMENT without an input image,
    // kyr::status::NO_MEMORY when an image cannot be allocated.
    int action() override;

    Input<Image<PhaseType<uint16_t>>> input;

private:
    std::shared_ptr<Image<PhaseType<uint16_t>>> phaseOffsetImage;
    bool enabled = true;
    // phaseOffsetImage is the stage's own zero image, not calibration (until
    // the next lookup or setPhaseOffsetImage).
    bool zeroOffset = false;
};
