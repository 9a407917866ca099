// Per-pixel rules of the grayscale compensation: dark offset subtraction
// (DSNU) and gain correction by a fixed-point reciprocal (PRNU).
//
// The inline functions are the per-pixel rules. The array functions apply
// them to whole images with explicit SIMD (one vector of 16-bit lanes, at
// least eight pixels, per step; the best instruction set of the running CPU
// chosen at run time) and give bit-identical results. `out` may be one of
// the inputs (in place); where it overlaps an input at another address they
// fall back to the per-pixel loop in index order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kyr::kernels {

// Fraction bits of a reciprocal gain: 4096 is gain 1.0.
inline constexpr unsigned PRNU_FRACTION_BITS = 12;
inline constexpr uint16_t PRNU_UNITY = 1u << PRNU_FRACTION_BITS;

// in - offset, saturating at zero.
inline uint16_t dsnuPixel(uint16_t in, uint16_t offset) {
    return offset <= in ? static_cast<uint16_t>(in - offset) : 0;
}

// The reciprocal of a gain g in units of 1/scale, with 12 fraction bits:
// (scale << 12) / g truncated; 4096 (uncorrected) for a gain below
// scale >> 2, and 0 for g = 0 (which only a scale below 4 lets through).
// The result fits 16 bits: for scale >= 4, g >= scale >> 2 bounds the
// quotient by 7 * 4096 (scale 7, g 1); below 4 it is at most 3 * 4096.
inline uint16_t prnuReciprocalPixel(uint16_t gain, uint16_t scale) {
    if (gain < (scale >> 2)) {
        return PRNU_UNITY;
    }
    if (gain == 0) {
        return 0;
    }
    return static_cast<uint16_t>((uint32_t{scale} << PRNU_FRACTION_BITS) / gain);
}

// (in * reciprocal) >> 12 in 32 bits, kept as its low 16 bits.
inline uint16_t prnuPixel(uint16_t in, uint16_t reciprocal) {
    return static_cast<uint16_t>((uint32_t{in} * reciprocal) >> PRNU_FRACTION_BITS);
}

// out[i] = dsnuPixel(in[i], offset[i]) for i < count.
void dsnuCompensate(const uint16_t* in, const uint16_t* offset, uint16_t* out, size_t count);

// out[i] = prnuPixel(in[i], reciprocal[i]) for i < count.
void prnuCompensate(const uint16_t* in, const uint16_t* reciprocal, uint16_t* out, size_t count);

}  // namespace kyr::kernels
