// Dark offset and gain correction: the per-pixel rules at their worked
// values, and the vector kernels against them bit for bit on every
// instruction set compiled in and supported by this CPU.
#include "optimized/grayscaleKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "support/hwy_targets.h"

namespace {

using namespace kyr::kernels;
using testsupport::forEachTarget;

#ifdef NDEBUG
constexpr int THIN = 1;
#else
constexpr int THIN = 13;
#endif

using U16 = std::vector<uint16_t>;

TEST(GrayscaleRules, WorkedValues) {
    EXPECT_EQ(dsnuPixel(100, 150), 0);
    EXPECT_EQ(dsnuPixel(150, 100), 50);
    EXPECT_EQ(dsnuPixel(150, 150), 0);
    EXPECT_EQ(dsnuPixel(65535, 0), 65535);
    // Scale 1000: a gain of 1000 is 1.0; below 250 the pixel stays as it is.
    EXPECT_EQ(prnuReciprocalPixel(1000, 1000), 4096);
    EXPECT_EQ(prnuReciprocalPixel(800, 1000), 5120);
    EXPECT_EQ(prnuReciprocalPixel(1250, 1000), 3276);
    EXPECT_EQ(prnuReciprocalPixel(249, 1000), 4096);
    EXPECT_EQ(prnuReciprocalPixel(250, 1000), 16384);
    EXPECT_EQ(prnuReciprocalPixel(0, 1000), 4096);
    EXPECT_EQ(prnuReciprocalPixel(0, 3), 0);  // only a scale below 4 reaches g = 0
    EXPECT_EQ(prnuReciprocalPixel(1, 7), 28672);
    EXPECT_EQ(prnuPixel(1000, 5120), 1250);
    EXPECT_EQ(prnuPixel(65535, 16384), 65532);  // 262140, low 16 bits
    EXPECT_EQ(prnuPixel(4095, 4096), 4095);
}

// For every scale the largest reciprocal (the smallest gain admitted)
// fits 16 bits, so storing it loses nothing.
TEST(GrayscaleRules, ReciprocalsFitSixteenBits) {
    for (uint32_t s = 0; s <= 65535; ++s) {
        const uint32_t smallest = std::max<uint32_t>(s >> 2, 1);
        const uint32_t exact = (s << 12) / smallest;
        ASSERT_LE(exact, 65535u) << s;
        ASSERT_EQ(prnuReciprocalPixel(static_cast<uint16_t>(smallest), static_cast<uint16_t>(s)),
                  exact);
    }
}

// Every value of `all` against each of `edges`, both ways round.
void allAgainstEdges(const U16& edges, U16& a, U16& b) {
    for (uint16_t e : edges) {
        for (int v = 0; v <= 65535; v += THIN) {
            a.push_back(static_cast<uint16_t>(v));
            b.push_back(e);
            a.push_back(e);
            b.push_back(static_cast<uint16_t>(v));
        }
    }
}

template <typename Kernel, typename Rule>
void expectBitExact(const U16& a, const U16& b, Kernel kernel, Rule rule) {
    U16 expect(a.size());
    for (size_t i = 0; i < a.size(); ++i) expect[i] = rule(a[i], b[i]);
    forEachTarget([&] {
        U16 out(a.size(), 0x5A5A);
        kernel(a.data(), b.data(), out.data(), a.size());
        ASSERT_EQ(out, expect);
        // In place on the first input.
        U16 work = a;
        kernel(work.data(), b.data(), work.data(), a.size());
        ASSERT_EQ(work, expect);
    });
}

const U16 EDGES = {0,    1,    2,    3,    249,   250,   2047,  2048,  3276,  4095,  4096,
                   4097, 5120, 8191, 8192, 16383, 16384, 28672, 32767, 32768, 65534, 65535};

TEST(GrayscaleKernels, DsnuEdgesAgainstEveryValueAndAllTwelveBitPairs) {
    U16 a, b;
    allAgainstEdges(EDGES, a, b);
    for (int in = 0; in <= 4095; in += THIN) {
        for (int offset = 0; offset <= 4095; offset += 3) {
            a.push_back(static_cast<uint16_t>(in));
            b.push_back(static_cast<uint16_t>(offset));
        }
    }
    expectBitExact(a, b, dsnuCompensate, dsnuPixel);
}

TEST(GrayscaleKernels, PrnuEdgesAgainstEveryValueAndRandomPairs) {
    U16 a, b;
    allAgainstEdges(EDGES, a, b);
    std::mt19937 rng(8);
    std::uniform_int_distribution<int> any(0, 65535), recip(1000, 17000);
    for (int n = 0; n < 1000000 / THIN; ++n) {
        a.push_back(static_cast<uint16_t>(any(rng)));
        b.push_back(static_cast<uint16_t>(n % 2 ? any(rng) : recip(rng)));
    }
    expectBitExact(a, b, prnuCompensate, prnuPixel);
}

// Counts that end at every position of a vector (up to 32 lanes) and beyond.
TEST(GrayscaleKernels, EveryLength) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> any(0, 65535);
    for (size_t n = 0; n <= 130; ++n) {
        U16 a(n), b(n);
        for (size_t i = 0; i < n; ++i) {
            a[i] = static_cast<uint16_t>(any(rng));
            b[i] = static_cast<uint16_t>(any(rng));
        }
        expectBitExact(a, b, dsnuCompensate, dsnuPixel);
        expectBitExact(a, b, prnuCompensate, prnuPixel);
    }
}

TEST(GrayscaleKernels, ShiftedOverlapFollowsPixelOrder) {
    std::mt19937 rng(6);
    std::uniform_int_distribution<int> any(0, 65535);
    const size_t n = 100, shift = 5;
    U16 base(n + shift), other(n);
    for (auto& v : base) v = static_cast<uint16_t>(any(rng));
    for (auto& v : other) v = static_cast<uint16_t>(any(rng) % 8192);
    U16 work = base, expect = base;
    for (size_t i = 0; i < n; ++i) expect[i + shift] = prnuPixel(expect[i], other[i]);
    prnuCompensate(work.data(), other.data(), work.data() + shift, n);
    EXPECT_EQ(work, expect);
    work = base;
    expect = base;
    for (size_t i = 0; i < n; ++i) expect[i + shift] = dsnuPixel(other[i], expect[i]);
    dsnuCompensate(other.data(), work.data(), work.data() + shift, n);
    EXPECT_EQ(work, expect);
}

}  // namespace
