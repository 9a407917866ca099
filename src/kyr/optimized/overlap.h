// When a whole-image kernel must fall back to the per-pixel order.
//
// Lane-wise kernels may run in place (output = an input), but an output that
// overlaps an input at another address would let a vector step read values
// that an earlier step of the per-pixel order has already overwritten. Such
// calls take the per-pixel loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace kyr::kernels {

// True when [out, out + outBytes) and [in, in + inBytes) share a byte but do
// not start at the same address.
inline bool shiftedOverlap(const void* out, size_t outBytes, const void* in, size_t inBytes) {
    const auto o = reinterpret_cast<uintptr_t>(out);
    const auto i = reinterpret_cast<uintptr_t>(in);
    if (o == i || outBytes == 0 || inBytes == 0) {
        return false;
    }
    return o < i + inBytes && i < o + outBytes;
}

// True when `count` pixels of `out` written from `count` pixels of each
// input must be computed in pixel order: an input overlaps the output at
// another address, or overlaps it at all while its pixels have another size
// (then even an in-place call would not line the lanes up).
template <typename Out, typename... In>
bool needsPixelOrder(const Out* out, size_t count, const In*... in) {
    const size_t outBytes = count * sizeof(Out);
    const auto conflicts = [&](const auto* input) {
        using T = std::remove_cv_t<std::remove_pointer_t<decltype(input)>>;
        const size_t inBytes = count * sizeof(T);
        if constexpr (sizeof(T) != sizeof(Out)) {
            const auto o = reinterpret_cast<uintptr_t>(out);
            const auto i = reinterpret_cast<uintptr_t>(input);
            return count != 0 && o < i + inBytes && i < o + outBytes;
        } else {
            return shiftedOverlap(out, outBytes, input, inBytes);
        }
    };
    return (conflicts(in) || ...);
}

}  // namespace kyr::kernels
