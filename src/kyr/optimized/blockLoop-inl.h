// The block loop of the vector kernels, included once per instruction set
// from a file compiled with foreach_target (inside no namespace).
//
// ForEachBlock<Step>(d, count, out, in...) runs Step::run(d, out, in...)
// over `count` pixels in blocks of Step::block(d) pixels;
// ForEachBlock(step, d, count, out, in...) does the same with a step object
// that carries the kernel's parameters (a threshold, a table, a scale) and
// calls step.run(d, out, in...). The last, partial block goes through the
// same vector step on zero-padded copies, so every pixel takes the one vector
// path and no scalar remainder loop is left for the compiler to vectorise in
// its own way for an instruction set.
//
// A Step provides
//   static constexpr size_t maxBlock(D)  upper bound of block() for any vector length
//   static size_t block(D)               pixels per step
//   void run(D, Out* out, const In*... in) const   (or static)
// and reads and writes exactly block(d) pixels of each array. Zero pixels
// must be valid input for it (they are what the padding holds).
//
// ForEachBlockWith(step, d, count, std::tuple(out...), in...) is the same
// loop for a step object, which may carry per-call settings, with one or
// more outputs: step.run(d, out..., in...). An output may also be passed as
// an input (updated in place): the padded last block reads the input's copy
// and writes the output's copy, which goes back to the output afterwards.

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
#include <utility>

HWY_BEFORE_NAMESPACE();
namespace kyr::kernels {
namespace HWY_NAMESPACE {

// The block of a Step that covers one vector of the tag's lanes.
struct OneVectorBlock {
    template <class D>
    static constexpr size_t maxBlock(D d) {
        return hwy::HWY_NAMESPACE::MaxLanes(d);
    }
    template <class D>
    static size_t block(D d) {
        return hwy::HWY_NAMESPACE::Lanes(d);
    }
};

template <typename T, size_t N>
struct PaddedBlock {
    HWY_ALIGN T data[N] = {};
    void fill(const T* from, size_t count) { std::memcpy(data, from, count * sizeof(T)); }
};

template <typename T>
HWY_INLINE T* blockData(T* p) {
    return p;
}
template <typename T, size_t N>
HWY_INLINE T* blockData(PaddedBlock<T, N>& block) {
    return block.data;
}

// Copies the first `rest` pixels of each padded output block to its output.
template <class Outs, class PadOuts, size_t... O>
HWY_INLINE void CopyOut(Outs& outs, PadOuts& padOuts, size_t at, size_t rest,
                        std::index_sequence<O...>) {
    (std::memcpy(std::get<O>(outs) + at, std::get<O>(padOuts).data,
                 rest * sizeof(*std::get<O>(outs))),
     ...);
}

// One step on the pixels at `outs` and `ins` (tuples of pointers or of
// padded blocks).
template <class Step, class D, class Outs, class Ins, size_t... O, size_t... I>
HWY_INLINE void RunStep(const Step& step, D d, size_t at, Outs& outs, Ins& ins,
                        std::index_sequence<O...>, std::index_sequence<I...>) {
    step.run(d, (blockData(std::get<O>(outs)) + at)..., (blockData(std::get<I>(ins)) + at)...);
}

template <class Step, class D, typename... Out, typename... In>
HWY_INLINE void ForEachBlockWith(const Step& step, D d, size_t count, std::tuple<Out*...> outs,
                                 const In*... in) {
    constexpr size_t MAX_BLOCK = Step::maxBlock(D());
    const auto outIndex = std::index_sequence_for<Out...>();
    const auto inIndex = std::index_sequence_for<In...>();
    std::tuple<const In*...> ins(in...);
    const size_t block = Step::block(d);
    size_t i = 0;
    for (; i + block <= count; i += block) {
        RunStep(step, d, i, outs, ins, outIndex, inIndex);
    }
    if (i < count) {
        const size_t rest = count - i;
        std::tuple<PaddedBlock<In, MAX_BLOCK>...> pads;
        std::tuple<PaddedBlock<Out, MAX_BLOCK>...> padOuts;
        std::apply([&](auto&... pad) { (pad.fill(in + i, rest), ...); }, pads);
        RunStep(step, d, 0, padOuts, pads, outIndex, inIndex);
        CopyOut(outs, padOuts, i, rest, outIndex);
    }
}

template <class Step, class D, typename Out, typename... In>
HWY_INLINE void ForEachBlock(const Step& step, D d, size_t count, Out* out, const In*... in) {
    ForEachBlockWith(step, d, count, std::tuple<Out*>(out), in...);
}

template <class Step, class D, typename Out, typename... In>
HWY_INLINE void ForEachBlock(D d, size_t count, Out* out, const In*... in) {
    ForEachBlockWith(Step(), d, count, std::tuple<Out*>(out), in...);
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace kyr::kernels
HWY_AFTER_NAMESPACE();

#endif  // KYR_OPTIMIZED_BLOCK_LOOP_INL_H_
