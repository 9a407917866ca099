// Per-pixel rules of the two filters that smooth distances over time: the
// exponential moving average with a jump threshold and the fixed-point
// scalar Kalman filter.
//
// The inline functions are the per-pixel rules. The array functions apply
// them to whole images with explicit SIMD (the best instruction set of the
// running CPU chosen at run time) and give bit-identical results; where an
// output partly overlaps another array they fall back to the per-pixel loop
// in index order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace kyr::kernels {

// ---------------------------------------------------------------- Temporal

// The blend weights have 12 fraction bits: a + b = 4096.
inline constexpr int TEMPORAL_WEIGHT_BITS = 12;
inline constexpr uint32_t TEMPORAL_WEIGHT_ONE = 1u << TEMPORAL_WEIGHT_BITS;

// trunc(alpha * 4096) for alpha clamped to [0, 1], so 0 ... 4096. Scaling by
// a power of two is exact, so the truncation sees alpha itself. NaN gives 0.
inline uint32_t temporalWeight(float alpha) {
    if (!(alpha > 0.0f)) {
        return 0;
    }
    if (alpha >= 1.0f) {
        return TEMPORAL_WEIGHT_ONE;
    }
    return static_cast<uint32_t>(alpha * static_cast<float>(TEMPORAL_WEIGHT_ONE));
}

// The new average of one pixel: `in` blended into `average` with the weight
// a = `weight` (b = 4096 - a) when they differ by less than `threshold`,
// otherwise `in` itself. With a <= 4096 the sum stays below 2^28 and the
// result, a weighted mean of two 16-bit values, fits 16 bits.
inline uint16_t temporalPixel(uint16_t in, uint16_t average, uint32_t weight, uint16_t threshold) {
    const int32_t diff = int32_t{in} - int32_t{average};
    const int32_t magnitude = diff < 0 ? -diff : diff;
    if (magnitude >= int32_t{threshold}) {
        return in;
    }
    const uint32_t blend = weight * in + (TEMPORAL_WEIGHT_ONE - weight) * average;
    return static_cast<uint16_t>(blend >> TEMPORAL_WEIGHT_BITS);
}

// out[i] = temporalPixel(in[i], average[i], weight, threshold) for i < count;
// `weight` above 4096 is taken as 4096. `out` may be `in` or `average`.
void temporalBlend(const uint16_t* in, const uint16_t* average, uint16_t* out, size_t count,
                   uint32_t weight, uint16_t threshold);

// ------------------------------------------------------------------ Kalman

inline constexpr uint32_t KALMAN_SIGMA_SCALE = 22500;  // sigma = 22500 / (amp + 3)
inline constexpr int KALMAN_GAIN_BITS = 8;             // the gain k in 1/256
inline constexpr uint32_t KALMAN_GAIN_ONE = 1u << KALMAN_GAIN_BITS;
inline constexpr uint16_t KALMAN_UNCERTAIN = 64001;  // LOW_AMPLITUDE

// The variance limit T^2 as compared by the rule. P' stays below 2^30 + 2^8
// (see kalmanPixel), so limits beyond the signed 32-bit range compare like
// that range's largest value; the vector path compares signed lanes.
inline int32_t kalmanLimit(uint16_t uncertaintyThreshold) {
    const uint32_t t2 = uint32_t{uncertaintyThreshold} * uncertaintyThreshold;
    return t2 > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())
               ? std::numeric_limits<int32_t>::max()
               : static_cast<int32_t>(t2);
}

struct KalmanPixel {
    uint16_t out;          // x', or 64001 when P' >= T^2
    uint16_t estimate;     // x' modulo 65536
    uint16_t uncertainty;  // min(P', 65535)
};

// One update of the per-pixel filter: measurement z with amplitude amp,
// estimate x with variance P, process noise q, variance limit T^2 (as given
// by kalmanLimit). Value ranges, which the vector path relies on:
//   sigma = 22500 / (amp + 3) <= 7500, R = sigma^2 <= 56250000 < 2^26
//   e in [-32768, 32767], E = e^2 <= 2^30
//   Pp = q + P <= 131070 < 2^17
//   widened: num = E - R < 2^30, den = E <= 2^30 (den > R >= 0, so den >= 1)
//   otherwise: num = Pp < 2^17, den = Pp + R < 2^27; den = 0 only when
//   num = 0 too
//   k <= 256, so 256 * num and (256 - k) * num reach 2^38 (64-bit here),
//   |k * e| <= 2^23, P' <= num < 2^30.
inline KalmanPixel kalmanPixel(uint16_t z, uint16_t amp, uint16_t x, uint16_t P, uint16_t q,
                               int32_t limit) {
    const uint32_t sigma = KALMAN_SIGMA_SCALE / (uint32_t{amp} + 3u);
    const uint32_t R = sigma * sigma;
    const int32_t e = static_cast<int16_t>(static_cast<uint16_t>(z - x));
    const auto E = static_cast<uint32_t>(e * e);
    const uint32_t Pp = uint32_t{q} + P;
    uint32_t num = Pp;
    uint32_t den = Pp + R;
    if (E > R && E - R > Pp) {
        num = E - R;
        den = E;
    }
    const auto k = den == 0 ? 0u : static_cast<uint32_t>((uint64_t{num} << KALMAN_GAIN_BITS) / den);
    const int32_t xNew = int32_t{x} + ((static_cast<int32_t>(k) * e) >> KALMAN_GAIN_BITS);
    const auto pNew =
        static_cast<uint32_t>((uint64_t{KALMAN_GAIN_ONE - k} * num) >> KALMAN_GAIN_BITS);
    const auto estimate = static_cast<uint16_t>(xNew);
    return {static_cast<int64_t>(pNew) >= limit ? KALMAN_UNCERTAIN : estimate, estimate,
            static_cast<uint16_t>(pNew < 65535u ? pNew : 65535u)};
}

// kalmanPixel over pixels 0 ... count - 1 in index order, updating the state
// in place.
inline void kalmanPixels(const uint16_t* distance, const uint16_t* amplitude, uint16_t* estimate,
                         uint16_t* uncertainty, uint16_t* out, size_t count, uint16_t processNoise,
                         int32_t limit) {
    for (size_t i = 0; i < count; ++i) {
        const KalmanPixel r = kalmanPixel(distance[i], amplitude[i], estimate[i], uncertainty[i],
                                          processNoise, limit);
        estimate[i] = r.estimate;
        uncertainty[i] = r.uncertainty;
        out[i] = r.out;
    }
}

// Applies kalmanPixel to every pixel i < count: reads distance[i],
// amplitude[i], estimate[i], uncertainty[i]; writes out[i] and the new
// estimate[i] and uncertainty[i] in place.
void kalmanUpdate(const uint16_t* distance, const uint16_t* amplitude, uint16_t* estimate,
                  uint16_t* uncertainty, uint16_t* out, size_t count, uint16_t processNoise,
                  int32_t limit);

}  // namespace kyr::kernels
