// The vector kernels against the per-pixel rules, bit for bit, on every
// instruction set compiled in and supported by this CPU; and the per-pixel
// rules against their mathematical meaning.
#include "optimized/arithmeticKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "support/hwy_targets.h"

namespace {

using namespace kyr::kernels;

using testsupport::forEachTarget;

// Odd widths around every vector width in use (8, 16 and 32 lanes of 16 bit).
const size_t ODD_WIDTHS[] = {1, 3, 7, 9, 15, 17, 31, 33, 63, 65, 127, 321};

// Optimised builds sweep every value of the long axes below; unoptimised
// (sanitizer) builds, where the vector code runs some fifty times slower,
// take every THIN-th value and keep all edge values.
#ifdef NDEBUG
constexpr int THIN = 1;
#else
constexpr int THIN = 11;
#endif

std::vector<int16_t> range16(int from, int to, int step = 1) {
    std::vector<int16_t> v;
    for (int i = from; i <= to; i += step) v.push_back(static_cast<int16_t>(i));
    return v;
}

std::vector<int16_t> allInt16() {
    return range16(-32768, 32767, THIN);
}

// Values where something changes: the ends of the 16-bit and 12-bit ranges,
// zero, small magnitudes and powers of two and their neighbours.
std::vector<int16_t> edgeInt16() {
    std::vector<int> v = {-32768, -32767, -32766, -16385, -16384, -16383, -4097, -4096, -4095,
                          -4094,  -2048,  -1,     0,      1,      2,      3,     4,     2047,
                          2048,   4094,   4095,   4096,   16383,  16384,  32766, 32767};
    for (int p = 1; p < 15; ++p) {
        v.push_back(1 << p);
        v.push_back(-(1 << p));
        v.push_back((1 << p) + 1);
        v.push_back(-(1 << p) - 1);
    }
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    return {v.begin(), v.end()};
}

// ------------------------------------------------------------ per-pixel rules

TEST(ArithmeticRules, SubtractWrapsToSixteenBits) {
    EXPECT_EQ(subtractPixel(0, 4095), -4095);
    EXPECT_EQ(subtractPixel(4095, 0), 4095);
    EXPECT_EQ(subtractPixel(65535, 0), -1);
    EXPECT_EQ(subtractPixel(0, 32768), -32768);
    EXPECT_EQ(subtractPixel(32768, 0), -32768);
}

TEST(ArithmeticRules, AmplitudeEdgeValues) {
    EXPECT_EQ(amplitudePixel(0, 0), 0);
    EXPECT_EQ(amplitudePixel(3, 4), 2);
    EXPECT_EQ(amplitudePixel(-4095, -4095), 2895);
    EXPECT_EQ(amplitudePixel(-32768, -32768), 23170);
    EXPECT_EQ(amplitudePixel(-32768, 0), 16384);
    EXPECT_EQ(amplitudePixel(32767, 32767), 23169);
    // Single precision rounds the root of 16826657 up to 4102: 2051, where
    // double precision gives 2050.
    EXPECT_EQ(amplitudePixel(821, 4019), 2051);
    EXPECT_EQ(amplitudePixel(4019, 821), 2051);
}

// Within one count of the exact value everywhere in the 12-bit range, and
// symmetric in sign.
TEST(ArithmeticRules, AmplitudeFollowsTheMagnitude) {
    for (int a = 0; a <= 4095; a += 3) {
        for (int b = 0; b <= 4095; b += 5) {
            const int got = amplitudePixel(static_cast<int16_t>(a), static_cast<int16_t>(b));
            const double exact = 0.5 * std::hypot(a, b);
            ASSERT_LE(std::abs(got - std::trunc(exact)), 1) << a << ", " << b;
            ASSERT_EQ(got, amplitudePixel(static_cast<int16_t>(-a), static_cast<int16_t>(b)));
            ASSERT_EQ(got, amplitudePixel(static_cast<int16_t>(a), static_cast<int16_t>(-b)));
        }
    }
}

TEST(ArithmeticRules, CordicAxesAndDiagonals) {
    EXPECT_EQ(cordicPixel(0, 0), 0);
    EXPECT_EQ(cordicPixel(0, 1), 0);
    EXPECT_EQ(cordicPixel(0, 4095), 0);
    EXPECT_EQ(cordicPixel(1, 0), 16384);
    EXPECT_EQ(cordicPixel(32767, 0), 16384);
    EXPECT_EQ(cordicPixel(0, -1), 32768);
    EXPECT_EQ(cordicPixel(0, -32768), 32768);
    EXPECT_EQ(cordicPixel(-1, 0), 49152);
    EXPECT_EQ(cordicPixel(-32768, 0), 49152);
    EXPECT_EQ(cordicPixel(1, 1), 8192);
    EXPECT_EQ(cordicPixel(-1, -1), 40960);
    EXPECT_EQ(cordicPixel(100, -100), 24574);
    EXPECT_EQ(cordicPixel(-100, 100), 57342);
}

// The CORDIC angle is atan2 to within a few counts of 1/65536 turn over the
// whole 16-bit input range (the table and the 15 rotations leave a small
// residue; tiny vectors lose precision in the shifts).
TEST(ArithmeticRules, CordicFollowsAtan2) {
    const double countsPerRadian = 65536.0 / (2.0 * std::numbers::pi);
    int worst = 0;
    for (int y = -32768; y <= 32767; y += 97) {
        for (int x = -32768; x <= 32767; x += 101) {
            if (std::abs(x) + std::abs(y) < 64) continue;
            double exact = std::atan2(static_cast<double>(y), static_cast<double>(x));
            if (exact < 0) exact += 2.0 * std::numbers::pi;
            const int got = cordicPixel(static_cast<int16_t>(y), static_cast<int16_t>(x));
            int diff = got - static_cast<int>(std::lround(exact * countsPerRadian) % 65536);
            diff = ((diff + 32768) % 65536 + 65536) % 65536 - 32768;
            worst = std::max(worst, std::abs(diff));
        }
    }
    EXPECT_LE(worst, 8);
}

TEST(ArithmeticRules, FloatInputsTruncateAndWrap) {
    EXPECT_EQ(cordicInputFromFloat(70000.7f), 4464);
    EXPECT_EQ(cordicInputFromFloat(-70000.7f), -4464);
    EXPECT_EQ(cordicInputFromFloat(1.9f), 1);
    EXPECT_EQ(cordicInputFromFloat(-1.9f), -1);
    EXPECT_EQ(cordicInputFromFloat(-0.5f), 0);
    EXPECT_EQ(cordicInputFromFloat(32767.9f), 32767);
    EXPECT_EQ(cordicInputFromFloat(32768.0f), -32768);
    EXPECT_EQ(cordicInputFromFloat(-32768.5f), -32768);
    EXPECT_EQ(cordicInputFromFloat(65535.5f), -1);
    EXPECT_EQ(cordicInputFromFloat(65536.0f), 0);
    EXPECT_EQ(cordicInputFromFloat(-65536.5f), 0);
    // Beyond 32 bits: still the low 16 bits of the (exact) integer.
    EXPECT_EQ(cordicInputFromFloat(3.0e9f), static_cast<int16_t>(3000000000LL & 0xFFFF));
    EXPECT_EQ(cordicInputFromFloat(-3.0e9f), static_cast<int16_t>((-3000000000LL) & 0xFFFF));
    EXPECT_EQ(cordicInputFromFloat(1.0e30f), 0);
    EXPECT_EQ(cordicInputFromFloat(std::numeric_limits<float>::infinity()), 0);
    EXPECT_EQ(cordicInputFromFloat(-std::numeric_limits<float>::infinity()), 0);
    EXPECT_EQ(cordicInputFromFloat(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(cordicInputFromFloat(std::numeric_limits<float>::denorm_min()), 0);
}

// For every float that converts to a 32-bit integer, the rule is the low 16
// bits of the truncated value.
TEST(ArithmeticRules, FloatInputsMatchIntegerTruncation) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> dist(-2.1e9f, 2.1e9f);
    std::uniform_real_distribution<float> near(-200000.0f, 200000.0f);
    for (int n = 0; n < 200000; ++n) {
        const float f = (n % 2) ? dist(rng) : near(rng);
        const auto expect = static_cast<int16_t>(static_cast<uint16_t>(static_cast<int32_t>(f)));
        ASSERT_EQ(cordicInputFromFloat(f), expect) << f;
    }
}

// ---------------------------------------------------- vector kernels vs rules

// Runs `kernel` over the pairs (a[i], b[i]) on every instruction set and
// compares the whole output with `rule` applied pixel by pixel. The expected
// values are computed once, so that the sweeps stay affordable in
// unoptimised sanitizer builds.
template <typename Out, typename In, typename Kernel, typename Rule>
void expectBitExact(const std::vector<In>& a, const std::vector<In>& b, Kernel kernel, Rule rule) {
    ASSERT_EQ(a.size(), b.size());
    std::vector<Out> expect(a.size());
    for (size_t i = 0; i < a.size(); ++i) expect[i] = rule(a[i], b[i]);
    std::vector<Out> out(a.size());
    forEachTarget([&] {
        std::fill(out.begin(), out.end(), static_cast<Out>(0x5A5A));
        kernel(a.data(), b.data(), out.data(), a.size());
        if (out != expect) {
            const size_t i = static_cast<size_t>(
                std::mismatch(out.begin(), out.end(), expect.begin()).first - out.begin());
            ADD_FAILURE() << "pixel " << i << " of " << a.size() << ": inputs " << +a[i] << ", "
                          << +b[i] << " give " << +out[i] << ", expected " << +expect[i];
        }
    });
}

// All pairs of a and b (a varies slowest).
template <typename T>
void allPairs(const std::vector<T>& as, const std::vector<T>& bs, std::vector<T>& a,
              std::vector<T>& b) {
    for (T x : as) {
        a.insert(a.end(), bs.size(), x);
        b.insert(b.end(), bs.begin(), bs.end());
    }
}

const auto subtractRule = [](uint16_t a, uint16_t b) { return subtractPixel(a, b); };
const auto cordicRule = [](int16_t y, int16_t x) { return cordicPixel(y, x); };
const auto cordicFloatRule = [](float y, float x) {
    return cordicPixel(cordicInputFromFloat(y), cordicInputFromFloat(x));
};
const auto subtractKernel = [](const uint16_t* a, const uint16_t* b, int16_t* o, size_t n) {
    subtract(a, b, o, n);
};
const auto amplitudeKernel = [](const int16_t* a, const int16_t* b, uint16_t* o, size_t n) {
    amplitude(a, b, o, n);
};
const auto cordicKernel = [](const int16_t* y, const int16_t* x, uint16_t* o, size_t n) {
    atan2Cordic(y, x, o, n);
};
const auto cordicFloatKernel = [](const float* y, const float* x, uint16_t* o, size_t n) {
    atan2Cordic(y, x, o, n);
};

TEST(ArithmeticKernels, SubtractAllTwelveBitPairs) {
    std::vector<uint16_t> samples, thinned;
    for (int v = 0; v <= 4095; ++v) samples.push_back(static_cast<uint16_t>(v));
    for (int v = 0; v <= 4095; v += THIN) thinned.push_back(static_cast<uint16_t>(v));
    std::vector<uint16_t> a, b;
    allPairs(samples, thinned, a, b);
    // The rule itself against plain integer subtraction.
    for (size_t i = 0; i < a.size(); i += 4097) {
        ASSERT_EQ(subtractPixel(a[i], b[i]), static_cast<int>(a[i]) - static_cast<int>(b[i]));
    }
    expectBitExact<int16_t>(a, b, subtractKernel, subtractRule);
}

TEST(ArithmeticKernels, SubtractSixteenBitEdgesAgainstEveryValue) {
    std::vector<uint16_t> edges, all;
    for (int16_t e : edgeInt16()) edges.push_back(static_cast<uint16_t>(e));
    for (int v = 0; v <= 65535; v += THIN) all.push_back(static_cast<uint16_t>(v));
    std::vector<uint16_t> a, b;
    allPairs(edges, all, a, b);
    expectBitExact<int16_t>(a, b, subtractKernel, subtractRule);
    expectBitExact<int16_t>(b, a, subtractKernel, subtractRule);
}

// The amplitude rule as first stated: float squares summed by one fused
// multiply-add. amplitudePixel computes it in integers.
const auto amplitudeByFma = [](int16_t a, int16_t b) {
    const float fa = static_cast<float>(a);
    const float fb = static_cast<float>(b);
    const float square = fa * fa;
    const float sum = std::fma(fb, fb, square);
    return static_cast<uint16_t>(static_cast<int32_t>(std::sqrt(sum) * 0.5f));
};

// Every pair of differences that 12-bit samples can produce.
void twelveBitDifferencePairs(std::vector<int16_t>& a, std::vector<int16_t>& b) {
    allPairs(range16(-4095, 4095), range16(-4095, 4095, THIN), a, b);
}

// The full 16-bit range: each edge value against every value (both ways),
// and a dense grid of all others.
void sixteenBitSweep(std::vector<int16_t>& a, std::vector<int16_t>& b, int stepA, int stepB) {
    allPairs(edgeInt16(), allInt16(), a, b);
    allPairs(allInt16(), edgeInt16(), a, b);
    allPairs(range16(-32768, 32767, stepA), range16(-32768, 32767, stepB), a, b);
}

TEST(ArithmeticKernels, AmplitudeIntegerFormIsTheFusedRule) {
    std::vector<int16_t> a, b;
    twelveBitDifferencePairs(a, b);
    sixteenBitSweep(a, b, 61, 67);
    for (size_t i = 0; i < a.size(); ++i) {
        if (amplitudePixel(a[i], b[i]) != amplitudeByFma(a[i], b[i])) {
            FAIL() << a[i] << ", " << b[i];
        }
    }
}

TEST(ArithmeticKernels, AmplitudeAllTwelveBitDifferencePairs) {
    std::vector<int16_t> a, b;
    twelveBitDifferencePairs(a, b);
    expectBitExact<uint16_t>(a, b, amplitudeKernel, amplitudeByFma);
}

TEST(ArithmeticKernels, AmplitudeSixteenBitSweep) {
    std::vector<int16_t> a, b;
    sixteenBitSweep(a, b, 61, 67);
    expectBitExact<uint16_t>(a, b, amplitudeKernel, amplitudeByFma);
}

// Difference pairs of 12-bit samples on a grid fine enough to cross every
// octant boundary many times.
TEST(ArithmeticKernels, CordicTwelveBitSweep) {
    std::vector<int16_t> y, x;
    allPairs(range16(-4095, 4095, 3), range16(-4095, 4095, 7 * THIN), y, x);
    allPairs(edgeInt16(), range16(-4095, 4095, THIN), y, x);
    allPairs(range16(-4095, 4095, THIN), edgeInt16(), y, x);
    expectBitExact<uint16_t>(y, x, cordicKernel, cordicRule);
}

TEST(ArithmeticKernels, CordicSixteenBitSweep) {
    std::vector<int16_t> y, x;
    sixteenBitSweep(y, x, 53, 59);
    expectBitExact<uint16_t>(y, x, cordicKernel, cordicRule);
}

TEST(ArithmeticKernels, CordicFloatInputs) {
    const std::vector<float> specials = {0.0f,
                                         -0.0f,
                                         0.49f,
                                         -0.49f,
                                         1.0f,
                                         -1.0f,
                                         32767.9f,
                                         32768.0f,
                                         -32768.9f,
                                         65535.5f,
                                         65536.0f,
                                         70000.7f,
                                         -70000.7f,
                                         2.5e9f,
                                         -2.5e9f,
                                         1.0e30f,
                                         -1.0e30f,
                                         std::numeric_limits<float>::infinity(),
                                         -std::numeric_limits<float>::infinity(),
                                         std::numeric_limits<float>::quiet_NaN(),
                                         std::numeric_limits<float>::denorm_min(),
                                         std::numeric_limits<float>::max(),
                                         std::numeric_limits<float>::lowest()};
    std::vector<float> y, x;
    allPairs(specials, specials, y, x);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> wide(-1.0e6f, 1.0e6f);
    std::uniform_real_distribution<float> dcs(-4095.0f, 4095.0f);
    for (int n = 0; n < 400000; ++n) {
        y.push_back(n % 3 ? dcs(rng) : wide(rng));
        x.push_back(n % 5 ? dcs(rng) : wide(rng));
    }
    expectBitExact<uint16_t>(y, x, cordicFloatKernel, cordicFloatRule);
}

// Random images of odd widths: the remainder after the last full vector
// step and every image length from 1 up.
TEST(ArithmeticKernels, RandomImagesOfOddWidths) {
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> sample(0, 4095);
    std::uniform_int_distribution<int> any16(-32768, 32767);
    forEachTarget([&] {
        for (size_t width : ODD_WIDTHS) {
            for (size_t height : {size_t{1}, size_t{2}, size_t{3}, size_t{5}}) {
                const size_t n = width * height;
                std::vector<uint16_t> a(n), b(n);
                std::vector<int16_t> da(n), db(n);
                std::vector<float> fa(n), fb(n);
                for (size_t i = 0; i < n; ++i) {
                    a[i] = static_cast<uint16_t>(sample(rng));
                    b[i] = static_cast<uint16_t>(sample(rng));
                    da[i] = static_cast<int16_t>(i % 4 ? a[i] - b[i] : any16(rng));
                    db[i] = static_cast<int16_t>(i % 4 ? b[i] - a[i] / 2 : any16(rng));
                    fa[i] = static_cast<float>(da[i]) * 1.37f;
                    fb[i] = static_cast<float>(db[i]) * -0.77f;
                }
                std::vector<int16_t> diff(n);
                std::vector<uint16_t> amp(n), phase(n), phaseF(n);
                subtract(a.data(), b.data(), diff.data(), n);
                amplitude(da.data(), db.data(), amp.data(), n);
                atan2Cordic(da.data(), db.data(), phase.data(), n);
                atan2Cordic(fa.data(), fb.data(), phaseF.data(), n);
                for (size_t i = 0; i < n; ++i) {
                    ASSERT_EQ(diff[i], subtractPixel(a[i], b[i])) << width << "x" << height;
                    ASSERT_EQ(amp[i], amplitudePixel(da[i], db[i])) << width << "x" << height;
                    ASSERT_EQ(phase[i], cordicPixel(da[i], db[i])) << width << "x" << height;
                    ASSERT_EQ(phaseF[i], cordicPixel(cordicInputFromFloat(fa[i]),
                                                     cordicInputFromFloat(fb[i])));
                }
            }
        }
    });
}

// Output and input may be the same array.
TEST(ArithmeticKernels, InPlace) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> any16(-32768, 32767);
    const size_t n = 1001;
    std::vector<int16_t> a(n), b(n);
    for (size_t i = 0; i < n; ++i) {
        a[i] = static_cast<int16_t>(any16(rng));
        b[i] = static_cast<int16_t>(any16(rng));
    }
    forEachTarget([&] {
        std::vector<int16_t> work = a;
        subtract(reinterpret_cast<const uint16_t*>(work.data()),
                 reinterpret_cast<const uint16_t*>(b.data()), work.data(), n);
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(work[i],
                      subtractPixel(static_cast<uint16_t>(a[i]), static_cast<uint16_t>(b[i])));
        }
        work = a;
        amplitude(work.data(), b.data(), reinterpret_cast<uint16_t*>(work.data()), n);
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(static_cast<uint16_t>(work[i]), amplitudePixel(a[i], b[i]));
        }
        work = a;
        atan2Cordic(b.data(), work.data(), reinterpret_cast<uint16_t*>(work.data()), n);
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(static_cast<uint16_t>(work[i]), cordicPixel(b[i], a[i]));
        }
    });
}

// An output that overlaps an input shifted by some pixels gets the result of
// the per-pixel loop in index order, as if computed one pixel at a time (no
// vector step runs then, so there is no instruction set to vary).
TEST(ArithmeticKernels, ShiftedOverlapFollowsPixelOrder) {
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> any16(-32768, 32767);
    const size_t n = 200;
    for (size_t shift : {size_t{1}, size_t{3}, size_t{8}, size_t{17}}) {
        std::vector<int16_t> base(n + shift), other(n);
        for (auto& v : base) v = static_cast<int16_t>(any16(rng));
        for (auto& v : other) v = static_cast<int16_t>(any16(rng));
        {
            // out starts `shift` pixels after the input: reads see earlier results.
            std::vector<int16_t> work = base, expect = base;
            for (size_t i = 0; i < n; ++i) {
                expect[i + shift] = static_cast<int16_t>(amplitudePixel(expect[i], other[i]));
            }
            amplitude(work.data(), other.data(), reinterpret_cast<uint16_t*>(work.data() + shift),
                      n);
            ASSERT_EQ(work, expect) << "shift " << shift;

            work = base;
            expect = base;
            for (size_t i = 0; i < n; ++i) {
                expect[i + shift] = static_cast<int16_t>(cordicPixel(other[i], expect[i]));
            }
            atan2Cordic(other.data(), work.data(), reinterpret_cast<uint16_t*>(work.data() + shift),
                        n);
            ASSERT_EQ(work, expect) << "shift " << shift;

            work = base;
            expect = base;
            for (size_t i = 0; i < n; ++i) {
                expect[i + shift] = subtractPixel(static_cast<uint16_t>(expect[i]),
                                                  static_cast<uint16_t>(other[i]));
            }
            subtract(reinterpret_cast<const uint16_t*>(work.data()),
                     reinterpret_cast<const uint16_t*>(other.data()), work.data() + shift, n);
            ASSERT_EQ(work, expect) << "shift " << shift;
        }
    }
}

TEST(ArithmeticKernels, EmptyInputWritesNothing) {
    forEachTarget([&] {
        uint16_t out = 7;
        const int16_t in = 5;
        subtract(nullptr, nullptr, nullptr, 0);
        amplitude(&in, &in, &out, 0);
        atan2Cordic(&in, &in, &out, 0);
        EXPECT_EQ(out, 7);
    });
}

}  // namespace
