// Per-pixel arithmetic of the phase compensation and distance stages.
//
// The inline functions are the per-pixel rules. The array functions apply
// them to whole images several pixels per vector step (explicit SIMD with the
// best instruction set of the running CPU, chosen at run time) and give
// bit-identical results. `out` may be the input itself; where it partly
// overlaps an input the functions fall back to the per-pixel loop in index
// order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>

#include "kyr/constants.h"
#include "kyr/phaseType.h"

namespace kyr::kernels {

// Raw phases subtract modulo 65536.
inline uint16_t subtractPhasePixel(uint16_t phase, uint16_t offset) {
    return static_cast<uint16_t>(phase - offset);
}

// Index of the table entry that covers `phase` in a table of `size` >= 1
// entries: (phase * size) >> 16, at most size - 1.
inline size_t phaseErrorIndex(uint16_t phase, size_t size) {
    const auto k = static_cast<size_t>((uint64_t{phase} * size) >> 16);
    return k >= size ? size - 1 : k;
}

// The phase with the table's error for it removed.
inline uint16_t phaseErrorPixel(uint16_t phase, const uint16_t* lut, size_t size) {
    return static_cast<uint16_t>(phase - lut[phaseErrorIndex(phase, size)]);
}

// Millimetres per radian of two-way phase at `hz`: c / (4 pi f). Zero for
// 0 Hz, which has no distance scale.
inline float distanceScale(uint32_t hz) {
    if (hz == 0) {
        return 0.0f;
    }
    return kyr::SPEED_OF_LIGHT_MM_PER_S_F / (static_cast<float>(hz) * kyr::FOUR_PI_F);
}

// The distance of a raw phase before truncation: its angle in radians,
// (p * 2pi) / 65535 as PhaseType converts it, times `scale`.
inline float phaseToDistanceValue(uint16_t phase, float scale) {
    return PhaseType<uint16_t>::to_float(phase) * scale;
}

// The distance in millimetres truncated toward zero, as its low 16 bits
// (as if computed with unbounded integers). Values that no frequency gives
// (negative, beyond the 64-bit range, not a number) yield 0.
inline uint16_t phaseToDistancePixel(uint16_t phase, float scale) {
    const float d = phaseToDistanceValue(phase, scale);
    if (d >= 0.0f && d < 2147483648.0f) {
        return static_cast<uint16_t>(static_cast<int32_t>(d));
    }
    if (d >= 0.0f && d < 18446744073709551616.0f) {
        return static_cast<uint16_t>(static_cast<uint64_t>(d));
    }
    return 0;
}

// The raw phase shift for a sensor temperature T: the two-way phase
// 4 pi f d / c of the drift d = (T - Tc) * s millimetres, evaluated as
// ((((T - Tc) * s) * 4) * pi) * f / c in single precision, wrapped into
// [0, 2pi) and rounded to a raw phase. A temperature that gives no finite
// phase gives 0.
inline uint16_t temperatureShift(float temperature_C, float calibrationTemp_C, float slope_mm_K,
                                 uint32_t frequency_Hz) {
    const float phi = ((((temperature_C - calibrationTemp_C) * slope_mm_K) * 4.0f) * kyr::PI_F) *
                      static_cast<float>(frequency_Hz) / kyr::SPEED_OF_LIGHT_MM_PER_S_F;
    return PhaseType<uint16_t>::from_float(phi);
}

// out[i] = phase[i] - offset[i] modulo 65536.
void subtractPhase(const uint16_t* phase, const uint16_t* offset, uint16_t* out, size_t count);

// out[i] = phase[i] - shift modulo 65536.
void subtractPhaseShift(const uint16_t* phase, uint16_t shift, uint16_t* out, size_t count);

// Tables of up to this many entries take the vector lookup.
inline constexpr size_t PHASE_ERROR_VECTOR_MAX_SIZE = 65536;

// A copy of a table widened to 32 bits per entry, as the vector lookup reads
// it; null for larger tables or when the memory cannot be had.
std::unique_ptr<uint32_t[]> widenPhaseErrorTable(const uint16_t* lut, size_t size);

// out[i] = phaseErrorPixel(phase[i], lut, size) for a table of size >= 1.
// `wide` is the table from widenPhaseErrorTable(), or null for the
// per-pixel loop.
void compensatePhaseError(const uint16_t* phase, const uint16_t* lut, const uint32_t* wide,
                          size_t size, uint16_t* out, size_t count);

// out[i] = phaseToDistancePixel(phase[i], scale).
void phaseToDistance(const uint16_t* phase, float scale, uint16_t* out, size_t count);

}  // namespace kyr::kernels
