// Vector forms of the temporal and Kalman kernels. This file is compiled once
// per instruction set (foreach_target); the first call picks the best one the
// CPU supports. Every vector step covers two vectors of 32-bit lanes, so at
// least eight pixels, and the last pixels of an image go through the same
// step on a padded copy.
//
// The Kalman filter divides twice per pixel. Both quotients are formed in
// floating point and truncated, which gives the integer quotient exactly for
// these operands:
//
//   Let a >= 0 and b >= 1 be integers, both exactly representable in a
//   binary format with p significand bits, and a < 2^p. Let n = floor(a/b)
//   and q = fl(a/b), the correctly rounded quotient. Then floor(q) = n.
//   - If a/b = n, then n <= a < 2^p is representable, so q = n.
//   - Otherwise n < a/b < n + 1. Rounding is monotonic and n is
//     representable, so q >= n. Rounding to nearest errs by at most
//     2^-p * (a/b), which is less than 1/b because a < 2^p; and the gap
//     n + 1 - a/b = ((n + 1) * b - a) / b is at least 1/b. So q < n + 1.
//
//   sigma = 22500 / (amp + 3): a = 22500 < 2^24, b <= 65538, in single
//   precision (p = 24).
//   k = 256 * num / den: a = 256 * num <= 2^38 < 2^53, b = den <= 2^30, in
//   double precision (p = 53). Both operands are converted from 32-bit
//   integers exactly and 256 * num is an exact scaling by a power of two.
//   den = 0 only when num = 0 (see kalmanPixel); the lanes divide by
//   max(den, 1), which gives the rule's k = 0 there and keeps NaN out of
//   the lanes.
//
// The truncating conversions of the non-negative quotients are the floors.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "optimized/temporalKernels.cpp"
#include "optimized/temporalKernels.h"

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <tuple>

#include "optimized/blockLoop-inl.h"
#include "optimized/overlap.h"

HWY_BEFORE_NAMESPACE();
namespace kyr::kernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Steps over two vectors of 32-bit lanes; Lanes::run computes one vector.
template <class Lanes>
struct TwoVectorStep {
    Lanes lanes;

    template <class D32>
    static constexpr size_t maxBlock(D32 d) {
        return 2 * hn::MaxLanes(d);
    }
    template <class D32>
    static size_t block(D32 d) {
        return 2 * hn::Lanes(d);
    }
    template <class D32, typename... Ptr>
    HWY_INLINE void run(D32 d, Ptr... p) const {
        const size_t n = hn::Lanes(d);
        lanes.run(d, p...);
        lanes.run(d, (p + n)...);
    }
};

// ---------------------------------------------------------------- Temporal

// temporalPixel per lane. The blend is formed with one product:
// (a * in + b * avg) >> 12 = (4096 * avg + a * (in - avg)) >> 12
//                          = avg + floor(a * (in - avg) / 4096),
// since 4096 * avg is a multiple of 4096; the shift of the signed product
// (|a * (in - avg)| < 2^28) is arithmetic, which is the floor.
struct TemporalLanes {
    int32_t weight;
    int32_t threshold;

    template <class D32>
    HWY_INLINE void run(D32 d, uint16_t* out, const uint16_t* in, const uint16_t* average) const {
        const hn::Rebind<uint16_t, D32> du16;
        const auto vin = hn::PromoteTo(d, hn::LoadU(du16, in));
        const auto avg = hn::PromoteTo(d, hn::LoadU(du16, average));
        const auto diff = hn::Sub(vin, avg);
        const auto blend =
            hn::Add(avg, hn::ShiftRight<TEMPORAL_WEIGHT_BITS>(hn::Mul(diff, hn::Set(d, weight))));
        const auto near = hn::Lt(hn::Abs(diff), hn::Set(d, threshold));
        hn::StoreU(hn::DemoteTo(du16, hn::IfThenElse(near, blend, vin)), du16, out);
    }
};

void TemporalImpl(const uint16_t* in, const uint16_t* average, uint16_t* out, size_t count,
                  uint32_t weight, uint16_t threshold) {
    const TwoVectorStep<TemporalLanes> step{
        {static_cast<int32_t>(weight), static_cast<int32_t>(threshold)}};
    ForEachBlockWith(step, hn::ScalableTag<int32_t>(), count, std::tuple(out), in, average);
}

// ------------------------------------------------------------------ Kalman

#if HWY_TARGET != HWY_SCALAR && HWY_HAVE_FLOAT64

// floor(256 * num / den) per lane, for 0 <= num < 2^31 and 1 <= den < 2^31
// (exact: see the top of this file). Each half of the lanes is divided in
// double precision.
template <class D32>
HWY_INLINE hn::Vec<D32> Gain(D32 d, hn::Vec<D32> num, hn::Vec<D32> den) {
    const hn::Half<D32> dh;
    const hn::Rebind<double, decltype(dh)> dd;
    const auto one = hn::Set(dd, static_cast<double>(KALMAN_GAIN_ONE));
    const auto lo = hn::Div(hn::Mul(hn::PromoteTo(dd, hn::LowerHalf(dh, num)), one),
                            hn::PromoteTo(dd, hn::LowerHalf(dh, den)));
    const auto hi = hn::Div(hn::Mul(hn::PromoteTo(dd, hn::UpperHalf(dh, num)), one),
                            hn::PromoteTo(dd, hn::UpperHalf(dh, den)));
    return hn::Combine(d, hn::DemoteTo(dh, hi), hn::DemoteTo(dh, lo));
}

// kalmanPixel per 32-bit lane. Every intermediate value stays below 2^31
// (ranges in kalmanPixel), so signed lanes compare as the rule's unsigned
// values. P' = floor((256 - k) * num / 256) is formed without 64-bit lanes
// from num = 256 * h + l: (256 - k) * h + floor((256 - k) * l / 256), exact
// because (256 - k) * 256 * h is a multiple of 256; the first product is at
// most 2^30, the second below 2^16.
struct KalmanLanes {
    int32_t processNoise;
    int32_t limit;

    template <class D32>
    HWY_INLINE void run(D32 d, uint16_t* out, uint16_t* estimate, uint16_t* uncertainty,
                        const uint16_t* z, const uint16_t* amp, const uint16_t* x,
                        const uint16_t* P) const {
        const hn::Rebind<uint16_t, D32> du16;
        const hn::Rebind<int16_t, D32> di16;
        const hn::Rebind<float, D32> df;
        const auto vz = hn::LoadU(du16, z);
        const auto vx = hn::LoadU(du16, x);
        const auto ampPlus3 = hn::Add(hn::PromoteTo(d, hn::LoadU(du16, amp)), hn::Set(d, 3));
        const auto sigma =
            hn::ConvertTo(d, hn::Div(hn::Set(df, static_cast<float>(KALMAN_SIGMA_SCALE)),
                                     hn::ConvertTo(df, ampPlus3)));
        const auto R = hn::Mul(sigma, sigma);
        const auto e = hn::PromoteTo(d, hn::BitCast(di16, hn::Sub(vz, vx)));
        const auto E = hn::Mul(e, e);
        const auto Pp = hn::Add(hn::Set(d, processNoise), hn::PromoteTo(d, hn::LoadU(du16, P)));
        const auto excess = hn::Sub(E, R);
        const auto widened = hn::And(hn::Gt(E, R), hn::Gt(excess, Pp));
        const auto num = hn::IfThenElse(widened, excess, Pp);
        const auto den = hn::Max(hn::IfThenElse(widened, E, hn::Add(Pp, R)), hn::Set(d, 1));
        const auto k = Gain(d, num, den);

        const auto xNew =
            hn::And(hn::Add(hn::PromoteTo(d, vx), hn::ShiftRight<KALMAN_GAIN_BITS>(hn::Mul(k, e))),
                    hn::Set(d, 0xFFFF));
        const auto rest = hn::Sub(hn::Set(d, static_cast<int32_t>(KALMAN_GAIN_ONE)), k);
        const auto pNew = hn::Add(
            hn::Mul(rest, hn::ShiftRight<KALMAN_GAIN_BITS>(num)),
            hn::ShiftRight<KALMAN_GAIN_BITS>(hn::Mul(rest, hn::And(num, hn::Set(d, 0xFF)))));
        const auto reported = hn::IfThenElse(hn::Lt(pNew, hn::Set(d, limit)), xNew,
                                             hn::Set(d, int32_t{KALMAN_UNCERTAIN}));
        hn::StoreU(hn::DemoteTo(du16, xNew), du16, estimate);
        hn::StoreU(hn::DemoteTo(du16, hn::Min(pNew, hn::Set(d, 0xFFFF))), du16, uncertainty);
        hn::StoreU(hn::DemoteTo(du16, reported), du16, out);
    }
};

#endif

void KalmanImpl(const uint16_t* distance, const uint16_t* amplitude, uint16_t* estimate,
                uint16_t* uncertainty, uint16_t* out, size_t count, uint16_t processNoise,
                int32_t limit) {
#if HWY_TARGET != HWY_SCALAR && HWY_HAVE_FLOAT64
    const TwoVectorStep<KalmanLanes> step{{int32_t{processNoise}, limit}};
    ForEachBlockWith(step, hn::ScalableTag<int32_t>(), count,
                     std::tuple(out, estimate, uncertainty), distance, amplitude,
                     static_cast<const uint16_t*>(estimate),
                     static_cast<const uint16_t*>(uncertainty));
#else
    // Without double-precision lanes: the per-pixel loop.
    kalmanPixels(distance, amplitude, estimate, uncertainty, out, count, processNoise, limit);
#endif
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace kyr::kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kyr::kernels {

HWY_EXPORT(TemporalImpl);
HWY_EXPORT(KalmanImpl);

void temporalBlend(const uint16_t* in, const uint16_t* average, uint16_t* out, size_t count,
                   uint32_t weight, uint16_t threshold) {
    if (weight > TEMPORAL_WEIGHT_ONE) {
        weight = TEMPORAL_WEIGHT_ONE;
    }
    if (needsPixelOrder(out, count, in, average)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = temporalPixel(in[i], average[i], weight, threshold);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(TemporalImpl)(in, average, out, count, weight, threshold);
}

void kalmanUpdate(const uint16_t* distance, const uint16_t* amplitude, uint16_t* estimate,
                  uint16_t* uncertainty, uint16_t* out, size_t count, uint16_t processNoise,
                  int32_t limit) {
    // The three outputs must be apart from each other; an input may be an
    // output at the same address (read before written, lane by lane).
    const auto overlaps = [count](const uint16_t* a, const uint16_t* b) {
        const auto x = reinterpret_cast<uintptr_t>(a);
        const auto y = reinterpret_cast<uintptr_t>(b);
        const size_t bytes = count * sizeof(uint16_t);
        return bytes != 0 && x < y + bytes && y < x + bytes;
    };
    if (overlaps(out, estimate) || overlaps(out, uncertainty) || overlaps(estimate, uncertainty) ||
        needsPixelOrder(out, count, distance, amplitude) ||
        needsPixelOrder(estimate, count, distance, amplitude) ||
        needsPixelOrder(uncertainty, count, distance, amplitude)) {
        kalmanPixels(distance, amplitude, estimate, uncertainty, out, count, processNoise, limit);
        return;
    }
    HWY_DYNAMIC_DISPATCH(KalmanImpl)
    (distance, amplitude, estimate, uncertainty, out, count, processNoise, limit);
}

}  // namespace kyr::kernels
#endif  // HWY_ONCE
