// Vector forms of the spatial kernels for the interior of an image. This file
// is compiled once per instruction set (foreach_target); the first call picks
// the best one the CPU supports.
//
// The interior is done row by row. Each vector step computes the output
// pixels of one vector from the windows around them, loading every window
// position as a vector of the pixels beside each other; the last step of a
// row overlaps the one before it (outputs are written from inputs only, so
// computing a pixel twice is harmless), and a row narrower than one vector
// goes through the same step on zero-padded copies of its rows.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "optimized/filterKernels.cpp"
#include "optimized/filterKernels.h"

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/stages/filters/kernelWindow.h"

HWY_BEFORE_NAMESPACE();
namespace kyr::kernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// ------------------------------------------------------------- Row loop

// A Step provides
//   static constexpr size_t RADIUS       N / 2
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

// Runs `step` over the interior pixels RADIUS <= x < width - RADIUS,
// RADIUS <= y < height - RADIUS; nothing when there are none.
template <class Step, typename T>
void FilterRows(const Step& step, const T* in, T* out, size_t width, size_t height) {
    constexpr size_t R = Step::RADIUS;
    constexpr size_t N = 2 * R + 1;
    using D = typename Step::Tag;
    constexpr size_t MAX_LANES = hn::MaxLanes(D());
    const D d;
    if (width < N || height < N) {
        return;
    }
    const size_t lanes = hn::Lanes(d);
    const size_t end = width - R;  // past the last interior column
    for (size_t y = R; y + R < height; ++y) {
        const T* rows[N];
        for (size_t r = 0; r < N; ++r) {
            rows[r] = in + (y - R + r) * width;
        }
        T* row = out + y * width;
        if (end - R >= lanes) {
            size_t x = R;
            for (; x + lanes <= end; x += lanes) {
                RunAt(step, d, rows, x, row);
            }
            if (x < end) {
                RunAt(step, d, rows, end - lanes, row);
            }
            continue;
        }
        // Narrower than one vector: the rows padded with zeros.
        HWY_ALIGN T pad[N][MAX_LANES + 2 * R] = {};
        HWY_ALIGN T padOut[MAX_LANES + 2 * R] = {};
        const T* padRows[N];
        for (size_t r = 0; r < N; ++r) {
            std::memcpy(pad[r], rows[r], width * sizeof(T));
            padRows[r] = pad[r];
        }
        RunAt(step, d, padRows, R, padOut);
        std::memcpy(row + R, padOut + R, (end - R) * sizeof(T));
    }
}

// ------------------------------------------------------------- Interiors

// The window rule for the interior, for kernels without a vector form on
// this instruction set.
template <class Kernel>
void ScalarInterior(Kernel& kernel, const typename Kernel::Type* in, typename Kernel::Type* out,
                    size_t width, size_t height) {
    constexpr size_t R = Kernel::size / 2;
    if (width < Kernel::size || height < Kernel::size) {
        return;
    }
    filterRegion(kernel, in, out, width, height, R, width - R, R, height - R);
}

template <class Kernel>
void Interior(Kernel& kernel, const typename Kernel::Type* in, typename Kernel::Type* out,
              size_t width, size_t height) {
    ScalarInterior(kernel, in, out, width, height);
}

#define KYR_DEFINE_INTERIOR(NAME, ...)                                                            \
    void Interior##NAME(__VA_ARGS__& kernel, const __VA_ARGS__::Type* in, __VA_ARGS__::Type* out, \
                        size_t width, size_t height) {                                            \
        Interior(kernel, in, out, width, height);                                                 \
    }
KYR_FILTER_CATALOGUE(KYR_DEFINE_INTERIOR)
#undef KYR_DEFINE_INTERIOR

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace kyr::kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kyr::kernels {

#define KYR_DISPATCH_INTERIOR(NAME, ...)                                              \
    HWY_EXPORT(Interior##NAME);                                                       \
    static void filterInterior(__VA_ARGS__& kernel, const __VA_ARGS__::Type* in,      \
                               __VA_ARGS__::Type* out, size_t width, size_t height) { \
        HWY_DYNAMIC_DISPATCH(Interior##NAME)(kernel, in, out, width, height);         \
    }
KYR_FILTER_CATALOGUE(KYR_DISPATCH_INTERIOR)
#undef KYR_DISPATCH_INTERIOR

template <class Kernel>
void filterImage(Kernel& kernel, const typename Kernel::Type* in, typename Kernel::Type* out,
                 size_t width, size_t height) {
    if (width == 0 || height == 0) {
        return;
    }
    filterBorder(kernel, in, out, width, height);
    filterInterior(kernel, in, out, width, height);
}

#define KYR_INSTANTIATE_FILTER_IMAGE(NAME, ...)                                    \
    template void filterImage<__VA_ARGS__>(__VA_ARGS__&, const __VA_ARGS__::Type*, \
                                           __VA_ARGS__::Type*, size_t, size_t);
KYR_FILTER_CATALOGUE(KYR_INSTANTIATE_FILTER_IMAGE)
#undef KYR_INSTANTIATE_FILTER_IMAGE

}  // namespace kyr::kernels
#endif  // HWY_ONCE
