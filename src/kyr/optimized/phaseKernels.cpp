// Array forms of the phase compensation and distance kernels, in explicit
// SIMD: this file is compiled once per instruction set (foreach_target) and
// the first call picks the best one the CPU supports. The subtractions step
// over one vector of 16-bit lanes; the phase error lookup and the
// phase-to-distance conversion over two vectors of 32-bit lanes (at least
// eight pixels). The last pixels of an image go through the same step on a
// padded copy.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "optimized/phaseKernels.cpp"
#include "optimized/phaseKernels.h"

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <new>

#include "optimized/blockLoop-inl.h"
#include "optimized/overlap.h"
#include "optimized/pairStep-inl.h"

HWY_BEFORE_NAMESPACE();
namespace kyr::kernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// ------------------------------------------------------------ Subtractions

// Steps over one vector of 16-bit lanes; raw phases wrap modulo 65536.
struct SubtractPhaseStep : OneVectorBlock {
    template <class DU>
    static HWY_INLINE void run(DU du, uint16_t* out, const uint16_t* phase,
                               const uint16_t* offset) {
        hn::StoreU(hn::Sub(hn::LoadU(du, phase), hn::LoadU(du, offset)), du, out);
    }
};

struct SubtractShiftStep : OneVectorBlock {
    uint16_t shift;
    template <class DU>
    HWY_INLINE void run(DU du, uint16_t* out, const uint16_t* phase) const {
        hn::StoreU(hn::Sub(hn::LoadU(du, phase), hn::Set(du, shift)), du, out);
    }
};

void SubtractPhaseImpl(const uint16_t* phase, const uint16_t* offset, uint16_t* out, size_t count) {
    ForEachBlock<SubtractPhaseStep>(hn::ScalableTag<uint16_t>(), count, out, phase, offset);
}

void SubtractShiftImpl(const uint16_t* phase, uint16_t shift, uint16_t* out, size_t count) {
    ForEachBlock(SubtractShiftStep{{}, shift}, hn::ScalableTag<uint16_t>(), count, out, phase);
}

// Raw phases zero-extended to the 32-bit lanes of `d`.
template <class D32>
HWY_INLINE hn::Vec<hn::RebindToUnsigned<D32>> LoadPhases(D32, const uint16_t* phase) {
    const hn::RebindToUnsigned<D32> du;
    const hn::Rebind<uint16_t, D32> du16;
    return hn::PromoteTo(du, hn::LoadU(du16, phase));
}

// ------------------------------------------------------- Phase error table

// p - table[(p * size) >> 16] per 32-bit lane, for size <= 65536: the
// product stays below 2^32 and the index below size. The result is in
// [0, 65535] as a signed lane, ready to be narrowed.
struct PhaseErrorLanes {
    const uint32_t* wide;
    uint32_t size;
    template <class DI>
    HWY_INLINE hn::Vec<DI> compute(DI di, const uint16_t* phase) const {
        const hn::RebindToUnsigned<DI> du;
        const auto p = LoadPhases(di, phase);
        const auto k = hn::ShiftRight<16>(hn::Mul(p, hn::Set(du, size)));
        const auto error = hn::GatherIndex(du, wide, hn::BitCast(di, k));
        return hn::BitCast(di, hn::And(hn::Sub(p, error), hn::Set(du, 0xFFFFu)));
    }
};

void PhaseErrorImpl(const uint16_t* phase, const uint32_t* wide, size_t size, uint16_t* out,
                    size_t count) {
    const PairStep<PhaseErrorLanes> step{{wide, static_cast<uint32_t>(size)}};
    ForEachBlock(step, hn::ScalableTag<int32_t>(), count, out, phase);
}

// -------------------------------------------------------- Phase to distance

// trunc(((p * 2pi) / 65535) * scale) per lane, low 16 bits, for scales whose
// largest distance stays below 2^31 (the caller checks): multiplication,
// division and truncation are the IEEE single-precision operations of the
// per-pixel rule.
struct DistanceLanes {
    float scale;
    template <class DI>
    HWY_INLINE hn::Vec<DI> compute(DI di, const uint16_t* phase) const {
        const hn::Rebind<float, DI> df;
        const auto p = LoadPhases(di, phase);
        const auto radians =
            hn::Div(hn::Mul(hn::ConvertTo(df, hn::BitCast(di, p)), hn::Set(df, kyr::TWO_PI_F)),
                    hn::Set(df, kyr::PHASE_FULL_SCALE_F));
        const auto mm = hn::ConvertTo(di, hn::Mul(radians, hn::Set(df, scale)));
        return hn::And(mm, hn::Set(di, 0xFFFF));
    }
};

void PhaseToDistanceImpl(const uint16_t* phase, float scale, uint16_t* out, size_t count) {
#if HWY_TARGET == HWY_NEON && HWY_ARCH_ARM_V7
    // 32-bit ARM NEON has no exact division: the per-pixel loop.
    for (size_t i = 0; i < count; ++i) {
        out[i] = phaseToDistancePixel(phase[i], scale);
    }
#else
    const PairStep<DistanceLanes> step{{scale}};
    ForEachBlock(step, hn::ScalableTag<int32_t>(), count, out, phase);
#endif
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace kyr::kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kyr::kernels {

HWY_EXPORT(SubtractPhaseImpl);
HWY_EXPORT(SubtractShiftImpl);
HWY_EXPORT(PhaseErrorImpl);
HWY_EXPORT(PhaseToDistanceImpl);

void subtractPhase(const uint16_t* phase, const uint16_t* offset, uint16_t* out, size_t count) {
    if (needsPixelOrder(out, count, phase, offset)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = subtractPhasePixel(phase[i], offset[i]);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(SubtractPhaseImpl)(phase, offset, out, count);
}

void subtractPhaseShift(const uint16_t* phase, uint16_t shift, uint16_t* out, size_t count) {
    if (needsPixelOrder(out, count, phase)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = subtractPhasePixel(phase[i], shift);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(SubtractShiftImpl)(phase, shift, out, count);
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
        needsPixelOrder(out, count, phase)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = phaseErrorPixel(phase[i], lut, size);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(PhaseErrorImpl)(phase, wide, size, out, count);
}

void phaseToDistance(const uint16_t* phase, float scale, uint16_t* out, size_t count) {
    // The vector lanes truncate into 32 bits: exact while the largest
    // distance (that of raw 65535) stays below 2^31, i.e. above about 70 Hz.
    const float largest = phaseToDistanceValue(0xFFFF, scale);
    if (!(largest >= 0.0f && largest < 2147483648.0f) || needsPixelOrder(out, count, phase)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = phaseToDistancePixel(phase[i], scale);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(PhaseToDistanceImpl)(phase, scale, out, count);
}

}  // namespace kyr::kernels
#endif  // HWY_ONCE
