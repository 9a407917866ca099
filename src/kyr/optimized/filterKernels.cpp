// Vector forms of the spatial kernels for whole rows of an image. This file
// is compiled once per instruction set (foreach_target); the first call picks
// the best one the CPU supports.
//
// The image is done row by row. Rows beyond the top or bottom edge are
// replaced by the nearest row of the image, which is the rule's clamping of
// rows. Each vector step computes the output pixels of one vector from the
// windows around them, loading every window position as a vector of the
// pixels beside each other; the last step of a row overlaps the one before it
// (outputs are written from inputs only, so computing a pixel twice is
// harmless). The first and last N / 2 pixels of a row, whose windows reach
// beyond the left or right edge, and every pixel of an image narrower than a
// vector step, go through the same step on copies of the rows in which the
// columns beyond an edge hold the edge pixel (the rule's clamping of
// columns), or, for kernels whose window rule is cheap, by the window rule.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "optimized/filterKernels.cpp"
#include "optimized/filterKernels.h"

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "core/stages/filters/kernelWindow.h"

HWY_BEFORE_NAMESPACE();
namespace kyr::kernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// ------------------------------------------------------------- Row loop

// A Step provides
//   static constexpr size_t RADIUS       N / 2
//   static constexpr bool REPLICATED_EDGES
//                                        whether the first and last RADIUS
//                                        pixels of a row take the vector step
//                                        on copies of the rows (for kernels
//                                        whose window rule costs more than
//                                        the copies) or the window rule
//   using Tag                            the tag whose lane count is the
//                                        pixels per step
//   void run(Tag d, const T* const* rows, T* out) const
// where rows[r] points into input row y - RADIUS + r at the column of the
// first output pixel, and run writes Lanes(d) pixels to `out`, reading
// rows[r][-RADIUS] ... rows[r][Lanes(d) - 1 + RADIUS].

template <class Step, typename T, size_t N>
HWY_INLINE void RunAt(const Step& step, typename Step::Tag d, const T* const (&rows)[N], size_t x,
                      T* out) {
    const T* at[N];
    for (size_t r = 0; r < N; ++r) {
        at[r] = rows[r] + x;
    }
    step.run(d, at, out + x);
}

// One step for the output pixels x0 ... x0 + Lanes(d) - 1 of a row on
// copies of its window rows in which columns outside the image hold the
// nearest edge pixel (the rule's clamping); the first `count` outputs go to
// the row.
template <class Step, typename T, size_t N>
HWY_INLINE void RunReplicated(const Step& step, typename Step::Tag d, const T* const (&rows)[N],
                              size_t width, size_t x0, size_t count, T* row) {
    constexpr size_t R = Step::RADIUS;
    constexpr size_t SPAN = hn::MaxLanes(typename Step::Tag()) + 2 * R;
    const size_t span = hn::Lanes(d) + 2 * R;
    // Columns x0 - R ... x0 - R + span - 1: `before` of them left of the
    // image, then `inside`, then the rest right of it.
    const size_t before = x0 < R ? R - x0 : 0;
    const size_t from = x0 + before - R;
    const size_t inside = std::min(span - before, width - from);
    HWY_ALIGN T pad[N][SPAN];
    HWY_ALIGN T padOut[SPAN];
    const T* padRows[N];
    for (size_t r = 0; r < N; ++r) {
        std::fill_n(pad[r], before, rows[r][0]);
        std::memcpy(pad[r] + before, rows[r] + from, inside * sizeof(T));
        std::fill(pad[r] + before + inside, pad[r] + span, rows[r][width - 1]);
        padRows[r] = pad[r] + R;
    }
    step.run(d, padRows, padOut);
    std::memcpy(row + x0, padOut, count * sizeof(T));
}

// Runs `step` over every pixel of the image: the columns whose windows stay
// inside the image straight from the rows, the first and last N / 2 columns
// on replicated copies or by the window rule of `kernel`, every column of an
// image narrower than a vector step on replicated copies.
template <class Step, class Kernel, typename T>
void FilterRows(const Step& step, Kernel& kernel, const T* in, T* out, size_t width,
                size_t height) {
    constexpr size_t R = Step::RADIUS;
    constexpr size_t N = 2 * R + 1;
    const typename Step::Tag d;
    const size_t lanes = hn::Lanes(d);
    for (size_t y = 0; y < height; ++y) {
        const T* rows[N];
        for (size_t r = 0; r < N; ++r) {
            rows[r] = in + clampedIndex(y, r, R, height) * width;
        }
        T* row = out + y * width;
        if (width < lanes + 2 * R) {
            for (size_t x = 0; x < width; x += lanes) {
                RunReplicated(step, d, rows, width, x, std::min(lanes, width - x), row);
            }
            continue;
        }
        const size_t end = width - R;  // past the last column without clamping
        size_t x = R;
        for (; x + lanes <= end; x += lanes) {
            RunAt(step, d, rows, x, row);
        }
        if (x < end) {
            RunAt(step, d, rows, end - lanes, row);
        }
        for (size_t e = 0; e < R; e += Step::REPLICATED_EDGES ? lanes : 1) {
            if constexpr (Step::REPLICATED_EDGES) {
                RunReplicated(step, d, rows, width, e, std::min(lanes, R - e), row);
                RunReplicated(step, d, rows, width, end + e, std::min(lanes, R - e), row);
            } else {
                row[e] = applyClamped(kernel, in, width, height, e, y);
                row[end + e] = applyClamped(kernel, in, width, height, end + e, y);
            }
        }
    }
}

// ------------------------------------------------------- Window values

// The N * N window values of one vector step, one vector per window
// position. Vectors of scalable instruction sets cannot be array elements;
// there they are kept in memory.
template <class D, size_t COUNT>
struct WindowLanes {
    using V = hn::Vec<D>;
    // (User-provided, so that it is compiled for the instruction set.)
    HWY_INLINE WindowLanes() {}  // NOLINT(modernize-use-equals-default)
#if HWY_HAVE_SCALABLE
    static constexpr size_t STRIDE = hn::MaxLanes(D());
    HWY_ALIGN hn::TFromD<D> lanes[COUNT * STRIDE];
    HWY_INLINE V get(D d, size_t i) const {
        return hn::Load(d, lanes + i * STRIDE);
    }
    HWY_INLINE void set(D d, size_t i, V v) {
        hn::Store(v, d, lanes + i * STRIDE);
    }
#else
    V lanes[COUNT];
    HWY_INLINE V get(D, size_t i) const {
        return lanes[i];
    }
    HWY_INLINE void set(D, size_t i, V v) {
        lanes[i] = v;
    }
#endif
};

// Loads window position I = r * N + c of the step's pixels.
template <size_t N, class D, class Lanes, size_t... I>
HWY_INLINE void LoadWindow(D d, const hn::TFromD<D>* const* rows, Lanes& v,
                           std::index_sequence<I...>) {
    constexpr size_t R = N / 2;
    (v.set(d, I, hn::LoadU(d, rows[I / N] + I % N - R)), ...);
}

// -------------------------------------------------------- Window rule

// The window rule for every pixel, for kernels without a vector form on this
// instruction set.
template <class Kernel>
void ScalarImage(Kernel& kernel, const typename Kernel::Type* in, typename Kernel::Type* out,
                 size_t width, size_t height) {
    filterByWindows(kernel, in, out, width, height);
}

// ------------------------------------------------------------- Median

// One exchange of a network, lane by lane with the scalar rule's meaning:
// the two values change places where hi < lo. For integers that is min and
// max; for floats it is spelt out, because the min and max instructions of
// the instruction sets treat NaN and the two zeros differently. Outputs
// nobody reads are not computed.
template <Exchange E, class D, class Lanes>
HWY_INLINE void ExchangeLanes(D d, Lanes& v) {
    const auto lo = v.get(d, E.lo);
    const auto hi = v.get(d, E.hi);
    if constexpr (hwy::IsFloat<hn::TFromD<D>>()) {
        const auto swap = hn::Lt(hi, lo);
        if constexpr (E.loUsed) v.set(d, E.lo, hn::IfThenElse(swap, hi, lo));
        if constexpr (E.hiUsed) v.set(d, E.hi, hn::IfThenElse(swap, lo, hi));
    } else {
        if constexpr (E.loUsed) v.set(d, E.lo, hn::Min(lo, hi));
        if constexpr (E.hiUsed) v.set(d, E.hi, hn::Max(lo, hi));
    }
}

template <const auto& NETWORK, class D, class Lanes, size_t... S>
HWY_INLINE void RunNetwork(D d, Lanes& v, std::index_sequence<S...>) {
    (ExchangeLanes<NETWORK[S]>(d, v), ...);
}

// The median networks of MedianKernel on the window lanes.
template <typename T, size_t N>
struct MedianStep {
    static constexpr size_t RADIUS = N / 2;
    static constexpr bool REPLICATED_EDGES = N == 5 || std::is_same_v<T, uint16_t>;
    using Tag = hn::ScalableTag<T>;
    static constexpr const auto& NETWORK = MedianKernel<T, N>::network;

    HWY_INLINE void run(Tag d, const T* const* rows, T* out) const {
        WindowLanes<Tag, N * N> v;
        LoadWindow<N>(d, rows, v, std::make_index_sequence<N * N>());
        RunNetwork<NETWORK>(d, v, std::make_index_sequence<NETWORK.size()>());
        hn::StoreU(v.get(d, N * N / 2), d, out);
    }
};

template <typename T, size_t N>
void Filter(MedianKernel<T, N>& kernel, const T* in, T* out, size_t width, size_t height) {
    FilterRows(MedianStep<T, N>(), kernel, in, out, width, height);
}

// ------------------------------------------------- Integer coefficients

// One term K * v of an integer kernel, by shift and add where K is a small
// power of two. Lanes wrap modulo 2^bits.
template <int K, class V>
HWY_INLINE V AddTerm(V sum, V v) {
    if constexpr (K == 0) {
        return sum;
    } else if constexpr (K == 1) {
        return hn::Add(sum, v);
    } else if constexpr (K == -1) {
        return hn::Sub(sum, v);
    } else if constexpr (K == 2) {
        return hn::Add(sum, hn::ShiftLeft<1>(v));
    } else if constexpr (K == -2) {
        return hn::Sub(sum, hn::ShiftLeft<1>(v));
    } else if constexpr (K == 4) {
        return hn::Add(sum, hn::ShiftLeft<2>(v));
    } else if constexpr (K == 8) {
        return hn::Add(sum, hn::ShiftLeft<3>(v));
    } else {
        using T = hn::TFromV<V>;
        return hn::Add(sum, hn::Mul(v, hn::Set(hn::DFromV<V>(), static_cast<T>(K))));
    }
}

// truncatedLow32 per lane. Lanes within the 32-bit range convert directly;
// otherwise every step below is exact for every finite float:
//   t = f / 2^32 (a power-of-two scaling; lanes so small that it underflows
//   are below 1 and truncate to 0 either way), r = (t - trunc(t)) * 2^32 is
//   f minus a multiple of 2^32 with |r| < 2^32 and f's sign; moving r into
//   [-2^31, 2^31) by 2^32 is exact because r is then a multiple of 2^8;
//   |f| >= 2^31 is an integer, so truncating r gives the low 32 bits of f.
// NaN and infinities give NaN for r, replaced by 0.
template <class DF>
HWY_INLINE hn::Vec<hn::RebindToSigned<DF>> TruncatedLow32(DF df, hn::Vec<DF> f) {
    const hn::RebindToSigned<DF> di;
    const auto limit = hn::Set(df, 2147483648.0f);
    if (HWY_LIKELY(hn::AllTrue(df, hn::Lt(hn::Abs(f), limit)))) {
        return hn::ConvertTo(di, f);
    }
    const auto turn = hn::Set(df, 4294967296.0f);
    const auto t = hn::Mul(f, hn::Set(df, 1.0f / 4294967296.0f));
    auto rest = hn::Mul(hn::Sub(t, hn::Trunc(t)), turn);
    rest = hn::IfThenElse(hn::Ge(rest, limit), hn::Sub(rest, turn), rest);
    rest = hn::IfThenElse(hn::Lt(rest, hn::Neg(limit)), hn::Add(rest, turn), rest);
    return hn::ConvertTo(di, hn::IfThenZeroElse(hn::IsNaN(rest), rest));
}

// sum K[i] * v(w[i]): on 16-bit pixels in 16-bit lanes, since the low 16
// bits of a sum of products depend only on the low 16 bits of its terms; on
// floats in 32-bit lanes of the wrapped values. Integer sums are exact in
// any order.
template <typename T, const int* K>
struct IntegerStep {
    static constexpr size_t RADIUS = 1;
    static constexpr bool REPLICATED_EDGES = false;
    using Tag = hn::ScalableTag<T>;

    HWY_INLINE void run(Tag d, const T* const* rows, T* out) const {
        if constexpr (std::is_same_v<T, float>) {
            const auto sum =
                Sum(d, rows, hn::Zero(hn::RebindToSigned<Tag>()), std::make_index_sequence<9>());
            hn::StoreU(hn::ConvertTo(d, sum), d, out);
        } else {
            hn::StoreU(Sum(d, rows, hn::Zero(d), std::make_index_sequence<9>()), d, out);
        }
    }

private:
    template <size_t I, class V>
    HWY_INLINE V AddTermAt(Tag d, const T* const* rows, V sum) const {
        if constexpr (K[I] == 0) {
            return sum;
        } else {
            const auto v = hn::LoadU(d, rows[I / 3] + I % 3 - 1);
            if constexpr (std::is_same_v<T, float>) {
                return AddTerm<K[I]>(sum, TruncatedLow32(d, v));
            } else {
                return AddTerm<K[I]>(sum, v);
            }
        }
    }
    template <class V, size_t... I>
    HWY_INLINE V Sum(Tag d, const T* const* rows, V sum, std::index_sequence<I...>) const {
        ((sum = AddTermAt<I>(d, rows, sum)), ...);
        return sum;
    }
};

template <typename T, size_t N, const int* K>
void Filter(IntegerKernelBase<T, N, K>& kernel, const T* in, T* out, size_t width, size_t height) {
    static_assert(N == 3);
    FilterRows(IntegerStep<T, K>(), kernel, in, out, width, height);
}

// ------------------------------------------------------------- Average

// floor(a / 9) and floor(a / 25) for every unsigned 32-bit a, as the high
// half of a 64-bit product: floor(a * M / 2^(32 + s)) with M = ceil(2^(32 + s)
// / d) < 2^32 (d = 9: s = 3, M = 3817748708, M * d = 2^35 + 4; d = 25: s = 4,
// M = 2748779070, M * d = 2^36 + 14). Exact: with e = M * d - 2^(32 + s),
//   a * M / 2^(32 + s) = a / d + e * a / (d * 2^(32 + s)),
// where the fractional part of a / d is at most (d - 1) / d and the second
// term is below 1 / d when e * a < 2^(32 + s), that is for a < 2^33 (d = 9)
// and a < 2^36 / 14 (d = 25), both beyond 2^32; so the sum stays below the
// next integer.
template <size_t D>
struct DivisionByConstant;
template <>
struct DivisionByConstant<9> {
    static constexpr uint32_t MULTIPLIER = 3817748708u;
    static constexpr int SHIFT = 3;
};
template <>
struct DivisionByConstant<25> {
    static constexpr uint32_t MULTIPLIER = 2748779070u;
    static constexpr int SHIFT = 4;
};
static_assert(uint64_t{DivisionByConstant<9>::MULTIPLIER} * 9 == (uint64_t{1} << 35) + 4);
static_assert(uint64_t{DivisionByConstant<25>::MULTIPLIER} * 25 == (uint64_t{1} << 36) + 14);

template <size_t DIVISOR, class DU>
HWY_INLINE hn::Vec<DU> DivideBy(DU du, hn::Vec<DU> a) {
    using Division = DivisionByConstant<DIVISOR>;
#if HWY_TARGET == HWY_SCALAR
    const auto high =
        hn::Set(du, static_cast<uint32_t>((uint64_t{hn::GetLane(a)} * Division::MULTIPLIER) >> 32));
#else
    // The products of the even lanes, then of the odd lanes moved down; the
    // high halves of the odd products are already in the odd lanes.
    const hn::Repartition<uint64_t, DU> d64;
    const auto m = hn::Set(du, Division::MULTIPLIER);
    const auto even = hn::MulEven(a, m);
    const auto odd = hn::MulEven(hn::BitCast(du, hn::ShiftRight<32>(hn::BitCast(d64, a))), m);
    const auto high = hn::OddEven(hn::BitCast(du, odd), hn::BitCast(du, hn::ShiftRight<32>(even)));
#endif
    return hn::ShiftRight<Division::SHIFT>(high);
}

// 16-bit pixels: the exact sum (at most 25 * 65535 < 2^21) in 32-bit lanes.
// Floats: the accumulator steps of the rule lane by lane, in window order,
// then the quotient truncated toward zero: the magnitude's floor quotient
// with the sign put back (the magnitude of -2^31 is 2^31 as unsigned).
template <typename T, size_t N>
struct AverageStep {
    static constexpr size_t RADIUS = N / 2;
    static constexpr bool REPLICATED_EDGES = N == 5;
    using Tag = std::conditional_t<std::is_same_v<T, float>, hn::ScalableTag<float>,
                                   hn::ScalableTag<int32_t>>;

    template <size_t... I>
    HWY_INLINE void run(Tag d, const T* const* rows, T* out, std::index_sequence<I...>) const {
        const hn::RebindToUnsigned<Tag> du;
        if constexpr (std::is_same_v<T, float>) {
            const hn::RebindToSigned<Tag> di;
            auto sum = hn::Zero(di);
            ((sum = TruncatedLow32(
                  d, hn::Add(hn::ConvertTo(d, sum), hn::LoadU(d, rows[I / N] + I % N - RADIUS)))),
             ...);
            const auto negative = hn::Lt(sum, hn::Zero(di));
            const auto bits = hn::BitCast(du, sum);
            const auto magnitude =
                hn::IfThenElse(hn::RebindMask(du, negative), hn::Sub(hn::Zero(du), bits), bits);
            const auto quotient = DivideBy<N * N>(du, magnitude);
            const auto result = hn::IfThenElse(hn::RebindMask(du, negative),
                                               hn::Sub(hn::Zero(du), quotient), quotient);
            hn::StoreU(hn::ConvertTo(d, hn::BitCast(di, result)), d, out);
        } else {
            const hn::Rebind<uint16_t, Tag> d16;
            auto sum = hn::Zero(d);
            ((sum = hn::Add(sum, hn::PromoteTo(d, hn::LoadU(d16, rows[I / N] + I % N - RADIUS)))),
             ...);
            const auto quotient = DivideBy<N * N>(du, hn::BitCast(du, sum));
            hn::StoreU(hn::DemoteTo(d16, hn::BitCast(d, quotient)), d16, out);
        }
    }
    HWY_INLINE void run(Tag d, const T* const* rows, T* out) const {
        run(d, rows, out, std::make_index_sequence<N * N>());
    }
};

template <typename T, size_t N>
void Filter(AverageKernel<T, N>& kernel, const T* in, T* out, size_t width, size_t height) {
    FilterRows(AverageStep<T, N>(), kernel, in, out, width, height);
}

// ------------------------------------------------------------ Gaussian

// (corners + 2 edges + 4 centre) >> 4 in 32-bit lanes (at most 16 * 65535).
struct GaussianStep {
    static constexpr size_t RADIUS = 1;
    static constexpr bool REPLICATED_EDGES = false;
    using Tag = hn::ScalableTag<int32_t>;

    HWY_INLINE void run(Tag d, const uint16_t* const* rows, uint16_t* out) const {
        const hn::Rebind<uint16_t, Tag> d16;
        const auto at = [&](size_t r, size_t c)
                            HWY_ATTR { return hn::PromoteTo(d, hn::LoadU(d16, rows[r] + c - 1)); };
        const auto corners = hn::Add(hn::Add(at(0, 0), at(0, 2)), hn::Add(at(2, 0), at(2, 2)));
        const auto edges = hn::Add(hn::Add(at(0, 1), at(1, 0)), hn::Add(at(1, 2), at(2, 1)));
        const auto sum =
            hn::Add(hn::Add(corners, hn::ShiftLeft<1>(edges)), hn::ShiftLeft<2>(at(1, 1)));
        hn::StoreU(hn::DemoteTo(d16, hn::ShiftRight<4>(sum)), d16, out);
    }
};

void Filter(GaussianKernel3x3<uint16_t>& kernel, const uint16_t* in, uint16_t* out, size_t width,
            size_t height) {
    FilterRows(GaussianStep(), kernel, in, out, width, height);
}

// ---------------------------------------------------------- Edge filter

// max(|w3 - w5|, |w1 - w7|) > threshold in 16-bit lanes (|a - b| as
// max - min).
struct EdgeStep {
    static constexpr size_t RADIUS = 1;
    static constexpr bool REPLICATED_EDGES = false;
    using Tag = hn::ScalableTag<uint16_t>;
    uint16_t threshold;

    HWY_INLINE void run(Tag d, const uint16_t* const* rows, uint16_t* out) const {
        const auto up = hn::LoadU(d, rows[0]);
        const auto left = hn::LoadU(d, rows[1] - 1);
        const auto centre = hn::LoadU(d, rows[1]);
        const auto right = hn::LoadU(d, rows[1] + 1);
        const auto down = hn::LoadU(d, rows[2]);
        const auto dh = hn::Sub(hn::Max(left, right), hn::Min(left, right));
        const auto dv = hn::Sub(hn::Max(up, down), hn::Min(up, down));
        const auto edge = hn::Gt(hn::Max(dh, dv), hn::Set(d, threshold));
        hn::StoreU(hn::IfThenElse(edge, hn::Set(d, uint16_t{ImageBase::EDGE_FILTERED}), centre), d,
                   out);
    }
};

void Filter(EdgeFilterKernel& kernel, const uint16_t* in, uint16_t* out, size_t width,
            size_t height) {
    FilterRows(EdgeStep{kernel.threshold}, kernel, in, out, width, height);
}

// ------------------------------------------------- Float coefficients

#if HWY_NATIVE_FMA

// The rule's single-precision operations lane by lane, in its order: from
// 0, each product rounded and added, the last one fused into the sum. 16-bit
// pixels convert to float exactly.
template <typename T, const float* K>
struct FloatStep {
    static constexpr size_t RADIUS = 1;
    static constexpr bool REPLICATED_EDGES = false;
    using Tag = hn::ScalableTag<float>;

    template <size_t... I>
    HWY_INLINE void run(Tag d, const T* const* rows, T* out, std::index_sequence<I...>) const {
        auto sum = hn::Zero(d);
        ((sum = hn::Add(sum, hn::Mul(hn::Set(d, K[I]), At<I>(d, rows)))), ...);
        sum = hn::MulAdd(hn::Set(d, K[8]), At<8>(d, rows), sum);
        if constexpr (std::is_same_v<T, float>) {
            hn::StoreU(sum, d, out);
        } else {
            const hn::RebindToSigned<Tag> di;
            const hn::Rebind<uint16_t, Tag> d16;
            const auto low = hn::And(TruncatedLow32(d, sum), hn::Set(di, 0xFFFF));
            hn::StoreU(hn::DemoteTo(d16, low), d16, out);
        }
    }
    HWY_INLINE void run(Tag d, const T* const* rows, T* out) const {
        run(d, rows, out, std::make_index_sequence<8>());
    }

private:
    template <size_t I>
    static HWY_INLINE hn::Vec<Tag> At(Tag d, const T* const* rows) {
        if constexpr (std::is_same_v<T, float>) {
            return hn::LoadU(d, rows[I / 3] + I % 3 - 1);
        } else {
            const hn::RebindToSigned<Tag> di;
            const hn::Rebind<uint16_t, Tag> d16;
            return hn::ConvertTo(d, hn::PromoteTo(di, hn::LoadU(d16, rows[I / 3] + I % 3 - 1)));
        }
    }
};

#endif

// Without a fused multiply-add instruction the rule's last step has no
// exact vector form; the rows then take the window rule.
template <typename T, size_t N, const float* K>
void Filter(FloatKernelBase<T, N, K>& kernel, const T* in, T* out, size_t width, size_t height) {
    static_assert(N == 3);
#if HWY_NATIVE_FMA
    FilterRows(FloatStep<T, K>(), kernel, in, out, width, height);
#else
    ScalarImage(kernel, in, out, width, height);
#endif
}

// ----------------------------------------------------------- Dispatch

#define KYR_DEFINE_FILTER(NAME, ...)                                                            \
    void Filter##NAME(__VA_ARGS__& kernel, const __VA_ARGS__::Type* in, __VA_ARGS__::Type* out, \
                      size_t width, size_t height) {                                            \
        Filter(kernel, in, out, width, height);                                                 \
    }
KYR_FILTER_CATALOGUE(KYR_DEFINE_FILTER)
#undef KYR_DEFINE_FILTER

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace kyr::kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kyr::kernels {

#define KYR_DISPATCH_FILTER(NAME, ...)                                                \
    HWY_EXPORT(Filter##NAME);                                                         \
    static void dispatchFilter(__VA_ARGS__& kernel, const __VA_ARGS__::Type* in,      \
                               __VA_ARGS__::Type* out, size_t width, size_t height) { \
        HWY_DYNAMIC_DISPATCH(Filter##NAME)(kernel, in, out, width, height);           \
    }
KYR_FILTER_CATALOGUE(KYR_DISPATCH_FILTER)
#undef KYR_DISPATCH_FILTER

template <class Kernel>
void filterImage(Kernel& kernel, const typename Kernel::Type* in, typename Kernel::Type* out,
                 size_t width, size_t height) {
    if (width == 0 || height == 0) {
        return;
    }
    dispatchFilter(kernel, in, out, width, height);
}

#define KYR_INSTANTIATE_FILTER_IMAGE(NAME, ...)                                    \
    template void filterImage<__VA_ARGS__>(__VA_ARGS__&, const __VA_ARGS__::Type*, \
                                           __VA_ARGS__::Type*, size_t, size_t);
KYR_FILTER_CATALOGUE(KYR_INSTANTIATE_FILTER_IMAGE)
#undef KYR_INSTANTIATE_FILTER_IMAGE

}  // namespace kyr::kernels
#endif  // HWY_ONCE
