// Interpolation of raw phases between the calibrations of two modulation
// frequencies, in single precision. Raw phases convert to radians as
// raw * 2pi / 65535 and back by wrapping into [0, 2pi) and rounding to the
// nearest raw value, halves away from zero.
#pragma once

#include <cmath>
#include <cstdint>

#include "kyr/constants.h"
#include "kyr/phaseType.h"

namespace ozr::calibration {

// Phase offsets rise from the lower entry's value to the upper one's,
// through 2pi when the upper value is smaller; w is the upper entry's weight.
inline uint16_t interpolateOffsetPhase(uint16_t lowerRaw, uint16_t upperRaw, float w) {
    const float lo = PhaseType<uint16_t>::to_float(lowerRaw);
    float hi = PhaseType<uint16_t>::to_float(upperRaw);
    if (lo > hi) {
        hi = hi + kyr::TWO_PI_F;
    }
    return PhaseType<uint16_t>::from_float(std::fma(hi - lo, w, lo));
}

// Phase errors are signed corrections: both values are taken into (-pi, pi]
// first, so that the line between a small negative and a small positive
// error passes through zero.
inline uint16_t interpolatePhaseError(uint16_t lowerRaw, uint16_t upperRaw, float w) {
    float lo = PhaseType<uint16_t>::to_float(lowerRaw);
    if (lo > kyr::PI_F) {
        lo = lo - kyr::TWO_PI_F;
    }
    float hi = PhaseType<uint16_t>::to_float(upperRaw);
    if (hi > kyr::PI_F) {
        hi = hi - kyr::TWO_PI_F;
    }
    return PhaseType<uint16_t>::from_float(std::fma(hi - lo, w, lo));
}

}  // namespace ozr::calibration
