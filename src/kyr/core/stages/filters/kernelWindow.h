// The window rule of the kernel filters, pixel by pixel: the N x N window
// around (x, y) with every coordinate outside the image clamped to the
// nearest edge (border pixels replicated), passed to the kernel's apply.
// The vector forms take it for the first and last pixels of each row where
// that is cheaper than copying, and are held to it at every pixel.
#pragma once

#include <cstddef>

namespace kyr::kernels {

// min(max(i + offset - radius, 0), count - 1) without leaving size_t.
inline size_t clampedIndex(size_t i, size_t offset, size_t radius, size_t count) {
    if (i + offset < radius) {
        return 0;
    }
    const size_t at = i + offset - radius;
    return at < count ? at : count - 1;
}

// The output pixel at (x, y) of a width x height image (both at least 1).
// The call is not virtual: the kernel is of exactly the type `Kernel`.
template <class Kernel>
inline typename Kernel::Type applyClamped(Kernel& kernel, const typename Kernel::Type* in,
                                          size_t width, size_t height, size_t x, size_t y) {
    constexpr size_t N = Kernel::size;
    constexpr size_t R = N / 2;
    typename Kernel::Type window[N * N];
    for (size_t r = 0; r < N; ++r) {
        const typename Kernel::Type* row = in + clampedIndex(y, r, R, height) * width;
        for (size_t c = 0; c < N; ++c) {
            window[r * N + c] = row[clampedIndex(x, c, R, width)];
        }
    }
    return kernel.Kernel::apply(window);
}

// applyClamped for the pixels x0 <= x < x1, y0 <= y < y1.
template <class Kernel>
void filterRegion(Kernel& kernel, const typename Kernel::Type* in, typename Kernel::Type* out,
                  size_t width, size_t height, size_t x0, size_t x1, size_t y0, size_t y1) {
    for (size_t y = y0; y < y1; ++y) {
        for (size_t x = x0; x < x1; ++x) {
            out[y * width + x] = applyClamped(kernel, in, width, height, x, y);
        }
    }
}

// Every pixel by its clamped window.
template <class Kernel>
void filterByWindows(Kernel& kernel, const typename Kernel::Type* in, typename Kernel::Type* out,
                     size_t width, size_t height) {
    filterRegion(kernel, in, out, width, height, 0, width, 0, height);
}

}  // namespace kyr::kernels
