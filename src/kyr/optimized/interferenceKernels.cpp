// Vector forms of the interference kernels. This file is compiled once per
// instruction set (foreach_target); the first call picks the best one the
// CPU supports. Every step covers one vector of 16-bit lanes (eight pixels
// or more) without a branch, and the last pixels of an image go through the
// same step on a padded copy.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "optimized/interferenceKernels.cpp"
#include "optimized/interferenceKernels.h"

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "optimized/blockLoop-inl.h"
#include "optimized/overlap.h"

HWY_BEFORE_NAMESPACE();
namespace kyr::kernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// undisturbedPixel for the lanes, given the band limits: the wrapping
// 16-bit additions and unsigned comparisons of the rule, and the mask value
// chosen by a lane select.
template <class D>
HWY_INLINE void StoreInterference(D d, uint16_t* out, const uint16_t* dcs0, const uint16_t* dcs1,
                                  const uint16_t* dcs2, const uint16_t* dcs3, hn::Vec<D> lo,
                                  hn::Vec<D> hi) {
    const auto s02 = hn::Add(hn::LoadU(d, dcs0), hn::LoadU(d, dcs2));
    const auto s13 = hn::Add(hn::LoadU(d, dcs1), hn::LoadU(d, dcs3));
    const auto inside02 = hn::And(hn::Lt(lo, s02), hn::Lt(s02, hi));
    const auto inside13 = hn::And(hn::Lt(lo, s13), hn::Lt(s13, hi));
    const auto code = hn::Set(d, INTERFERENCE_CODE);
    hn::StoreU(hn::IfThenZeroElse(hn::And(inside02, inside13), code), d, out);
}

// Per-pixel dark offsets: the band is formed per lane.
struct InterferenceStep : OneVectorBlock {
    uint16_t threshold;

    template <class D>
    HWY_INLINE void run(D d, uint16_t* out, const uint16_t* dcs0, const uint16_t* dcs1,
                        const uint16_t* dcs2, const uint16_t* dcs3, const uint16_t* dsnu) const {
        const auto offset = hn::LoadU(d, dsnu);
        const auto centre = hn::Add(offset, offset);
        const auto t = hn::Set(d, threshold);
        StoreInterference(d, out, dcs0, dcs1, dcs2, dcs3, hn::Sub(centre, t), hn::Add(centre, t));
    }
};

// One dark offset: the band limits are the same for every pixel.
struct FlatInterferenceStep : OneVectorBlock {
    uint16_t lo;
    uint16_t hi;

    template <class D>
    HWY_INLINE void run(D d, uint16_t* out, const uint16_t* dcs0, const uint16_t* dcs1,
                        const uint16_t* dcs2, const uint16_t* dcs3) const {
        StoreInterference(d, out, dcs0, dcs1, dcs2, dcs3, hn::Set(d, lo), hn::Set(d, hi));
    }
};

// latchPixel: a lane select on the mask.
struct LatchStep : OneVectorBlock {
    template <class D>
    static HWY_INLINE void run(D d, uint16_t* out, const uint16_t* input, const uint16_t* mask,
                               const uint16_t* held) {
        const auto flagged = hn::Ne(hn::LoadU(d, mask), hn::Zero(d));
        hn::StoreU(hn::IfThenElse(flagged, hn::LoadU(d, held), hn::LoadU(d, input)), d, out);
    }
};

void InterferenceMaskImpl(const uint16_t* dcs0, const uint16_t* dcs1, const uint16_t* dcs2,
                          const uint16_t* dcs3, const uint16_t* dsnu, uint16_t threshold,
                          uint16_t* out, size_t count) {
    const InterferenceStep step{{}, threshold};
    ForEachBlock(step, hn::ScalableTag<uint16_t>(), count, out, dcs0, dcs1, dcs2, dcs3, dsnu);
}

void InterferenceMaskFlatImpl(const uint16_t* dcs0, const uint16_t* dcs1, const uint16_t* dcs2,
                              const uint16_t* dcs3, uint16_t lo, uint16_t hi, uint16_t* out,
                              size_t count) {
    const FlatInterferenceStep step{{}, lo, hi};
    ForEachBlock(step, hn::ScalableTag<uint16_t>(), count, out, dcs0, dcs1, dcs2, dcs3);
}

void LatchImpl(const uint16_t* input, const uint16_t* mask, const uint16_t* held, uint16_t* out,
               size_t count) {
    ForEachBlock<LatchStep>(hn::ScalableTag<uint16_t>(), count, out, input, mask, held);
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace kyr::kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kyr::kernels {

HWY_EXPORT(InterferenceMaskImpl);
HWY_EXPORT(InterferenceMaskFlatImpl);
HWY_EXPORT(LatchImpl);

void interferenceMask(const uint16_t* dcs0, const uint16_t* dcs1, const uint16_t* dcs2,
                      const uint16_t* dcs3, const uint16_t* dsnu, uint16_t threshold, uint16_t* out,
                      size_t count) {
    if (needsPixelOrder(out, count, dcs0, dcs1, dcs2, dcs3, dsnu)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = interferencePixel(dcs0[i], dcs1[i], dcs2[i], dcs3[i], dsnu[i], threshold);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(InterferenceMaskImpl)(dcs0, dcs1, dcs2, dcs3, dsnu, threshold, out, count);
}

void interferenceMaskFlat(const uint16_t* dcs0, const uint16_t* dcs1, const uint16_t* dcs2,
                          const uint16_t* dcs3, uint16_t dsnu, uint16_t threshold, uint16_t* out,
                          size_t count) {
    if (needsPixelOrder(out, count, dcs0, dcs1, dcs2, dcs3)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = interferencePixel(dcs0[i], dcs1[i], dcs2[i], dcs3[i], dsnu, threshold);
        }
        return;
    }
    const auto centre = static_cast<uint16_t>(2 * dsnu);
    HWY_DYNAMIC_DISPATCH(InterferenceMaskFlatImpl)
    (dcs0, dcs1, dcs2, dcs3, static_cast<uint16_t>(centre - threshold),
     static_cast<uint16_t>(centre + threshold), out, count);
}

void latch(const uint16_t* input, const uint16_t* mask, const uint16_t* held, uint16_t* out,
           size_t count) {
    if (needsPixelOrder(out, count, input, mask, held)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = latchPixel(input[i], mask[i], held[i]);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(LatchImpl)(input, mask, held, out, count);
}

// A select moves bits: the signed pixels take the unsigned lanes (reading
// int16_t through uint16_t is allowed, the types differ only in sign).
void latch(const int16_t* input, const uint16_t* mask, const int16_t* held, int16_t* out,
           size_t count) {
    latch(reinterpret_cast<const uint16_t*>(input), mask, reinterpret_cast<const uint16_t*>(held),
          reinterpret_cast<uint16_t*>(out), count);
}

}  // namespace kyr::kernels
#endif  // HWY_ONCE
