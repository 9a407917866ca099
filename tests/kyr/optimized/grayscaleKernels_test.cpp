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
using U16 = std::vector<uint16_t>;

#ifdef NDEBUG
constexpr int THIN = 1;  // unoptimised (sanitizer) builds thin the sweeps
#else
constexpr int THIN = 13;
#endif

TEST(GrayscaleRules, WorkedValues) {
    EXPECT_EQ(dsnuPixel(100, 150), 0);
    EXPECT_EQ(dsnuPixel(150, 100), 50);
    EXPECT_EQ(dsnuPixel(150, 150), 0);
    // Scale 1000: gain 1000 is 1.0; below 250 a pixel stays uncorrected.
    const uint16_t gains[] = {1000, 800, 1250, 249, 250, 0};
    const uint16_t reciprocals[] = {4096, 5120, 3276, 4096, 16384, 4096};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(prnuReciprocalPixel(gains[k], 1000), reciprocals[k]);
    EXPECT_EQ(prnuReciprocalPixel(0, 3), 0);  // g = 0 passes only below scale 4
    EXPECT_EQ(prnuPixel(1000, 5120), 1250);
    EXPECT_EQ(prnuPixel(65535, 16384), 65532);  // 262140, low 16 bits
}

// For every scale the largest reciprocal (that of the smallest gain
// admitted) fits 16 bits, so storing it loses nothing.
TEST(GrayscaleRules, ReciprocalsFitSixteenBits) {
    for (uint32_t s = 0; s <= 65535; ++s) {
        const uint32_t smallest = std::max<uint32_t>(s >> 2, 1);
        ASSERT_LE((s << 12) / smallest, 65535u) << s;
        ASSERT_EQ(prnuReciprocalPixel(static_cast<uint16_t>(smallest), static_cast<uint16_t>(s)),
                  (s << 12) / smallest);
    }
}

// Each kernel against its rule, into a separate output and in place.
template <typename Kernel, typename Rule>
void expectBitExact(const U16& a, const U16& b, Kernel kernel, Rule rule) {
    U16 expect(a.size());
    for (size_t i = 0; i < a.size(); ++i) expect[i] = rule(a[i], b[i]);
    forEachTarget([&] {
        U16 out(a.size(), 0x5A5A), work = a;
        kernel(a.data(), b.data(), out.data(), a.size());
        ASSERT_EQ(out, expect) << a.size() << " pixels";
        kernel(work.data(), b.data(), work.data(), a.size());
        ASSERT_EQ(work, expect) << a.size() << " pixels, in place";
    });
}

// Every 16-bit value against the edge values both ways round, random
// pairs, and every count from 0 past the widest vector.
TEST(GrayscaleKernels, DsnuAndPrnuAgainstTheirRules) {
    const U16 edges = {0,    1,    2,    249,   250,   2047,  2048,  3276,  4095,  4096, 4097,
                       5120, 8191, 8192, 16383, 16384, 28672, 32767, 32768, 65534, 65535};
    U16 a, b;
    for (uint16_t e : edges) {
        for (int v = 0; v <= 65535; v += THIN) {
            a.insert(a.end(), {static_cast<uint16_t>(v), e});
            b.insert(b.end(), {e, static_cast<uint16_t>(v)});
        }
    }
    std::mt19937 rng(8);
    std::uniform_int_distribution<int> any(0, 65535);
    for (int n = 0; n < 300000 / THIN; ++n) {
        a.push_back(static_cast<uint16_t>(any(rng)));
        b.push_back(static_cast<uint16_t>(n % 2 ? any(rng) : any(rng) % 17000));
    }
    expectBitExact(a, b, dsnuCompensate, dsnuPixel);
    expectBitExact(a, b, prnuCompensate, prnuPixel);
    for (size_t n = 0; n <= 130; ++n) {
        const U16 head(a.begin() + 1000, a.begin() + 1000 + static_cast<long>(n));
        const U16 other(b.end() - static_cast<long>(n), b.end());
        expectBitExact(head, other, dsnuCompensate, dsnuPixel);
        expectBitExact(head, other, prnuCompensate, prnuPixel);
    }
}

}  // namespace
