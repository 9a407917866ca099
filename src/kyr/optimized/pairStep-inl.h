// The step over two vectors of 32-bit lanes that the arithmetic and phase
// kernels run with ForEachBlock (blockLoop-inl.h), included once per
// instruction set from a file compiled with foreach_target (inside no
// namespace).
//
// PairStep<Lanes32> steps over two vectors of 32-bit lanes, so at least
// eight pixels, and stores 16-bit results: Lanes32::compute(d, in...) turns
// the pixels at the input pointers into one vector of 32-bit lanes holding
// 16-bit results, and is called once for each half of the block.
// Lanes32 may carry the kernel's parameters (a table, a scale); its compute
// may be static or a const member.

// Per-target include guard (the Highway convention for -inl headers).
#if defined(KYR_OPTIMIZED_PAIR_STEP_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KYR_OPTIMIZED_PAIR_STEP_INL_H_
#undef KYR_OPTIMIZED_PAIR_STEP_INL_H_
#else
#define KYR_OPTIMIZED_PAIR_STEP_INL_H_
#endif

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace kyr::kernels {
namespace HWY_NAMESPACE {

template <class Lanes32>
struct PairStep : Lanes32 {
    template <class D32>
    static constexpr size_t maxBlock(D32 d) {
        return 2 * hwy::HWY_NAMESPACE::MaxLanes(d);
    }
    template <class D32>
    static size_t block(D32 d) {
        return 2 * hwy::HWY_NAMESPACE::Lanes(d);
    }
    template <class D32, typename... In>
    HWY_INLINE void run(D32 d, uint16_t* out, const In*... in) const {
        namespace hn = hwy::HWY_NAMESPACE;
        const hn::Rebind<uint16_t, D32> du16;
        const size_t lanes = hn::Lanes(d);
        const auto first = this->compute(d, in...);
        const auto second = this->compute(d, (in + lanes)...);
        hn::StoreU(hn::DemoteTo(du16, first), du16, out);
        hn::StoreU(hn::DemoteTo(du16, second), du16, out + lanes);
    }
};

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace kyr::kernels
HWY_AFTER_NAMESPACE();

#endif  // KYR_OPTIMIZED_PAIR_STEP_INL_H_
