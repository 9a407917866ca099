// The block loop of the vector kernels, included once per instruction set
// from a file compiled with foreach_target (inside no namespace).
//
// ForEachBlock<Step>(d, count, out, in...) runs Step::run(d, out, in...)
// over `count` pixels in blocks of Step::block(d) pixels. The last, partial
// block goes through the same vector step on zero-padded copies, so every
// pixel takes the one vector path and no scalar remainder loop is left for
// the compiler to vectorise in its own way for an instruction set.
//
// A Step provides
//   static constexpr size_t maxBlock(D)  upper bound of block() for any vector length
//   static size_t block(D)               pixels per step
//   static void run(D, Out* out, const In*... in)
// and reads and writes exactly block(d) pixels of each array.
//
// ForEachBlockWith(step, d, count, out, in...) does the same with a step
// object whose (const) run member carries settings of the call, such as a
// threshold.

// Per-target include guard (the Highway convention for -inl headers).
#if defined(KYR_OPTIMIZED_BLOCK_LOOP_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KYR_OPTIMIZED_BLOCK_LOOP_INL_H_
#undef KYR_OPTIMIZED_BLOCK_LOOP_INL_H_
#else
#define KYR_OPTIMIZED_BLOCK_LOOP_INL_H_
#endif

#include <hwy/highway.h>

#include <cstddef>
#include <cstring>
#include <tuple>

HWY_BEFORE_NAMESPACE();
namespace kyr::kernels {
namespace HWY_NAMESPACE {

template <typename T, size_t N>
struct PaddedBlock {
    HWY_ALIGN T data[N] = {};
    void fill(const T* from, size_t count) { std::memcpy(data, from, count * sizeof(T)); }
};

template <class Step, class D, typename Out, typename... In>
HWY_INLINE void ForEachBlockWith(const Step& step, D d, size_t count, Out* out, const In*... in) {
    constexpr size_t MAX_BLOCK = Step::maxBlock(D());
    const size_t block = Step::block(d);
    size_t i = 0;
    for (; i + block <= count; i += block) {
        step.run(d, out + i, (in + i)...);
    }
    if (i < count) {
        const size_t rest = count - i;
        std::tuple<PaddedBlock<In, MAX_BLOCK>...> pads;
        PaddedBlock<Out, MAX_BLOCK> padOut;
        std::apply(
            [&](auto&... pad) {
                (pad.fill(in + i, rest), ...);
                step.run(d, padOut.data, static_cast<const In*>(pad.data)...);
            },
            pads);
        std::memcpy(out + i, padOut.data, rest * sizeof(Out));
    }
}

template <class Step, class D, typename Out, typename... In>
HWY_INLINE void ForEachBlock(D d, size_t count, Out* out, const In*... in) {
    ForEachBlockWith(Step(), d, count, out, in...);
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace kyr::kernels
HWY_AFTER_NAMESPACE();

#endif  // KYR_OPTIMIZED_BLOCK_LOOP_INL_H_
