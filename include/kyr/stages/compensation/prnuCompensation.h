// Photo response non-uniformity: multiplies every pixel by the reciprocal
// of its relative gain from the grayscale calibration.
#pragma once

#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/stage.h"

// out[i] = (in[i] * reciprocal[i]) >> PRNU_FRAC_BITS, as its low 16 bits.
// The reciprocals are formed once per gain image (at construction from the
// calibration registry, or by setPrnuGainImage). Without reciprocals for
// the frame's pixel count unity gain takes their place, with a warning
// once. When disabled the input image itself is published.
class PRNUCompensation : public Stage<Image<uint16_t>> {
public:
    // Fraction bits of a reciprocal gain: 4096 is gain 1.0.
    static constexpr unsigned PRNU_FRAC_BITS = 12;

    PRNUCompensation();

    // Replaces the reciprocals by those of `prnuGainImage`, whose values are
    // gains in units of 1/prnuScaleFactor. A gain below a quarter
    // (prnuScaleFactor >> 2) leaves its pixel uncorrected. An empty image
    // removes the calibration.
    void setPrnuGainImage(std::shared_ptr<Image<uint16_t>> prnuGainImage, uint16_t prnuScaleFactor);

    void setCompensation(bool active) { enabled = active; }
    bool isCompensationActive() const { return enabled; }

    // 0; INVALID_ARGUMENT without an input image, NO_MEMORY when an image
    // cannot be allocated (nothing published then).
    int action() override;

    Input<Image<uint16_t>> input;

private:
    std::shared_ptr<Image<uint16_t>> prnuReciprocal;
    bool enabled = true;
    // prnuReciprocal is the stage's own unity image, not calibration.
    bool unityGain = false;
};
