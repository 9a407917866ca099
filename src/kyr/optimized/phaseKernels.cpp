// Array forms of the phase compensation and distance kernels. The phase
// error lookup and the phase-to-distance conversion use explicit SIMD: this
// file is compiled once per instruction set (foreach_target) and the first
// call picks the best one the CPU supports; each vector step covers two
// vectors of 32-bit lanes (at least eight pixels). The subtractions are
// plain loops that the compiler vectorises (eight 16-bit pixels per 128-bit
// step already with the baseline instruction set).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "optimized/phaseKernels.cpp"
#include "optimized/phaseKernels.h"

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <new>

HWY_BEFORE_NAMESPACE();
namespace kyr::kernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// ------------------------------------------------------- Phase error table

// p - table[(p * size) >> 16] per 32-bit lane, for size <= 65536: the
// product stays below 2^32 and the index below size.
template <class D32>
HWY_INLINE hn::Vec<D32> PhaseErrorLanes(D32 d, hn::Vec<D32> p, hn::Vec<D32> size,
                                        const uint32_t* wide) {
    const hn::RebindToSigned<D32> di;
    const auto k = hn::ShiftRight<16>(hn::Mul(p, size));
    const auto error = hn::GatherIndex(d, wide, hn::BitCast(di, k));
    return hn::And(hn::Sub(p, error), hn::Set(d, 0xFFFFu));
}

void PhaseErrorImpl(const uint16_t* phase, const uint16_t* lut, const uint32_t* wide, size_t size,
                    uint16_t* out, size_t count) {
    const hn::ScalableTag<uint32_t> du;
    const hn::RebindToSigned<decltype(du)> di;
    const hn::Rebind<uint16_t, decltype(du)> du16;
    const size_t lanes = hn::Lanes(du);
    const auto n = hn::Set(du, static_cast<uint32_t>(size));
    size_t i = 0;
    for (; i + 2 * lanes <= count; i += 2 * lanes) {
        const auto a = hn::PromoteTo(du, hn::LoadU(du16, phase + i));
        const auto b = hn::PromoteTo(du, hn::LoadU(du16, phase + i + lanes));
        const auto ra = PhaseErrorLanes(du, a, n, wide);
        const auto rb = PhaseErrorLanes(du, b, n, wide);
        hn::StoreU(hn::DemoteTo(du16, hn::BitCast(di, ra)), du16, out + i);
        hn::StoreU(hn::DemoteTo(du16, hn::BitCast(di, rb)), du16, out + i + lanes);
    }
    for (; i < count; ++i) {
        out[i] = phaseErrorPixel(phase[i], lut, size);
    }
}

// -------------------------------------------------------- Phase to distance

// trunc(((p * 2pi) / 65535) * scale) per lane, low 16 bits, for scales whose
// largest distance stays below 2^31 (the caller checks): multiplication,
// division and truncation are the IEEE single-precision operations of the
// per-pixel rule.
template <class DF>
HWY_INLINE hn::Vec<hn::RebindToSigned<DF>> DistanceLanes(DF df, hn::Vec<hn::RebindToSigned<DF>> p,
                                                         hn::Vec<DF> scale) {
    const hn::RebindToSigned<DF> di;
    const auto radians = hn::Div(hn::Mul(hn::ConvertTo(df, p), hn::Set(df, kyr::TWO_PI_F)),
                                 hn::Set(df, kyr::PHASE_FULL_SCALE_F));
    const auto mm = hn::ConvertTo(di, hn::Mul(radians, scale));
    return hn::And(mm, hn::Set(di, 0xFFFF));
}

void PhaseToDistanceImpl(const uint16_t* phase, float scale, uint16_t* out, size_t count) {
    size_t i = 0;
#if !(HWY_TARGET == HWY_NEON && HWY_ARCH_ARM_V7)
    // (32-bit ARM NEON has no exact division; it keeps the per-pixel loop.)
    const hn::ScalableTag<float> df;
    const hn::RebindToSigned<decltype(df)> di;
    const hn::RebindToUnsigned<decltype(df)> du;
    const hn::Rebind<uint16_t, decltype(df)> du16;
    const size_t lanes = hn::Lanes(df);
    const auto s = hn::Set(df, scale);
    for (; i + 2 * lanes <= count; i += 2 * lanes) {
        const auto a = hn::BitCast(di, hn::PromoteTo(du, hn::LoadU(du16, phase + i)));
        const auto b = hn::BitCast(di, hn::PromoteTo(du, hn::LoadU(du16, phase + i + lanes)));
        hn::StoreU(hn::DemoteTo(du16, DistanceLanes(df, a, s)), du16, out + i);
        hn::StoreU(hn::DemoteTo(du16, DistanceLanes(df, b, s)), du16, out + i + lanes);
    }
#endif
    for (; i < count; ++i) {
        out[i] = phaseToDistancePixel(phase[i], scale);
    }
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace kyr::kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kyr::kernels {

HWY_EXPORT(PhaseErrorImpl);
HWY_EXPORT(PhaseToDistanceImpl);

namespace {

// True when the output shares memory with the input without starting at the
// same address: a vector step could then read values that an earlier step of
// the per-pixel order has already overwritten.
bool shiftedOverlap(const uint16_t* out, const uint16_t* in, size_t count) {
    const auto o = reinterpret_cast<uintptr_t>(out);
    const auto i = reinterpret_cast<uintptr_t>(in);
    const size_t bytes = count * sizeof(uint16_t);
    return o != i && count != 0 && o < i + bytes && i < o + bytes;
}

}  // namespace

void subtractPhase(const uint16_t* phase, const uint16_t* offset, uint16_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        out[i] = subtractPhasePixel(phase[i], offset[i]);
    }
}

void subtractPhaseShift(const uint16_t* phase, uint16_t shift, uint16_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        out[i] = subtractPhasePixel(phase[i], shift);
    }
}

std::unique_ptr<uint32_t[]> widenPhaseErrorTable(const uint16_t* lut, size_t size) {
    if (lut == nullptr || size == 0 || size > PHASE_ERROR_VECTOR_MAX_SIZE) {
        return nullptr;
    }
    std::unique_ptr<uint32_t[]> wide(new (std::nothrow) uint32_t[size]);
    if (wide) {
        for (size_t k = 0; k < size; ++k) {
            wide[k] = lut[k];
        }
    }
    return wide;
}

void compensatePhaseError(const uint16_t* phase, const uint16_t* lut, const uint32_t* wide,
                          size_t size, uint16_t* out, size_t count) {
    if (wide == nullptr || size > PHASE_ERROR_VECTOR_MAX_SIZE ||
        shiftedOverlap(out, phase, count)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = phaseErrorPixel(phase[i], lut, size);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(PhaseErrorImpl)(phase, lut, wide, size, out, count);
}

void phaseToDistance(const uint16_t* phase, float scale, uint16_t* out, size_t count) {
    // The vector lanes truncate into 32 bits: exact while the largest
    // distance (that of raw 65535) stays below 2^31, i.e. above about 70 Hz.
    const float largest = phaseToDistanceValue(0xFFFF, scale);
    if (!(largest >= 0.0f && largest < 2147483648.0f) || shiftedOverlap(out, phase, count)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = phaseToDistancePixel(phase[i], scale);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(PhaseToDistanceImpl)(phase, scale, out, count);
}

}  // namespace kyr::kernels
#endif  // HWY_ONCE
