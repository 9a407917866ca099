// The interference test and the latch: the per-pixel rules at their edges,
// and the vector kernels against them bit for bit on every instruction set
// compiled in and supported by this CPU.
#include "optimized/interferenceKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "support/hwy_targets.h"

namespace {

using namespace kyr::kernels;
using testsupport::forEachTarget;

// Unoptimised (sanitizer) builds take every THIN-th value of the long sweeps.
#ifdef NDEBUG
constexpr int THIN = 1;
#else
constexpr int THIN = 13;
#endif

using U16 = std::vector<uint16_t>;

struct Dcs {
    U16 d0, d1, d2, d3, dsnu;
    void push(int a, int b, int c, int d, int offset) {
        d0.push_back(static_cast<uint16_t>(a));
        d1.push_back(static_cast<uint16_t>(b));
        d2.push_back(static_cast<uint16_t>(c));
        d3.push_back(static_cast<uint16_t>(d));
        dsnu.push_back(static_cast<uint16_t>(offset));
    }
    size_t size() const { return d0.size(); }
};

U16 expectedMask(const Dcs& in, uint16_t threshold) {
    U16 expect(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        expect[i] =
            interferencePixel(in.d0[i], in.d1[i], in.d2[i], in.d3[i], in.dsnu[i], threshold);
    }
    return expect;
}

// Both kernels (per-pixel offsets and, where all offsets are equal, the flat
// one) against the rule on every instruction set.
void expectMaskBitExact(const Dcs& in, uint16_t threshold) {
    const U16 expect = expectedMask(in, threshold);
    const bool flat =
        !in.dsnu.empty() && std::equal(in.dsnu.begin() + 1, in.dsnu.end(), in.dsnu.begin());
    U16 out(in.size());
    forEachTarget([&] {
        std::fill(out.begin(), out.end(), uint16_t{0x5A5A});
        interferenceMask(in.d0.data(), in.d1.data(), in.d2.data(), in.d3.data(), in.dsnu.data(),
                         threshold, out.data(), in.size());
        ASSERT_EQ(out, expect) << "threshold " << threshold;
        if (flat) {
            std::fill(out.begin(), out.end(), uint16_t{0x5A5A});
            interferenceMaskFlat(in.d0.data(), in.d1.data(), in.d2.data(), in.d3.data(), in.dsnu[0],
                                 threshold, out.data(), in.size());
            ASSERT_EQ(out, expect) << "flat, threshold " << threshold;
        }
    });
}

TEST(InterferenceRules, WorkedValuesAndStrictBounds) {
    // Offset 2048, threshold 500: the band is (3596, 4596).
    EXPECT_EQ(interferencePixel(1000, 2000, 3000, 2000, 2048, 500), 0);
    EXPECT_EQ(interferencePixel(1000, 2000, 3700, 2000, 2048, 500), 64005);  // S02 4700
    EXPECT_EQ(interferencePixel(1000, 2000, 3000, 2597, 2048, 500), 64005);  // S13 4597
    EXPECT_EQ(interferencePixel(0, 0, 3596, 4000, 2048, 500), 64005);        // on lo
    EXPECT_EQ(interferencePixel(0, 0, 3597, 4595, 2048, 500), 0);
    EXPECT_EQ(interferencePixel(0, 0, 4596, 4000, 2048, 500), 64005);  // on hi
    EXPECT_EQ(interferencePixel(0, 0, 4096, 4096, 2048, 0), 64005);    // empty band
    // Sums wrap: 65535 + 4097 is 4096.
    EXPECT_EQ(interferencePixel(65535, 4096, 4097, 0, 2048, 1), 0);
    // A band wider than the centre: limits 64632 and 9096 hold nothing.
    EXPECT_EQ(interferencePixel(0, 0, 4096, 4096, 2048, 5000), 64005);
    // Centre 65000 and threshold 40000 wrap to the band (25000, 39464).
    EXPECT_EQ(interferencePixel(0, 0, 30000, 39463, 32500, 40000), 0);
    EXPECT_EQ(interferencePixel(0, 0, 65000, 30000, 32500, 40000), 64005);
    // The centre is twice the offset modulo 65536.
    EXPECT_EQ(interferencePixel(0, 0, 2, 2, 32769, 1), 0);
}

// Every sum S02 against bands at the edges of the centre and threshold
// ranges, with S13 once inside the band (at its centre) and once equal to
// S02; the samples split each sum at random.
TEST(InterferenceKernels, EverySumAgainstEdgeBands) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> any(0, 65535);
    for (int offset : {0, 1, 2047, 2048, 32767, 32768, 65535}) {
        for (int threshold : {0, 1, 2, 500, 4095, 4096, 5000, 32767, 32768, 65535}) {
            Dcs in;
            for (int s = 0; s <= 65535; s += THIN) {
                const int a = any(rng), b = any(rng);
                in.push(a, b, s - a, 2 * offset - b, offset);
                in.push(a, b, s - a, s - b, offset);
            }
            expectMaskBitExact(in, static_cast<uint16_t>(threshold));
        }
    }
}

// Random samples and per-pixel offsets around the dark level, over counts
// that end at every position of a vector (up to 32 lanes) and beyond.
TEST(InterferenceKernels, RandomImagesOfEveryLength) {
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> sample(1500, 2600), offset(1900, 2200), any(0, 65535);
    for (size_t n = 0; n <= 130; ++n) {
        Dcs in;
        const int flat = offset(rng);  // odd counts take one offset for all
        for (size_t i = 0; i < n; ++i) {
            const int dark = n % 2 ? flat : offset(rng);
            if (i % 7 == 3) {
                in.push(any(rng), any(rng), any(rng), any(rng), n % 2 ? flat : any(rng));
            } else {
                in.push(sample(rng), sample(rng), sample(rng), sample(rng), dark);
            }
        }
        expectMaskBitExact(in, static_cast<uint16_t>(n % 3 == 0 ? 500 : 300 + n));
    }
}

TEST(LatchKernels, SelectsHeldValuesWhereFlagged) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> any(0, 65535), flag(0, 3);
    for (size_t n : {size_t{0}, size_t{1}, size_t{7}, size_t{31}, size_t{33}, size_t{1000}}) {
        U16 input(n), mask(n), held(n);
        for (size_t i = 0; i < n; ++i) {
            input[i] = static_cast<uint16_t>(any(rng));
            held[i] = static_cast<uint16_t>(any(rng));
            const int f = flag(rng);
            mask[i] = f == 0 ? 0 : f == 1 ? 64005 : static_cast<uint16_t>(1 << (i % 16));
        }
        U16 expect(n);
        std::vector<int16_t> expectSigned(n);
        for (size_t i = 0; i < n; ++i) {
            expect[i] = latchPixel(input[i], mask[i], held[i]);
            expectSigned[i] = static_cast<int16_t>(expect[i]);
        }
        forEachTarget([&] {
            U16 out(n, 0x5A5A);
            latch(input.data(), mask.data(), held.data(), out.data(), n);
            ASSERT_EQ(out, expect);
            std::vector<int16_t> in16(input.begin(), input.end()), held16(held.begin(), held.end());
            std::vector<int16_t> out16(n);
            latch(in16.data(), mask.data(), held16.data(), out16.data(), n);
            ASSERT_EQ(out16, expectSigned);
            // In place, as the combined detection stage runs it.
            U16 work = held;
            latch(input.data(), mask.data(), work.data(), work.data(), n);
            ASSERT_EQ(work, expect);
        });
    }
}

// An output that starts a few pixels after an input gets the result of the
// per-pixel order, as if computed one pixel at a time.
TEST(InterferenceKernels, ShiftedOverlapFollowsPixelOrder) {
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> any(0, 65535);
    const size_t n = 100;
    for (size_t shift : {size_t{1}, size_t{9}, size_t{33}}) {
        U16 base(n + shift), other(n);
        for (auto& v : base) v = static_cast<uint16_t>(any(rng) % 5000);
        for (auto& v : other) v = static_cast<uint16_t>(any(rng) % 5000);
        U16 work = base, expect = base;
        for (size_t i = 0; i < n; ++i) {
            expect[i + shift] =
                interferencePixel(expect[i], other[i], other[i], other[i], 2048, 900);
        }
        interferenceMaskFlat(work.data(), other.data(), other.data(), other.data(), 2048, 900,
                             work.data() + shift, n);
        ASSERT_EQ(work, expect) << "shift " << shift;
        work = base;
        expect = base;
        for (size_t i = 0; i < n; ++i) {
            expect[i + shift] = latchPixel(other[i], expect[i], other[(i + 1) % n]);
        }
        U16 held(n);
        for (size_t i = 0; i < n; ++i) held[i] = other[(i + 1) % n];
        latch(other.data(), work.data(), held.data(), work.data() + shift, n);
        ASSERT_EQ(work, expect) << "shift " << shift;
    }
}

}  // namespace
