// Per-pixel arithmetic of the first processing stages: DCS differences,
// amplitude and the fixed-point CORDIC arctangent.
//
// The inline functions are the per-pixel rules. The array functions apply
// them to whole images with explicit SIMD (several pixels per vector step,
// the best instruction set of the running CPU chosen at run time) and give
// bit-identical results; where an output array partly overlaps an input
// they fall back to the per-pixel loop in index order.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace kyr::kernels {

// CORDIC angle table: the integer nearest to atan(2^-i) * 65536 / (2 pi),
// in units of 1/65536 turn.
inline constexpr int CORDIC_ITERATIONS = 15;
inline constexpr int32_t CORDIC_ANGLES[CORDIC_ITERATIONS] = {
    8192, 4836, 2555, 1297, 651, 326, 163, 81, 41, 20, 10, 5, 3, 1, 1};
// Inputs are scaled by 2^14 before the rotations; with 16-bit inputs every
// intermediate value stays below 2^31.
inline constexpr int CORDIC_PRESHIFT = 14;
inline constexpr int32_t HALF_TURN = 32768;

// minuend - subtrahend, kept as the low 16 bits (two's complement).
inline int16_t subtractPixel(uint16_t minuend, uint16_t subtrahend) {
    return static_cast<int16_t>(static_cast<uint16_t>(minuend - subtrahend));
}

// trunc(0.5 * sqrt(d0^2 + d1^2)) in single precision: the first square is
// rounded to float, the second is added to it with a single rounding (as one
// fused multiply-add does), the square root is rounded, halved and truncated.
// Formed here in integers, which is exact: both squares fit 32 bits, the
// float conversion of the integer d0^2 rounds as the float product would,
// and the sum (at most 2^31) is rounded once by its conversion to float.
// The largest result (d0 = d1 = -32768) is 23170.
inline uint16_t amplitudePixel(int16_t d0, int16_t d1) {
    const int32_t square0 = int32_t{d0} * d0;
    const auto rounded0 = static_cast<uint32_t>(static_cast<float>(square0));
    const uint32_t sum = rounded0 + static_cast<uint32_t>(int32_t{d1} * d1);
    const float half = std::sqrt(static_cast<float>(sum)) * 0.5f;
    return static_cast<uint16_t>(static_cast<int32_t>(half));
}

// atan2(y, x) as a raw phase in 1/65536 turn; (0, 0) gives 0.
inline uint16_t cordicPixel(int16_t y, int16_t x) {
    if (x == 0 && y == 0) {
        return 0;
    }
    int32_t X = int32_t{x} * (int32_t{1} << CORDIC_PRESHIFT);
    int32_t Y = int32_t{y} * (int32_t{1} << CORDIC_PRESHIFT);
    int32_t angle = 0;
    if (x < 0) {
        X = -X;
        Y = -Y;
        angle = HALF_TURN;
    }
    for (int i = 0; i < CORDIC_ITERATIONS; ++i) {
        const int32_t xs = X >> i;
        const int32_t ys = Y >> i;
        if (Y >= 0) {
            X += ys;
            Y -= xs;
            angle += CORDIC_ANGLES[i];
        } else {
            X -= ys;
            Y += xs;
            angle -= CORDIC_ANGLES[i];
        }
    }
    return static_cast<uint16_t>(angle);  // modulo 65536
}

// The 16-bit CORDIC input for a float: the low 16 bits of the value
// truncated toward zero. This holds for every finite float (for large ones
// as if computed with unbounded integers); NaN and infinities give 0.
// Every step below is exact: scaling by a power of two, taking the
// fractional part, scaling back.
inline int16_t cordicInputFromFloat(float f) {
    const float turns = f * (1.0f / 65536.0f);
    const float rest = (turns - std::trunc(turns)) * 65536.0f;  // |rest| < 65536
    if (std::isnan(rest)) {
        return 0;
    }
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<int32_t>(rest)));
}

// Whole-image forms: out[i] = rule(a[i], b[i]) for i < count. `out` may be
// one of the inputs (in place).
void subtract(const uint16_t* minuend, const uint16_t* subtrahend, int16_t* out, size_t count);
void amplitude(const int16_t* diff0, const int16_t* diff1, uint16_t* out, size_t count);
void atan2Cordic(const int16_t* nominator, const int16_t* denominator, uint16_t* out, size_t count);
void atan2Cordic(const float* nominator, const float* denominator, uint16_t* out, size_t count);

}  // namespace kyr::kernels
