// Per-pixel rules of the interference stages: the test of a pixel's four
// DCS samples against twice its dark offset, and the latch that holds the
// pixels a mask flags.
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

#include "kyr/image.h"

namespace kyr::kernels {

// The dark offset of every pixel when there is no calibration: the sums of
// opposite samples then centre on 4096.
inline constexpr uint16_t DEFAULT_DARK_OFFSET = 2048;

inline constexpr uint16_t INTERFERENCE_CODE = ImageBase::INTERFERENCE;

// True when DCS0 + DCS2 and DCS1 + DCS3 both lie strictly inside the band
// of `threshold` around twice the dark offset `dsnu`. Sums, centre and band
// limits wrap modulo 65536 and compare as unsigned 16-bit values, wrapped or
// not: the limits 64632 and 9096 of threshold 5000 around 4096 hold no
// value, and neither does the band of threshold 0.
inline bool undisturbedPixel(uint16_t dcs0, uint16_t dcs1, uint16_t dcs2, uint16_t dcs3,
                             uint16_t dsnu, uint16_t threshold) {
    const auto s02 = static_cast<uint16_t>(dcs0 + dcs2);
    const auto s13 = static_cast<uint16_t>(dcs1 + dcs3);
    const auto centre = static_cast<uint16_t>(2 * dsnu);
    const auto lo = static_cast<uint16_t>(centre - threshold);
    const auto hi = static_cast<uint16_t>(centre + threshold);
    return lo < s02 && s02 < hi && lo < s13 && s13 < hi;
}

// The interference mask value of a pixel: 0 when undisturbed, else the
// INTERFERENCE code.
inline uint16_t interferencePixel(uint16_t dcs0, uint16_t dcs1, uint16_t dcs2, uint16_t dcs3,
                                  uint16_t dsnu, uint16_t threshold) {
    return undisturbedPixel(dcs0, dcs1, dcs2, dcs3, dsnu, threshold) ? 0 : INTERFERENCE_CODE;
}

// The latch: the held value where the mask is non-zero, else the input.
template <typename T>
inline T latchPixel(T input, uint16_t mask, T held) {
    return mask != 0 ? held : input;
}

// out[i] = interferencePixel(dcs0[i], dcs1[i], dcs2[i], dcs3[i], dsnu[i],
// threshold) for i < count.
void interferenceMask(const uint16_t* dcs0, const uint16_t* dcs1, const uint16_t* dcs2,
                      const uint16_t* dcs3, const uint16_t* dsnu, uint16_t threshold, uint16_t* out,
                      size_t count);

// The same with one dark offset `dsnu` for every pixel.
void interferenceMaskFlat(const uint16_t* dcs0, const uint16_t* dcs1, const uint16_t* dcs2,
                          const uint16_t* dcs3, uint16_t dsnu, uint16_t threshold, uint16_t* out,
                          size_t count);

// out[i] = latchPixel(input[i], mask[i], held[i]) for i < count.
void latch(const uint16_t* input, const uint16_t* mask, const uint16_t* held, uint16_t* out,
           size_t count);
void latch(const int16_t* input, const uint16_t* mask, const int16_t* held, int16_t* out,
           size_t count);

}  // namespace kyr::kernels
