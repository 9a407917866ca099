// Vector forms of the grayscale compensation kernels. This file is compiled
// once per instruction set (foreach_target); the first call picks the best
// one the CPU supports. Every step covers one vector of 16-bit lanes (eight
// pixels or more), and the last pixels of an image go through the same step
// on a padded copy.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "optimized/grayscaleKernels.cpp"
#include "optimized/grayscaleKernels.h"

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

// dsnuPixel: the unsigned saturating subtraction.
struct DsnuStep : OneVectorBlock {
    template <class D>
    static HWY_INLINE void run(D d, uint16_t* out, const uint16_t* in, const uint16_t* offset) {
        hn::StoreU(hn::SaturatedSub(hn::LoadU(d, in), hn::LoadU(d, offset)), d, out);
    }
};

// prnuPixel: the 32-bit product of two 16-bit lanes is taken as its high
// and low halves; bits 12 to 27 of it, the low 16 bits of the product
// shifted right by 12, are the high half's low 12 bits above the low half's
// top 4 bits.
struct PrnuStep : OneVectorBlock {
    template <class D>
    static HWY_INLINE void run(D d, uint16_t* out, const uint16_t* in, const uint16_t* reciprocal) {
        const auto a = hn::LoadU(d, in);
        const auto b = hn::LoadU(d, reciprocal);
        const auto high = hn::ShiftLeft<16 - PRNU_FRACTION_BITS>(hn::MulHigh(a, b));
        const auto low = hn::ShiftRight<PRNU_FRACTION_BITS>(hn::Mul(a, b));
        hn::StoreU(hn::Or(high, low), d, out);
    }
};

void DsnuImpl(const uint16_t* in, const uint16_t* offset, uint16_t* out, size_t count) {
    ForEachBlock<DsnuStep>(hn::ScalableTag<uint16_t>(), count, out, in, offset);
}

void PrnuImpl(const uint16_t* in, const uint16_t* reciprocal, uint16_t* out, size_t count) {
    ForEachBlock<PrnuStep>(hn::ScalableTag<uint16_t>(), count, out, in, reciprocal);
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace kyr::kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kyr::kernels {

HWY_EXPORT(DsnuImpl);
HWY_EXPORT(PrnuImpl);

void dsnuCompensate(const uint16_t* in, const uint16_t* offset, uint16_t* out, size_t count) {
    if (needsPixelOrder(out, count, in, offset)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = dsnuPixel(in[i], offset[i]);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(DsnuImpl)(in, offset, out, count);
}

void prnuCompensate(const uint16_t* in, const uint16_t* reciprocal, uint16_t* out, size_t count) {
    if (needsPixelOrder(out, count, in, reciprocal)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = prnuPixel(in[i], reciprocal[i]);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(PrnuImpl)(in, reciprocal, out, count);
}

}  // namespace kyr::kernels
#endif  // HWY_ONCE
