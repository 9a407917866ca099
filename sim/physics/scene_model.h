// Fixed-pattern and systematic errors of one virtual sensor.
//
// Everything here is a pure function of (model, processed image size, seed),
// so the renderer and the calibration writer derive the same patterns and
// the written calibration describes exactly what the renderer adds.
//
// Phase model of pixel i at modulation frequency f and die temperature T:
//   q = f * (2 d / c + delay[i] + 2 drift(T) / c)        (in turns)
//   p = q + cyclicError_f(q)                              (measured phase)
// with drift(T) = kTempDriftMmPerK * (T - kCalibrationTempC) millimetres.
// delay[i] is a smooth per-pixel signal delay (a constant path delay plus a
// pattern), so the phase offset f * delay[i] rises linearly with f. The
// cyclic error is a sum of harmonics of q whose amplitudes are linear in f.
// The seed makes the unit: its own delay (constant and pattern), cyclic
// error (phases and amplitudes), dark level and gain patterns. The
// temperature drift is the same for every unit (kTempDriftMmPerK).
#pragma once

#include <cstdint>
#include <vector>

#include "scene.h"

namespace ozrsim {

class SensorErrorModel {
public:
    // width x height is the processed (for the OZR310 unfolded) image size.
    SensorErrorModel(Model model, uint32_t width, uint32_t height, uint64_t seed);

    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }

    // Dark level (DCS and grayscale) in 12-bit counts, about 2048.
    const std::vector<float>& darkLevel() const { return darkLevel_; }
    // Relative pixel gain, about 1.
    const std::vector<float>& pixelGain() const { return pixelGain_; }
    // Per-pixel signal delay in seconds.
    const std::vector<double>& delaySeconds() const { return delaySeconds_; }

    // Cyclic phase error in turns at ideal phase q (turns) and frequency hz.
    double cyclicErrorTurns(double qTurns, uint32_t hz) const;

    // Raw phase offset (1/65536 turn) of pixel i at frequency hz.
    uint16_t phaseOffsetRaw(size_t i, uint32_t hz) const;

    // Phase error table of n entries: entry k holds the error, as a raw phase
    // (negative errors wrapped to the upper half), at the centre of the
    // measured phases it covers, (k + 0.5) * 65536 / n.
    std::vector<uint16_t> phaseErrorLut(uint32_t hz, uint32_t n) const;

    // Dark offset and gain files for the grayscale calibration.
    std::vector<uint16_t> dsnuImage() const;
    std::vector<uint16_t> prnuImage() const;

private:
    static constexpr int HARMONICS = 3;
    uint32_t width_;
    uint32_t height_;
    std::vector<float> darkLevel_;
    std::vector<float> pixelGain_;
    std::vector<double> delaySeconds_;
    int harmonic_[HARMONICS];
    double harmonicPhase_[HARMONICS];
    double ampBaseTurns_[HARMONICS];   // amplitude at 0 Hz
    double ampSlopeTurns_[HARMONICS];  // amplitude increase per MHz
};

// Deterministic hashing helpers shared by the simulation sources.
uint64_t mix64(uint64_t z);
// Uniform double in [0, 1) from a hash.
double unitFromHash(uint64_t h);

}  // namespace ozrsim
