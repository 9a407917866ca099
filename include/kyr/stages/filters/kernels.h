// Spatial kernels: each computes one output pixel from the N x N window
// around it. A window holds N * N values in row-major order; element
// r * N + c is the pixel at row offset r - (N - 1) / 2 and column offset
// c - (N - 1) / 2 from the centre (for N = 3: w[4] the centre, w[1] above,
// w[7] below, w[3] left, w[5] right).
//
// `apply` is the per-pixel rule of the kernel filters (KernelFilter); their
// vector forms give the same result for every window. Floating-point rules
// are written as single operations in the order given and assume that the
// compiler does not contract a product and a sum into one fused operation
// (the library builds its filters with -ffp-contract=off).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "kyr/image.h"
#include "kyr/stages/filters/medianNetworks.h"

namespace kyr::kernels {

// The low 32 bits of f truncated toward zero, as a two's complement value:
// exact for every finite float (for large ones as if computed with unbounded
// integers); NaN and infinities give 0.
inline int32_t truncatedLow32(float f) {
    if (!std::isfinite(f)) {
        return 0;
    }
    if (std::fabs(f) < 2147483648.0f) {
        return static_cast<int32_t>(f);
    }
    if (std::fabs(f) < 9223372036854775808.0f) {
        return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(f)));
    }
    return 0;  // |f| >= 2^63 is a multiple of 2^40
}

// The low 16 bits of f truncated toward zero; NaN and infinities give 0.
inline uint16_t truncatedLow16(float f) {
    return static_cast<uint16_t>(truncatedLow32(f));
}

// Coefficient sets, row by row, top row first.
inline constexpr int sharpen[9] = {0, -1, 0, -1, 5, -1, 0, -1, 0};
inline constexpr int lsobel[9] = {-1, 0, 1, -2, 0, 2, -1, 0, 1};
inline constexpr int rsobel[9] = {1, 0, -1, 2, 0, -2, 1, 0, -1};
inline constexpr int usobel[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
inline constexpr int dsobel[9] = {-1, -2, -1, 0, 0, 0, 1, 2, 1};
inline constexpr int edge1[9] = {0, -1, 0, -1, 4, -1, 0, -1, 0};
inline constexpr int edge2[9] = {-1, -1, -1, -1, 8, -1, -1, -1, -1};
inline constexpr float NINTH = 1.0f / 9.0f;  // 0.111111112
inline constexpr float boxf[9] = {NINTH, NINTH, NINTH, NINTH, NINTH, NINTH, NINTH, NINTH, NINTH};
inline constexpr float gaussf[9] = {0.0625f, 0.125f,  0.0625f, 0.125f, 0.25f,
                                    0.125f,  0.0625f, 0.125f,  0.0625f};

// The base of all kernels: N x N windows of T, a display name (the name of
// the filter stage that runs the kernel).
template <typename T, size_t N>
class KernelBase {
    static_assert(N % 2 == 1, "a kernel window has a centre");

public:
    using Type = T;
    static constexpr size_t size = N;

    virtual ~KernelBase() = default;

    // The output pixel for `window` (N * N values); may reorder the window.
    virtual T apply(T* window) = 0;

    const char* name() const { return displayName; }

protected:
    explicit KernelBase(const char* name) : displayName(name) {}
    KernelBase(const KernelBase&) = default;
    KernelBase& operator=(const KernelBase&) = default;

private:
    const char* displayName;
};

// sum K[i] * v(w[i]) in 32-bit signed arithmetic (formed modulo 2^32, so an
// overflowing sum wraps), where v(x) is x for 16-bit pixels and
// truncatedLow32(x) for floats. 16-bit results are the low 16 bits of the
// sum (a negative sum wraps), float results the sum converted to float.
template <typename T, size_t N, const int* K>
class IntegerKernelBase : public KernelBase<T, N> {
    static_assert(std::is_same_v<T, uint16_t> || std::is_same_v<T, float>);

public:
    static constexpr const int* coefficients = K;

    T apply(T* window) override {
        uint32_t sum = 0;
        for (size_t i = 0; i < N * N; ++i) {
            sum += static_cast<uint32_t>(K[i]) * static_cast<uint32_t>(value(window[i]));
        }
        if constexpr (std::is_same_v<T, float>) {
            return static_cast<float>(static_cast<int32_t>(sum));
        } else {
            return static_cast<uint16_t>(sum);
        }
    }

protected:
    using KernelBase<T, N>::KernelBase;

private:
    static int32_t value(uint16_t x) { return x; }
    static int32_t value(float x) { return truncatedLow32(x); }
};

// sum K[i] * float(w[i]) in single precision, in window order starting from
// 0, every product rounded before it is added except the last, which is
// fused into the sum (one rounding). 16-bit results are truncatedLow16 of
// the sum, float results the sum itself.
template <typename T, size_t N, const float* K>
class FloatKernelBase : public KernelBase<T, N> {
    static_assert(std::is_same_v<T, uint16_t> || std::is_same_v<T, float>);

public:
    static constexpr const float* coefficients = K;

    T apply(T* window) override {
        float sum = 0.0f;
        for (size_t i = 0; i + 1 < N * N; ++i) {
            const float product = K[i] * static_cast<float>(window[i]);
            sum = sum + product;
        }
        sum = std::fma(K[N * N - 1], static_cast<float>(window[N * N - 1]), sum);
        if constexpr (std::is_same_v<T, float>) {
            return sum;
        } else {
            return truncatedLow16(sum);
        }
    }

protected:
    using KernelBase<T, N>::KernelBase;
};

// The mean of the window: its sum divided by N * N with integer division
// (truncation). 16-bit pixels sum exactly in 32 bits. Floats sum into a
// 32-bit integer accumulator: starting at 0, each value is added to the
// accumulator in single precision and the result truncated back into it
// (truncatedLow32); the quotient, negative for a negative sum, is returned
// as a float.
template <typename T, size_t N>
class AverageKernel : public KernelBase<T, N> {
    static_assert(N == 3 || N == 5);
    static_assert(std::is_same_v<T, uint16_t> || std::is_same_v<T, float>);

public:
    AverageKernel() : KernelBase<T, N>("Average Filter") {}

    T apply(T* window) override {
        if constexpr (std::is_same_v<T, float>) {
            int32_t sum = 0;
            for (size_t i = 0; i < N * N; ++i) {
                sum = truncatedLow32(static_cast<float>(sum) + window[i]);
            }
            return static_cast<float>(sum / static_cast<int32_t>(N * N));
        } else {
            uint32_t sum = 0;
            for (size_t i = 0; i < N * N; ++i) {
                sum += window[i];
            }
            return static_cast<uint16_t>(sum / (N * N));
        }
    }
};

template <size_t N>
constexpr const auto& medianNetwork() {
    if constexpr (N == 3) {
        return MEDIAN_OF_9;
    } else {
        return MEDIAN_OF_25;
    }
}

// The median of the window (the 5th smallest of 9, the 13th smallest of 25),
// found by the compare-exchange networks MEDIAN_OF_9 and MEDIAN_OF_25. Pixel
// codes rank above every valid value like any other value.
template <typename T, size_t N>
class MedianKernel : public KernelBase<T, N> {
    static_assert(N == 3 || N == 5);

public:
    static constexpr const auto& network = medianNetwork<N>();

    MedianKernel() : KernelBase<T, N>("Median Filter") {}

    static void swap(T& a, T& b) {
        const T t = a;
        a = b;
        b = t;
    }

    // Each exchange as selections rather than a branch on the comparison,
    // which random data would mispredict half of the time.
    T apply(T* window) override {
        for (const Exchange& e : network) {
            const T lo = window[e.lo];
            const T hi = window[e.hi];
            const bool exchange = hi < lo;
            window[e.lo] = exchange ? hi : lo;
            window[e.hi] = exchange ? lo : hi;
        }
        return window[N * N / 2];
    }
};

template <typename T>
class GaussianKernel3x3;

template <>
class GaussianKernel3x3<float> : public FloatKernelBase<float, 3, gaussf> {
public:
    GaussianKernel3x3() : FloatKernelBase("Gaussian Filter") {}
};

// (w0 + 2 w1 + w2 + 2 w3 + 4 w4 + 2 w5 + w6 + 2 w7 + w8) >> 4 in 32-bit
// unsigned arithmetic.
template <>
class GaussianKernel3x3<uint16_t> : public KernelBase<uint16_t, 3> {
public:
    GaussianKernel3x3() : KernelBase("Gaussian Filter") {}

    uint16_t apply(uint16_t* w) override {
        const uint32_t sum = uint32_t{w[0]} + 2u * w[1] + w[2] + 2u * w[3] + 4u * w[4] + 2u * w[5] +
                             w[6] + 2u * w[7] + w[8];
        return static_cast<uint16_t>(sum >> 4);
    }
};

template <typename T>
class SharpenKernel3x3 : public IntegerKernelBase<T, 3, sharpen> {
public:
    SharpenKernel3x3() : IntegerKernelBase<T, 3, sharpen>("Sharpen Filter") {}
};

template <typename T>
class LeftSobelKernel3x3 : public IntegerKernelBase<T, 3, lsobel> {
public:
    LeftSobelKernel3x3() : IntegerKernelBase<T, 3, lsobel>("Left Sobel Filter") {}
};

template <typename T>
class RightSobelKernel3x3 : public IntegerKernelBase<T, 3, rsobel> {
public:
    RightSobelKernel3x3() : IntegerKernelBase<T, 3, rsobel>("Right Sobel Filter") {}
};

template <typename T>
class UpSobelKernel3x3 : public IntegerKernelBase<T, 3, usobel> {
public:
    UpSobelKernel3x3() : IntegerKernelBase<T, 3, usobel>("Up Sobel Filter") {}
};

template <typename T>
class DownSobelKernel3x3 : public IntegerKernelBase<T, 3, dsobel> {
public:
    DownSobelKernel3x3() : IntegerKernelBase<T, 3, dsobel>("Down Sobel Filter") {}
};

// The 4-neighbour Laplacian.
template <typename T>
class Edge1Kernel3x3 : public IntegerKernelBase<T, 3, edge1> {
public:
    Edge1Kernel3x3() : IntegerKernelBase<T, 3, edge1>("Edge Detection Filter") {}
};

// The 8-neighbour Laplacian.
template <typename T>
class Edge2Kernel3x3 : public IntegerKernelBase<T, 3, edge2> {
public:
    Edge2Kernel3x3() : IntegerKernelBase<T, 3, edge2>("Edge Detection Filter") {}
};

template <typename T>
class BoxBlurKernel3x3 : public FloatKernelBase<T, 3, boxf> {
public:
    BoxBlurKernel3x3() : FloatKernelBase<T, 3, boxf>("Box Blur Filter") {}
};

// Flags pixels at depth edges: when the left and right neighbours, or the
// upper and lower ones, differ by more than `threshold`, the pixel becomes
// EDGE_FILTERED (64006); otherwise it keeps its value.
class EdgeFilterKernel : public KernelBase<uint16_t, 3> {
public:
    static constexpr uint16_t DEFAULT_THRESHOLD = 200;

    EdgeFilterKernel() : KernelBase("Edge Filter") {}

    uint16_t apply(uint16_t* w) override {
        const auto dh = static_cast<uint16_t>(w[3] > w[5] ? w[3] - w[5] : w[5] - w[3]);
        const auto dv = static_cast<uint16_t>(w[1] > w[7] ? w[1] - w[7] : w[7] - w[1]);
        return (dh > dv ? dh : dv) > threshold ? uint16_t{ImageBase::EDGE_FILTERED} : w[4];
    }

    uint16_t threshold = DEFAULT_THRESHOLD;
};

}  // namespace kyr::kernels
