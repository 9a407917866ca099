// The spatial kernels: their rules against the worked values and their
// meaning (the median networks select the median of every input), and the
// whole-image forms against the clamped window rule at every pixel, bit for
// bit, on every instruction set compiled in and supported by this CPU.
#include "optimized/filterKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/stages/filters/kernelWindow.h"
#include "support/hwy_targets.h"

namespace {

using namespace kyr::kernels;
using testsupport::forEachTarget;

// Unoptimised (sanitizer) builds take fewer images and every THIN-th value
// of the long sweeps.
#ifdef NDEBUG
constexpr size_t THIN = 1;
#else
constexpr size_t THIN = 13;
#endif

const float NaN = std::numeric_limits<float>::quiet_NaN();
const float INF = std::numeric_limits<float>::infinity();

// Equal bits, or both NaN (a sum's NaN may carry either operand's payload).
template <typename T>
bool same(T a, T b) {
    if constexpr (std::is_same_v<T, float>) {
        return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b) ||
               (std::isnan(a) && std::isnan(b));
    } else {
        return a == b;
    }
}

template <class Kernel>
typename Kernel::Type applyTo(std::vector<typename Kernel::Type> window, Kernel kernel = {}) {
    return kernel.apply(window.data());
}

// ------------------------------------------------------------ Rules

TEST(FilterRules, WorkedValues) {
    using W = std::vector<uint16_t>;
    W ramp(9);
    std::iota(ramp.begin(), ramp.end(), 0);
    EXPECT_EQ((applyTo<AverageKernel<uint16_t, 3>>(ramp)), 4);
    EXPECT_EQ((applyTo<AverageKernel<uint16_t, 3>>({0, 0, 0, 0, 8, 0, 0, 0, 0})), 0);
    // Nine products 3 * 0.111111112 summed in single precision fall below 3.
    EXPECT_EQ(applyTo<BoxBlurKernel3x3<uint16_t>>(W(9, 3)), 2);
    // Left column brighter than the right one: -2, whose low 16 bits are 65534.
    EXPECT_EQ(applyTo<LeftSobelKernel3x3<uint16_t>>({1, 5, 0, 1, 5, 0, 0, 5, 1}), 65534);
    EXPECT_EQ(applyTo<LeftSobelKernel3x3<float>>({1, 5, 0, 1, 5, 0, 0, 5, 1}), -2.0f);
    W codes(9, 1000);
    codes[2] = 64001;
    EXPECT_EQ((applyTo<MedianKernel<uint16_t, 3>>(codes)), 1000);
    std::fill_n(codes.begin(), 5, 64001);
    EXPECT_EQ((applyTo<MedianKernel<uint16_t, 3>>(codes)), 64001);

    EdgeFilterKernel edge;
    EXPECT_EQ(edge.threshold, 200);
    const W at200 = {500, 100, 500, 100, 7, 300, 500, 300, 500};
    const W at201 = {500, 100, 500, 100, 7, 301, 500, 300, 500};
    const W vertical201 = {500, 301, 500, 9, 7, 9, 500, 100, 500};
    EXPECT_EQ(applyTo(at200, edge), 7);
    EXPECT_EQ(applyTo(at201, edge), 64006);
    EXPECT_EQ(applyTo(vertical201, edge), 64006);
    edge.threshold = 201;
    EXPECT_EQ(applyTo(at201, edge), 7);
}

TEST(FilterRules, FloatConversionsAndAccumulation) {
    const std::pair<float, int32_t> cases[] = {
        {1.75f, 1},
        {-1.75f, -1},
        {-0.0f, 0},
        {2147483520.0f, 2147483520},
        {2147483648.0f, std::numeric_limits<int32_t>::min()},
        {-2147483648.0f, std::numeric_limits<int32_t>::min()},
        {3e9f, static_cast<int32_t>(3000000000u)},
        {-3e9f, 1294967296},
        {1099511758848.0f, 131072},  // 2^40 + 2^17
        {1e30f, 0},
        {NaN, 0},
        {INF, 0},
        {-INF, 0},
    };
    for (const auto& [f, low] : cases) EXPECT_EQ(truncatedLow32(f), low) << f;
    EXPECT_EQ(truncatedLow16(-2.5f), 65534);
    EXPECT_EQ(truncatedLow16(65536.0f + 7.0f), 7);

    // The float average: each step truncates into the integer accumulator;
    // negative sums give the truncated negative quotient.
    using F = std::vector<float>;
    EXPECT_EQ((applyTo<AverageKernel<float, 3>>(F(9, 0.9f))), 0.0f);
    EXPECT_EQ((applyTo<AverageKernel<float, 3>>(F(9, -1.9f))), -1.0f);  // -9 / 9
    EXPECT_EQ((applyTo<AverageKernel<float, 3>>(F{-100, 0, 0, 0, 0, 0, 0, 0, 10})), -10.0f);
    EXPECT_EQ((applyTo<AverageKernel<float, 3>>(F{NaN, 9, 9, 9, 9, 9, 9, 9, 9})), 8.0f);
    // 3e9 wraps to -1294967296 in the accumulator.
    EXPECT_EQ((applyTo<AverageKernel<float, 3>>(F{3e9f, 0, 0, 0, 0, 0, 0, 0, 0})),
              static_cast<float>(-1294967296 / 9));
    // Integer kernels take the wrapped value of a float.
    EXPECT_EQ(applyTo<Edge1Kernel3x3<float>>({0, 0, 0, 0, 3e9f, 0, 0, 0, 0}),
              static_cast<float>(static_cast<int32_t>(4 * 3000000000u)));
    // Only the last product is fused into the sum.
    const float fused = std::fma(NINTH, 10.0f, NINTH * 1.0f);
    ASSERT_NE(fused, NINTH * 1.0f + NINTH * 10.0f);
    EXPECT_EQ(applyTo<BoxBlurKernel3x3<float>>({1, 0, 0, 0, 0, 0, 0, 0, 10}), fused);
}

// The 0-1 principle: a compare-exchange network leaves the k-th smallest
// value at a line for every input exactly when it does so for every input of
// zeros and ones. Here all 2^N such inputs, 64 at a time (bit j of a word is
// input 64 * word + j).
template <size_t LINES, class Network>
void expectSelectsMedian(const Network& network) {
    constexpr size_t MID = LINES / 2;
    const uint64_t words = (uint64_t{1} << LINES) / 64;
    for (uint64_t word = 0; word < words; ++word) {
        uint64_t line[LINES];
        for (size_t i = 0; i < LINES; ++i) {
            if (i < 6) {
                uint64_t pattern = 0;
                for (unsigned j = 0; j < 64; ++j) pattern |= uint64_t{(j >> i) & 1u} << j;
                line[i] = pattern;
            } else {
                line[i] = ((word >> (i - 6)) & 1u) != 0 ? ~uint64_t{0} : 0;
            }
        }
        for (const Exchange& e : network) {
            const uint64_t lo = line[e.lo] & line[e.hi];
            line[e.hi] |= line[e.lo];
            line[e.lo] = lo;
        }
        uint64_t expect = 0;
        for (unsigned j = 0; j < 64; ++j) {
            expect |= uint64_t{std::popcount(word * 64 + j) > int{MID}} << j;
        }
        ASSERT_EQ(line[MID], expect) << "inputs from " << word * 64;
    }
}

TEST(FilterRules, MedianNetworksSelectTheMedianOfEveryInput) {
    expectSelectsMedian<9>(MEDIAN_OF_9);
    expectSelectsMedian<25>(MEDIAN_OF_25);
}

// ------------------------------------------------------ Whole images

using Catalogue = ::testing::Types<
    SharpenKernel3x3<uint16_t>, SharpenKernel3x3<float>, LeftSobelKernel3x3<uint16_t>,
    LeftSobelKernel3x3<float>, RightSobelKernel3x3<uint16_t>, RightSobelKernel3x3<float>,
    UpSobelKernel3x3<uint16_t>, UpSobelKernel3x3<float>, DownSobelKernel3x3<uint16_t>,
    DownSobelKernel3x3<float>, Edge1Kernel3x3<uint16_t>, Edge1Kernel3x3<float>,
    Edge2Kernel3x3<uint16_t>, Edge2Kernel3x3<float>, BoxBlurKernel3x3<uint16_t>,
    BoxBlurKernel3x3<float>, GaussianKernel3x3<uint16_t>, GaussianKernel3x3<float>,
    AverageKernel<uint16_t, 3>, AverageKernel<float, 3>, AverageKernel<uint16_t, 5>,
    AverageKernel<float, 5>, MedianKernel<uint16_t, 3>, MedianKernel<float, 3>,
    MedianKernel<uint16_t, 5>, MedianKernel<float, 5>, EdgeFilterKernel>;

template <class Kernel>
class WholeImage : public ::testing::Test {};
TYPED_TEST_SUITE(WholeImage, Catalogue);

// Distances around a slowly changing level (both sides of the edge
// threshold), pixel codes and values from the whole 16-bit range.
std::vector<uint16_t> randomPixels(std::mt19937& rng, size_t count, uint16_t*) {
    std::uniform_int_distribution<int> any(0, 65535), code(64000, 65535), kind(0, 7),
        step(-250, 250);
    std::vector<uint16_t> v(count);
    int level = 1000;
    for (uint16_t& p : v) {
        const int k = kind(rng);
        level = std::clamp(level + step(rng) / 8, 0, 63999);
        p = static_cast<uint16_t>(k < 2 ? any(rng) : k < 3 ? code(rng) : level + step(rng) % 251);
    }
    return v;
}

// Fractions of both signs, integers, values beyond the 32-bit range and the
// special values.
std::vector<float> randomPixels(std::mt19937& rng, size_t count, float*) {
    const float special[] = {NaN,      -NaN,   INF,       -INF,    0.0f,     -0.0f,
                             1e-40f,   2.1e9f, 0x1p31,    -0x1p31, 0x1p32,   0x1.8p32,
                             3e9f,     -3e9f,  1e20f,     -1e20f,  65535.5f, -0.5f,
                             16777216, 8.5e6,  0x1p-149f, 1e38f,   -65536,   -0x1.fffffep30};
    std::uniform_real_distribution<float> near(-3000.0f, 3000.0f), far(-1e10f, 1e10f);
    std::uniform_int_distribution<int> kind(0, 15), pick(0, std::size(special) - 1);
    std::vector<float> v(count);
    for (float& p : v) {
        const int k = kind(rng);
        p = k == 0   ? special[pick(rng)]
            : k == 1 ? far(rng)
            : k < 4  ? std::trunc(near(rng))
                     : near(rng);
    }
    return v;
}

struct Size {
    size_t width, height;
};

std::vector<Size> shapes() {
    std::vector<Size> s = {{1, 1}, {1, 9}, {9, 1}, {2, 2}, {3, 3}, {4, 4},  {5, 5},
                           {6, 6}, {2, 7}, {7, 2}, {4, 9}, {9, 4}, {320, 6}};
    // Interior widths around every vector width in use (4 to 32 lanes).
    for (size_t w = 5; w <= 70; w += THIN) s.push_back({w, 5 + w % 3});
    for (size_t w : {127, 130, 133}) s.push_back({w, 7});
    return s;
}

template <class Kernel>
void expectWindowRule(Kernel kernel, const std::vector<typename Kernel::Type>& in, Size size) {
    using T = typename Kernel::Type;
    std::vector<T> expect(in.size());
    filterByWindows(kernel, in.data(), expect.data(), size.width, size.height);
    forEachTarget([&] {
        std::vector<T> out(in.size() + 1, T{7});
        filterImage(kernel, in.data(), out.data(), size.width, size.height);
        for (size_t i = 0; i < in.size(); ++i) {
            ASSERT_TRUE(same(out[i], expect[i]))
                << size.width << " x " << size.height << " pixel (" << i % size.width << ", "
                << i / size.width << "): " << out[i] << " instead of " << expect[i];
        }
        ASSERT_EQ(out.back(), T{7}) << "written past the end";
    });
}

TYPED_TEST(WholeImage, EveryPixelAsItsClampedWindow) {
    using T = typename TypeParam::Type;
    std::mt19937 rng(12345);
    for (const Size size : shapes()) {
        expectWindowRule(TypeParam(), randomPixels(rng, size.width * size.height, (T*)nullptr),
                         size);
    }
    TypeParam kernel;
    filterImage(kernel, static_cast<const T*>(nullptr), static_cast<T*>(nullptr), 0, 0);
}

template <class Kernel>
constexpr bool hasIntegerCoefficients() {
    if constexpr (requires { Kernel::coefficients; }) {
        return std::is_same_v<decltype(Kernel::coefficients), const int* const>;
    }
    return false;
}

// A constant image: c * (sum of the coefficients) under the integer kernels
// (c under sharpen, 0 under the Sobel and edge-detection kernels), c under
// the average, median, Gaussian and edge filters.
TYPED_TEST(WholeImage, ConstantImages) {
    using T = typename TypeParam::Type;
    if constexpr (!std::is_same_v<TypeParam, BoxBlurKernel3x3<T>>) {  // (see WorkedValues)
        for (const int c : {0, 3, 1000, 63999, 64006, 65535}) {
            T expect = static_cast<T>(c);
            if constexpr (hasIntegerCoefficients<TypeParam>()) {
                const int sum =
                    std::accumulate(TypeParam::coefficients, TypeParam::coefficients + 9, 0);
                if (sum != 1) expect = T{0};
            }
            for (const Size size : {Size{7, 6}, Size{70, 5}}) {
                std::vector<T> in(size.width * size.height, static_cast<T>(c)), out(in.size());
                forEachTarget([&] {
                    TypeParam kernel;
                    filterImage(kernel, in.data(), out.data(), size.width, size.height);
                    for (const T v : out) ASSERT_EQ(v, expect) << c;
                });
            }
        }
    }
}

TEST(FilterImage, SharpenCornersSeeTheirReplicatedNeighbours) {
    std::mt19937 rng(7);
    uint16_t* none = nullptr;
    const std::vector<uint16_t> in = randomPixels(rng, 6 * 4, none);
    std::vector<uint16_t> out(in.size());
    SharpenKernel3x3<uint16_t> sharpen;
    filterImage(sharpen, in.data(), out.data(), 6, 4);
    EXPECT_EQ(out[0], static_cast<uint16_t>(3 * in[0] - in[1] - in[6]));
    EXPECT_EQ(out[23], static_cast<uint16_t>(3 * in[23] - in[22] - in[17]));
}

TEST(FilterImage, EdgeFilterThresholds) {
    std::mt19937 rng(99);
    uint16_t* none = nullptr;
    const std::vector<uint16_t> in = randomPixels(rng, 67 * 5, none);
    for (const uint16_t threshold : {0, 1, 200, 201, 64005, 65535}) {
        EdgeFilterKernel edge;
        edge.threshold = threshold;
        expectWindowRule(edge, in, {67, 5});
    }
}

// Every window sum the averages can meet: in an image of N rows whose
// column sums are floor((j + first) / N), the N columns around x sum to
// x - N / 2 + first. The rows split each column sum into pixel values.
template <typename T, size_t N>
void expectEverySum(int64_t first, int64_t count) {
    const auto width = static_cast<size_t>(count + N - 1);
    std::vector<T> in(N * width);
    for (size_t j = 0; j < width; ++j) {
        int64_t column = (static_cast<int64_t>(j) + first) / static_cast<int64_t>(N);
        if (static_cast<int64_t>(j) + first < 0 && (static_cast<int64_t>(j) + first) % N != 0) {
            --column;  // floor
        }
        for (size_t r = 0; r < N; ++r) {
            const int64_t part = r + 1 == N ? column : std::clamp<int64_t>(column, -65535, 65535);
            in[r * width + j] = static_cast<T>(part);
            column -= part;
        }
    }
    std::vector<T> out(in.size());
    forEachTarget([&] {
        AverageKernel<T, N> average;
        filterImage(average, in.data(), out.data(), width, N);
        for (size_t x = N / 2; x + N / 2 < width; ++x) {
            const int64_t sum = static_cast<int64_t>(x - N / 2) + first;
            ASSERT_EQ(out[N / 2 * width + x], static_cast<T>(sum / static_cast<int64_t>(N * N)))
                << "sum " << sum;
        }
    });
}

TEST(FilterImage, AveragesOfEverySum) {
    // 16-bit pixels: every sum up to 9 * 65535 and 25 * 65535 (unoptimised
    // builds: the top of the range).
    const int64_t all3 = 9 * 65535 + 1, all5 = 25 * 65535 + 1;
    expectEverySum<uint16_t, 3>(all3 - all3 / THIN, all3 / THIN);
    expectEverySum<uint16_t, 5>(all5 - all5 / THIN, all5 / THIN);
    // Floats holding integers sum exactly: negative sums too.
    expectEverySum<float, 3>(-(1 << 17), (2 << 17) / THIN);
    expectEverySum<float, 5>(-(1 << 17), (2 << 17) / THIN);
}

}  // namespace
