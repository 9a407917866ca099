// Vector forms of the arithmetic kernels. This file is compiled once per
// instruction set (foreach_target); the first call picks the best one the
// CPU supports. Every vector step covers at least eight pixels: two vectors
// of 32-bit lanes where the arithmetic needs 32 bits, and the last pixels of
// an image go through the same step on a padded copy.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "optimized/arithmeticKernels.cpp"
#include "optimized/arithmeticKernels.h"

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "optimized/blockLoop-inl.h"
#include "optimized/overlap.h"
#include "optimized/pairStep-inl.h"

HWY_BEFORE_NAMESPACE();
namespace kyr::kernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// ---------------------------------------------------------------- Subtract

struct SubtractStep : OneVectorBlock {
    template <class DU>
    static HWY_INLINE void run(DU du, int16_t* out, const uint16_t* minuend,
                               const uint16_t* subtrahend) {
        const hn::RebindToSigned<DU> di;
        const auto diff = hn::Sub(hn::LoadU(du, minuend), hn::LoadU(du, subtrahend));
        hn::StoreU(hn::BitCast(di, diff), di, out);
    }
};

void SubtractImpl(const uint16_t* minuend, const uint16_t* subtrahend, int16_t* out, size_t count) {
    ForEachBlock<SubtractStep>(hn::ScalableTag<uint16_t>(), count, out, minuend, subtrahend);
}

// --------------------------------------------------------------- Amplitude

// amplitudePixel per 32-bit lane. The unsigned sum (up to 2^31) is converted
// to float in two exact halves, high * 65536 + low, whose float addition
// rounds once like the scalar conversion.
struct AmplitudeLanes {
    template <class D32>
    static HWY_INLINE hn::Vec<D32> compute(D32 di, const int16_t* p0, const int16_t* p1) {
        const hn::Rebind<int16_t, D32> di16;
        const hn::RebindToUnsigned<D32> du;
        const hn::Rebind<float, D32> df;
        const auto d0 = hn::PromoteTo(di, hn::LoadU(di16, p0));
        const auto d1 = hn::PromoteTo(di, hn::LoadU(di16, p1));
        const auto square0 = hn::ConvertTo(di, hn::ConvertTo(df, hn::Mul(d0, d0)));
        const auto sum = hn::Add(hn::BitCast(du, square0), hn::BitCast(du, hn::Mul(d1, d1)));
        const auto high = hn::ConvertTo(df, hn::BitCast(di, hn::ShiftRight<16>(sum)));
        const auto low = hn::ConvertTo(df, hn::BitCast(di, hn::And(sum, hn::Set(du, 0xFFFFu))));
        const auto sumF = hn::MulAdd(high, hn::Set(df, 65536.0f), low);  // product exact
        return hn::ConvertTo(di, hn::Mul(hn::Sqrt(sumF), hn::Set(df, 0.5f)));
    }
};

void AmplitudeImpl(const int16_t* diff0, const int16_t* diff1, uint16_t* out, size_t count) {
#if HWY_TARGET == HWY_NEON && HWY_ARCH_ARM_V7
    // 32-bit ARM NEON has no exact square root: the per-pixel loop.
    for (size_t i = 0; i < count; ++i) {
        out[i] = amplitudePixel(diff0[i], diff1[i]);
    }
#else
    ForEachBlock<PairStep<AmplitudeLanes>>(hn::ScalableTag<int32_t>(), count, out, diff0, diff1);
#endif
}

// ------------------------------------------------------------------ CORDIC

// One rotation: s is -1 in lanes where Y < 0 and 0 elsewhere; (v ^ s) - s
// negates v exactly in those lanes. Shifts are arithmetic and use the values
// from before the rotation.
template <int I, class D32, class V>
HWY_INLINE void CordicRotation(D32 d, V& X, V& Y, V& angle) {
    const V s = hn::ShiftRight<31>(Y);
    const V xs = hn::ShiftRight<I>(X);
    const V ys = hn::ShiftRight<I>(Y);
    X = hn::Add(X, hn::Sub(hn::Xor(ys, s), s));
    Y = hn::Sub(Y, hn::Sub(hn::Xor(xs, s), s));
    angle = hn::Add(angle, hn::Sub(hn::Xor(hn::Set(d, CORDIC_ANGLES[I]), s), s));
}

template <class D32, class V, size_t... I>
HWY_INLINE void CordicRotations(D32 d, V& X, V& Y, V& angle, std::index_sequence<I...>) {
    (CordicRotation<static_cast<int>(I)>(d, X, Y, angle), ...);
}

// Raw phase of atan2(y, x) per 32-bit lane, in [0, 65535].
template <class D32>
HWY_INLINE hn::Vec<D32> Cordic(D32 d, hn::Vec<D32> y, hn::Vec<D32> x) {
    using V = hn::Vec<D32>;
    const V zero = hn::Zero(d);
    const auto origin = hn::And(hn::Eq(x, zero), hn::Eq(y, zero));
    const V xNegative = hn::ShiftRight<31>(x);  // -1 where x < 0
    V X = hn::ShiftLeft<CORDIC_PRESHIFT>(x);
    V Y = hn::ShiftLeft<CORDIC_PRESHIFT>(y);
    X = hn::Sub(hn::Xor(X, xNegative), xNegative);
    Y = hn::Sub(hn::Xor(Y, xNegative), xNegative);
    V angle = hn::And(xNegative, hn::Set(d, HALF_TURN));
    CordicRotations(d, X, Y, angle, std::make_index_sequence<CORDIC_ITERATIONS>());
    return hn::IfThenZeroElse(origin, hn::And(angle, hn::Set(d, 0xFFFF)));
}

struct CordicInt16Lanes {
    template <class D32>
    static HWY_INLINE hn::Vec<D32> compute(D32 d, const int16_t* y, const int16_t* x) {
        const hn::Rebind<int16_t, D32> di16;
        return Cordic(d, hn::PromoteTo(d, hn::LoadU(di16, y)),
                      hn::PromoteTo(d, hn::LoadU(di16, x)));
    }
};

// cordicInputFromFloat per lane, sign-extended to 32 bits.
template <class D32>
HWY_INLINE hn::Vec<D32> CordicInput(D32 di, const float* p) {
    const hn::Rebind<float, D32> df;
    const auto f = hn::LoadU(df, p);
    const auto turns = hn::Mul(f, hn::Set(df, 1.0f / 65536.0f));
    auto rest = hn::Mul(hn::Sub(turns, hn::Trunc(turns)), hn::Set(df, 65536.0f));
    rest = hn::IfThenZeroElse(hn::IsNaN(rest), rest);
    const auto wide = hn::ConvertTo(di, rest);  // |rest| < 65536
    return hn::ShiftRight<16>(hn::ShiftLeft<16>(wide));
}

struct CordicFloatLanes {
    template <class D32>
    static HWY_INLINE hn::Vec<D32> compute(D32 d, const float* y, const float* x) {
        return Cordic(d, CordicInput(d, y), CordicInput(d, x));
    }
};

void CordicInt16Impl(const int16_t* nominator, const int16_t* denominator, uint16_t* out,
                     size_t count) {
    ForEachBlock<PairStep<CordicInt16Lanes>>(hn::ScalableTag<int32_t>(), count, out, nominator,
                                             denominator);
}

void CordicFloatImpl(const float* nominator, const float* denominator, uint16_t* out,
                     size_t count) {
    ForEachBlock<PairStep<CordicFloatLanes>>(hn::ScalableTag<int32_t>(), count, out, nominator,
                                             denominator);
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace kyr::kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kyr::kernels {

HWY_EXPORT(SubtractImpl);
HWY_EXPORT(AmplitudeImpl);
HWY_EXPORT(CordicInt16Impl);
HWY_EXPORT(CordicFloatImpl);

void subtract(const uint16_t* minuend, const uint16_t* subtrahend, int16_t* out, size_t count) {
    if (needsPixelOrder(out, count, minuend, subtrahend)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = subtractPixel(minuend[i], subtrahend[i]);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(SubtractImpl)(minuend, subtrahend, out, count);
}

void amplitude(const int16_t* diff0, const int16_t* diff1, uint16_t* out, size_t count) {
    if (needsPixelOrder(out, count, diff0, diff1)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = amplitudePixel(diff0[i], diff1[i]);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(AmplitudeImpl)(diff0, diff1, out, count);
}

void atan2Cordic(const int16_t* nominator, const int16_t* denominator, uint16_t* out,
                 size_t count) {
    if (needsPixelOrder(out, count, nominator, denominator)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = cordicPixel(nominator[i], denominator[i]);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(CordicInt16Impl)(nominator, denominator, out, count);
}

void atan2Cordic(const float* nominator, const float* denominator, uint16_t* out, size_t count) {
    if (needsPixelOrder(out, count, nominator, denominator)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = cordicPixel(cordicInputFromFloat(nominator[i]),
                                 cordicInputFromFloat(denominator[i]));
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(CordicFloatImpl)(nominator, denominator, out, count);
}

}  // namespace kyr::kernels
#endif  // HWY_ONCE
