// The interference test and the latch: the per-pixel rule at its edges, and
// the vector kernels against the rules bit for bit on every instruction set
// compiled in and supported by this CPU.
#include "optimized/interferenceKernels.h"

#include <gtest/gtest.h>

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

TEST(InterferenceRules, WorkedValuesAndEdges) {
    struct Case {
        uint16_t d0, d1, d2, d3, dsnu, threshold, mask;
    } cases[] = {
        {1000, 2000, 3000, 2000, 2048, 500, 0},      // sums 4000 inside (3596, 4596)
        {1000, 2000, 3700, 2000, 2048, 500, 64005},  // S02 4700
        {0, 0, 3596, 4000, 2048, 500, 64005},        // on the lower limit
        {0, 0, 4000, 4596, 2048, 500, 64005},        // S13 on the upper limit
        {0, 0, 3597, 4595, 2048, 500, 0},
        {0, 0, 4096, 4096, 2048, 0, 64005},     // threshold 0: empty band
        {65535, 4096, 4097, 0, 2048, 1, 0},     // S02 wraps to 4096
        {0, 0, 4096, 4096, 2048, 5000, 64005},  // limits 64632, 9096: empty
        {0, 0, 30000, 39463, 32500, 40000, 0},  // centre 65000: (25000, 39464)
        {0, 0, 65000, 30000, 32500, 40000, 64005},
        {0, 0, 2, 2, 32769, 1, 0},  // centre wraps to 2
    };
    for (const Case& c : cases) {
        EXPECT_EQ(interferencePixel(c.d0, c.d1, c.d2, c.d3, c.dsnu, c.threshold), c.mask)
            << c.d0 << " " << c.d1 << " " << c.d2 << " " << c.d3 << " " << c.dsnu;
    }
}

// Both interference kernels (per-pixel and flat offset; the first in place
// on DCS0) against the rule.
void expectMaskBitExact(const U16 (&dcs)[4], uint16_t dsnu, uint16_t threshold) {
    const size_t n = dcs[0].size();
    const U16 offsets(n, dsnu);
    U16 expect(n);
    for (size_t i = 0; i < n; ++i) {
        expect[i] = interferencePixel(dcs[0][i], dcs[1][i], dcs[2][i], dcs[3][i], dsnu, threshold);
    }
    forEachTarget([&] {
        U16 out = dcs[0];
        interferenceMask(out.data(), dcs[1].data(), dcs[2].data(), dcs[3].data(), offsets.data(),
                         threshold, out.data(), n);
        ASSERT_EQ(out, expect) << "threshold " << threshold << ", offset " << dsnu;
        interferenceMaskFlat(dcs[0].data(), dcs[1].data(), dcs[2].data(), dcs[3].data(), dsnu,
                             threshold, out.data(), n);
        ASSERT_EQ(out, expect) << "flat, threshold " << threshold << ", offset " << dsnu;
    });
}

// Every sum S02 against bands at the edges of the offset and threshold
// ranges, with S13 once at the band's centre and once equal to S02; the
// samples split each sum at random.
TEST(InterferenceKernels, EverySumAgainstEdgeBands) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> any(0, 65535);
    for (int dsnu : {0, 1, 2047, 2048, 32767, 32768, 65535}) {
        for (int threshold : {0, 1, 2, 500, 4095, 4096, 5000, 32767, 32768, 65535}) {
            U16 dcs[4];
            for (int s = 0; s <= 65535 + 64; s += THIN) {  // ends in a partial vector
                for (int s13 : {2 * dsnu, s}) {
                    const int a = any(rng), b = any(rng);
                    for (int k = 0; k < 4; ++k) {
                        const int v[] = {a, b, s - a, s13 - b};
                        dcs[k].push_back(static_cast<uint16_t>(v[k]));
                    }
                }
            }
            expectMaskBitExact(dcs, static_cast<uint16_t>(dsnu), static_cast<uint16_t>(threshold));
        }
    }
}

// Every count from 0 past the widest vector: random samples near the dark
// level with random per-pixel offsets, and the latch for both pixel types
// (also in place on the held values, as the combined detection stage runs it).
TEST(InterferenceKernels, EveryLengthPerPixelOffsetsAndLatch) {
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> sample(1500, 2600), dark(1900, 2200), any(0, 65535);
    for (size_t n = 0; n <= 130; ++n) {
        U16 d[4], dsnu(n), input(n), held(n), expectMask(n), expectLatch(n);
        for (size_t i = 0; i < n; ++i) {
            for (auto& v : d) v.push_back(static_cast<uint16_t>(i % 7 ? sample(rng) : any(rng)));
            dsnu[i] = static_cast<uint16_t>(dark(rng));
            input[i] = static_cast<uint16_t>(any(rng));
            held[i] = static_cast<uint16_t>(any(rng));
            expectMask[i] = interferencePixel(d[0][i], d[1][i], d[2][i], d[3][i], dsnu[i], 300);
            expectLatch[i] =
                latchPixel(input[i], static_cast<uint16_t>(i % 3 ? expectMask[i] : 1), held[i]);
        }
        forEachTarget([&] {
            U16 mask(n, 0x5A5A), out(n, 0x5A5A);
            interferenceMask(d[0].data(), d[1].data(), d[2].data(), d[3].data(), dsnu.data(), 300,
                             mask.data(), n);
            ASSERT_EQ(mask, expectMask) << n;
            for (size_t i = 0; i < n; i += 3) mask[i] = 1;  // any non-zero value holds
            latch(input.data(), mask.data(), held.data(), out.data(), n);
            ASSERT_EQ(out, expectLatch) << n;
            std::vector<int16_t> in16(input.begin(), input.end()), work16(held.begin(), held.end());
            latch(in16.data(), mask.data(), work16.data(), work16.data(), n);
            ASSERT_EQ(work16, std::vector<int16_t>(expectLatch.begin(), expectLatch.end())) << n;
        });
    }
}

}  // namespace
