// Vector forms of the mask, error-code and HDR kernels. This file is compiled
// once per instruction set (foreach_target); the first call picks the best
// one the CPU supports. Every rule works lane by lane on 16-bit pixels with
// comparisons, lane selects and unsigned maxima, one vector per step; the
// last pixels of an image go through the same step on a padded copy.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "optimized/maskKernels.cpp"
#include "optimized/maskKernels.h"

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "optimized/blockLoop-inl.h"
#include "optimized/overlap.h"

HWY_BEFORE_NAMESPACE();
namespace kyr::kernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// One vector of 16-bit lanes per step: out = rule(d, in...) lane by lane.
template <class Rule>
struct LaneStep {
    Rule rule;

    template <class D>
    static constexpr size_t maxBlock(D d) {
        return hn::MaxLanes(d);
    }
    template <class D>
    static size_t block(D d) {
        return hn::Lanes(d);
    }
    template <class D, typename... In>
    HWY_INLINE void run(D d, uint16_t* out, const In*... in) const {
        hn::StoreU(rule(d, hn::LoadU(d, in)...), d, out);
    }
};

template <class Rule, typename... In>
HWY_INLINE void ForEachLane(const Rule& rule, size_t count, uint16_t* out, const In*... in) {
    ForEachBlock(LaneStep<Rule>{rule}, hn::ScalableTag<uint16_t>(), count, out, in...);
}

// Lanes where any of the vectors equals `value`.
template <class V, class... Vs>
HWY_INLINE auto AnyEqual(V value, V first, Vs... rest) {
    auto any = hn::Eq(first, value);
    ((any = hn::Or(any, hn::Eq(rest, value))), ...);
    return any;
}

// ------------------------------------------------------------ Saturation

struct SaturationLanes {
    template <class D, class... V>
    HWY_INLINE hn::Vec<D> operator()(D d, V... dcs) const {
        const auto saturated = AnyEqual(hn::Zero(d), dcs...);
        const auto overflow = AnyEqual(hn::Set(d, ADC_FULL_SCALE), dcs...);
        return hn::IfThenElse(saturated, hn::Set(d, CODE_SATURATION),
                              hn::IfThenElseZero(overflow, hn::Set(d, CODE_ADC_OVERFLOW)));
    }
};

void Saturation1Impl(const Planes<1>& dcs, uint16_t* out, size_t count) {
    ForEachLane(SaturationLanes(), count, out, dcs[0]);
}

void Saturation4Impl(const Planes<4>& dcs, uint16_t* out, size_t count) {
    ForEachLane(SaturationLanes(), count, out, dcs[0], dcs[1], dcs[2], dcs[3]);
}

// ------------------------------------------------------- Minimum amplitude

struct MinAmplitudeMaskLanes {
    uint16_t minAmp;
    template <class D, class V>
    HWY_INLINE hn::Vec<D> operator()(D d, V amplitude) const {
        return hn::IfThenElseZero(hn::Lt(amplitude, hn::Set(d, minAmp)),
                                  hn::Set(d, CODE_LOW_AMPLITUDE));
    }
};

struct MinAmplitudeLanes {
    uint16_t minAmp;
    template <class D, class V>
    HWY_INLINE hn::Vec<D> operator()(D d, V amplitude, V distance) const {
        return hn::IfThenElse(hn::Lt(amplitude, hn::Set(d, minAmp)), hn::Set(d, CODE_LOW_AMPLITUDE),
                              distance);
    }
};

void MinAmplitudeMaskImpl(const uint16_t* amplitude, uint16_t minAmp, uint16_t* out, size_t count) {
    ForEachLane(MinAmplitudeMaskLanes{minAmp}, count, out, amplitude);
}

void MinAmplitudeImpl(const uint16_t* amplitude, const uint16_t* distance, uint16_t minAmp,
                      uint16_t* out, size_t count) {
    ForEachLane(MinAmplitudeLanes{minAmp}, count, out, amplitude, distance);
}

// ------------------------------------------------- Merging and applying

struct MaximumLanes {
    template <class D, class V, class... Vs>
    HWY_INLINE hn::Vec<D> operator()(D /*d*/, V first, Vs... rest) const {
        ((first = hn::Max(first, rest)), ...);
        return first;
    }
};

void Max2Impl(const Planes<2>& in, uint16_t* out, size_t count) {
    ForEachLane(MaximumLanes(), count, out, in[0], in[1]);
}

void Max3Impl(const Planes<3>& in, uint16_t* out, size_t count) {
    ForEachLane(MaximumLanes(), count, out, in[0], in[1], in[2]);
}

void Max4Impl(const Planes<4>& in, uint16_t* out, size_t count) {
    ForEachLane(MaximumLanes(), count, out, in[0], in[1], in[2], in[3]);
}

// ------------------------------------------------------------ ErrorToZero

struct ErrorToZeroLanes {
    template <class D, class V>
    HWY_INLINE hn::Vec<D> operator()(D d, V value) const {
        const auto wrap = hn::Set(d, CODE_WRAP);
        return hn::Sub(hn::Max(hn::Add(value, wrap), wrap), wrap);
    }
};

void ErrorToZeroImpl(const uint16_t* in, uint16_t* out, size_t count) {
    ForEachLane(ErrorToZeroLanes(), count, out, in);
}

// ------------------------------------------------------------ HDR selection

// One exposure of hdrSelectionPixel per lane. A code counts as amplitude 0
// (as does 0 itself): then "valid and larger than the best so far" is simply
// "larger", since the best is never below 0.
template <class D, class V>
HWY_INLINE void ConsiderExposure(D d, V amplitude, uint16_t n, V& best, V& index) {
    const auto valid = hn::IfThenElseZero(hn::Lt(amplitude, hn::Set(d, LIMIT_VALID)), amplitude);
    const auto larger = hn::Gt(valid, best);
    best = hn::IfThenElse(larger, valid, best);
    index = hn::IfThenElse(larger, hn::Set(d, n), index);
}

// The first exposure's best is its amplitude when valid and 0 otherwise,
// which the same replacement gives.
struct HdrSelectionLanes {
    template <class D, class V, class... Vs>
    HWY_INLINE hn::Vec<D> operator()(D d, V first, Vs... rest) const {
        auto best = hn::IfThenElseZero(hn::Lt(first, hn::Set(d, LIMIT_VALID)), first);
        auto index = hn::Zero(d);
        uint16_t n = 0;
        (ConsiderExposure(d, rest, ++n, best, index), ...);
        return index;
    }
};

void HdrSelection2Impl(const Planes<2>& a, uint16_t* out, size_t count) {
    ForEachLane(HdrSelectionLanes(), count, out, a[0], a[1]);
}

void HdrSelection3Impl(const Planes<3>& a, uint16_t* out, size_t count) {
    ForEachLane(HdrSelectionLanes(), count, out, a[0], a[1], a[2]);
}

void HdrSelection4Impl(const Planes<4>& a, uint16_t* out, size_t count) {
    ForEachLane(HdrSelectionLanes(), count, out, a[0], a[1], a[2], a[3]);
}

// ----------------------------------------------------------------- Stitch

// Starts from exposure 0 and replaces the lanes whose mask names exposure
// 1 ... N-1; any other mask value keeps exposure 0.
struct StitchLanes {
    template <class D, class V, class... Vs>
    HWY_INLINE hn::Vec<D> operator()(D d, V mask, V first, Vs... rest) const {
        uint16_t n = 0;
        ((first = hn::IfThenElse(hn::Eq(mask, hn::Set(d, ++n)), rest, first)), ...);
        return first;
    }
};

void Stitch2Impl(const uint16_t* mask, const Planes<2>& in, uint16_t* out, size_t count) {
    ForEachLane(StitchLanes(), count, out, mask, in[0], in[1]);
}

void Stitch3Impl(const uint16_t* mask, const Planes<3>& in, uint16_t* out, size_t count) {
    ForEachLane(StitchLanes(), count, out, mask, in[0], in[1], in[2]);
}

void Stitch4Impl(const uint16_t* mask, const Planes<4>& in, uint16_t* out, size_t count) {
    ForEachLane(StitchLanes(), count, out, mask, in[0], in[1], in[2], in[3]);
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace kyr::kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kyr::kernels {

HWY_EXPORT(Saturation1Impl);
HWY_EXPORT(Saturation4Impl);
HWY_EXPORT(MinAmplitudeMaskImpl);
HWY_EXPORT(MinAmplitudeImpl);
HWY_EXPORT(Max2Impl);
HWY_EXPORT(Max3Impl);
HWY_EXPORT(Max4Impl);
HWY_EXPORT(ErrorToZeroImpl);
HWY_EXPORT(HdrSelection2Impl);
HWY_EXPORT(HdrSelection3Impl);
HWY_EXPORT(HdrSelection4Impl);
HWY_EXPORT(Stitch2Impl);
HWY_EXPORT(Stitch3Impl);
HWY_EXPORT(Stitch4Impl);

namespace {

template <size_t N, size_t... I>
bool planesNeedPixelOrder(const uint16_t* out, size_t count, const Planes<N>& planes,
                          std::index_sequence<I...>) {
    return needsPixelOrder(out, count, planes[I]...);
}

template <size_t N>
bool planesNeedPixelOrder(const uint16_t* out, size_t count, const Planes<N>& planes) {
    return planesNeedPixelOrder(out, count, planes, std::make_index_sequence<N>());
}

// The pixel values of the N planes at index i.
template <size_t N>
std::array<uint16_t, N> pixelsAt(const Planes<N>& planes, size_t i) {
    std::array<uint16_t, N> v;
    for (size_t n = 0; n < N; ++n) {
        v[n] = planes[n][i];
    }
    return v;
}

}  // namespace

template <size_t N>
void saturationMask(const Planes<N>& dcs, uint16_t* out, size_t count) {
    static_assert(N == 1 || N == 4);
    if (planesNeedPixelOrder(out, count, dcs)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = saturationPixel(pixelsAt(dcs, i));
        }
    } else if constexpr (N == 1) {
        HWY_DYNAMIC_DISPATCH(Saturation1Impl)(dcs, out, count);
    } else {
        HWY_DYNAMIC_DISPATCH(Saturation4Impl)(dcs, out, count);
    }
}

void minAmplitudeMask(const uint16_t* amplitude, uint16_t minAmp, uint16_t* out, size_t count) {
    if (needsPixelOrder(out, count, amplitude)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = minAmplitudeMaskPixel(amplitude[i], minAmp);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(MinAmplitudeMaskImpl)(amplitude, minAmp, out, count);
}

void minAmplitude(const uint16_t* amplitude, const uint16_t* distance, uint16_t minAmp,
                  uint16_t* out, size_t count) {
    if (needsPixelOrder(out, count, amplitude, distance)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = minAmplitudePixel(amplitude[i], distance[i], minAmp);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(MinAmplitudeImpl)(amplitude, distance, minAmp, out, count);
}

template <size_t N>
void mergeErrorMasks(const Planes<N>& masks, uint16_t* out, size_t count) {
    static_assert(N >= 2 && N <= 4);
    if (planesNeedPixelOrder(out, count, masks)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = mergePixel(pixelsAt(masks, i));
        }
    } else if constexpr (N == 2) {
        HWY_DYNAMIC_DISPATCH(Max2Impl)(masks, out, count);
    } else if constexpr (N == 3) {
        HWY_DYNAMIC_DISPATCH(Max3Impl)(masks, out, count);
    } else {
        HWY_DYNAMIC_DISPATCH(Max4Impl)(masks, out, count);
    }
}

void applyErrorMask(const uint16_t* image, const uint16_t* mask, uint16_t* out, size_t count) {
    if (needsPixelOrder(out, count, image, mask)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = applyErrorMaskPixel(image[i], mask[i]);
        }
        return;
    }
    // The same unsigned maximum as merging two masks.
    HWY_DYNAMIC_DISPATCH(Max2Impl)(Planes<2>{image, mask}, out, count);
}

void errorToZero(const uint16_t* in, uint16_t* out, size_t count) {
    if (needsPixelOrder(out, count, in)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = errorToZeroPixel(in[i]);
        }
        return;
    }
    HWY_DYNAMIC_DISPATCH(ErrorToZeroImpl)(in, out, count);
}

template <size_t N>
void hdrSelection(const Planes<N>& amplitudes, uint16_t* out, size_t count) {
    static_assert(N >= 2 && N <= 4);
    if (planesNeedPixelOrder(out, count, amplitudes)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = hdrSelectionPixel(pixelsAt(amplitudes, i));
        }
    } else if constexpr (N == 2) {
        HWY_DYNAMIC_DISPATCH(HdrSelection2Impl)(amplitudes, out, count);
    } else if constexpr (N == 3) {
        HWY_DYNAMIC_DISPATCH(HdrSelection3Impl)(amplitudes, out, count);
    } else {
        HWY_DYNAMIC_DISPATCH(HdrSelection4Impl)(amplitudes, out, count);
    }
}

template <size_t N>
void stitch(const uint16_t* mask, const Planes<N>& images, uint16_t* out, size_t count) {
    static_assert(N >= 2 && N <= 4);
    if (needsPixelOrder(out, count, mask) || planesNeedPixelOrder(out, count, images)) {
        for (size_t i = 0; i < count; ++i) {
            out[i] = images[stitchSource<N>(mask[i])][i];
        }
    } else if constexpr (N == 2) {
        HWY_DYNAMIC_DISPATCH(Stitch2Impl)(mask, images, out, count);
    } else if constexpr (N == 3) {
        HWY_DYNAMIC_DISPATCH(Stitch3Impl)(mask, images, out, count);
    } else {
        HWY_DYNAMIC_DISPATCH(Stitch4Impl)(mask, images, out, count);
    }
}

template void saturationMask<1>(const Planes<1>&, uint16_t*, size_t);
template void saturationMask<4>(const Planes<4>&, uint16_t*, size_t);
template void mergeErrorMasks<2>(const Planes<2>&, uint16_t*, size_t);
template void mergeErrorMasks<3>(const Planes<3>&, uint16_t*, size_t);
template void mergeErrorMasks<4>(const Planes<4>&, uint16_t*, size_t);
template void hdrSelection<2>(const Planes<2>&, uint16_t*, size_t);
template void hdrSelection<3>(const Planes<3>&, uint16_t*, size_t);
template void hdrSelection<4>(const Planes<4>&, uint16_t*, size_t);
template void stitch<2>(const uint16_t*, const Planes<2>&, uint16_t*, size_t);
template void stitch<3>(const uint16_t*, const Planes<3>&, uint16_t*, size_t);
template void stitch<4>(const uint16_t*, const Planes<4>&, uint16_t*, size_t);

}  // namespace kyr::kernels
#endif  // HWY_ONCE
