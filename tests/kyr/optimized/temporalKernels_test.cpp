// The temporal and Kalman kernels against their per-pixel rules, bit for bit,
// on every instruction set compiled in and supported by this CPU; the rules
// against their worked values.
#include "optimized/temporalKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "support/hwy_targets.h"

namespace {

using namespace kyr::kernels;
using testsupport::forEachTarget;

// Unoptimised (sanitizer) builds take every THIN-th value of the long sweeps.
#ifdef NDEBUG
constexpr int THIN = 1;
#else
constexpr int THIN = 11;
#endif

using Pixels = std::vector<uint16_t>;

TEST(TemporalRules, WorkedValuesAndWeights) {
    EXPECT_EQ(temporalPixel(1100, 1000, 1024, 300), 1025);
    EXPECT_EQ(temporalPixel(1400, 1000, 1024, 300), 1400);
    EXPECT_EQ(temporalPixel(701, 1000, 1024, 300), 925);  // 700.25 + 225 truncated
    EXPECT_EQ(temporalPixel(1001, 1000, 1024, 0), 1001);  // threshold 0: the new value
    EXPECT_EQ(temporalPixel(1, 65535, 0, 65535), 65535);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::pair<float, uint32_t> weights[] = {{0.25f, 1024}, {0.9999f, 4095}, {1.0f, 4096},
                                                  {-0.5f, 0},    {2.0f, 4096},    {nan, 0}};
    for (const auto& [alpha, weight] : weights) EXPECT_EQ(temporalWeight(alpha), weight) << alpha;
}

// Every input value against averages at the edges of the ranges, for the
// weights and thresholds where something changes; prefixes of every shape
// class (1x1, 1xN, Nx1, 2x2, lengths around the vector widths); in place.
TEST(TemporalKernels, EveryInputAgainstEdgeAverages) {
    Pixels in, avg;
    for (int a : {0, 1, 299, 300, 2047, 4095, 32767, 32768, 64000, 65234, 65535}) {
        for (int v = 0; v <= 65535; v += THIN) {
            in.push_back(static_cast<uint16_t>(v * 7919));
            avg.push_back(static_cast<uint16_t>(a));
        }
    }
    Pixels expect(in.size());
    for (uint32_t weight : {0u, 1u, 1024u, 2049u, 4095u, 4096u}) {
        for (uint16_t threshold : {0, 1, 300, 65535}) {
            for (size_t i = 0; i < in.size(); ++i) {
                expect[i] = temporalPixel(in[i], avg[i], weight, threshold);
            }
            forEachTarget([&] {
                for (size_t n : {1, 2, 4, 7, 9, 15, 17, 31, 33, 63, 65, 321}) {
                    Pixels out(n);
                    temporalBlend(in.data(), avg.data(), out.data(), n, weight, threshold);
                    ASSERT_TRUE(std::equal(out.begin(), out.end(), expect.begin())) << n;
                }
                Pixels io = in;
                temporalBlend(io.data(), avg.data(), io.data(), in.size(), weight, threshold);
                ASSERT_EQ(io, expect) << "weight " << weight << " threshold " << threshold;
            });
        }
    }
}

// ------------------------------------------------------------------ Kalman

struct KalmanCase {
    uint16_t z, amp, x, P, q, T;
    uint16_t out, estimate, uncertainty;
};

TEST(KalmanRules, WorkedValues) {
    const KalmanCase cases[] = {
        {1010, 97, 1000, 0, 1000, 200, 1000, 1000, 984},           // k = 4
        {3000, 97, 1000, 0, 1000, 200, 64001, 2968, 61708},        // k = 252, widened
        {6000, 97, 1000, 0, 1000, 200, 64001, 5980, 65535},        // k = 255, P' = 97458
        {8501, 0, 1000, 0, 1000, 200, 1000, 1000, 15001},          // sigma 7500: E - R = 15001
        {8500, 0, 1000, 0, 1000, 200, 1000, 1000, 1000},           // E = R: not widened
        {1001, 22498, 1000, 0, 0, 200, 1001, 1001, 0},             // R = 0: k = 256
        {1001, 22497, 1000, 0, 0, 200, 1000, 1000, 0},             // R = 1: k = 0
        {1000, 30000, 1000, 0, 0, 200, 1000, 1000, 0},             // den = 0: k = 0
        {0, 30000, 32768, 0, 0, 200, 0, 0, 0},                     // e = -32768: num = den = 2^30
        {0, 5, 32768, 0, 0, 200, 64001, 256, 65535},               // k = 254
        {1000, 97, 1000, 200, 0, 0, 64001, 1000, 199},             // T = 0: always uncertain
        {1000, 97, 1000, 65535, 65535, 65535, 1000, 1000, 36863},  // T^2 > 2^31
    };
    for (const KalmanCase& c : cases) {
        const KalmanPixel r = kalmanPixel(c.z, c.amp, c.x, c.P, c.q, kalmanLimit(c.T));
        EXPECT_EQ(std::tuple(r.out, r.estimate, r.uncertainty),
                  std::tuple(c.out, c.estimate, c.uncertainty))
            << c.z << " " << c.amp;
    }
}

// One amplitude per distinct sigma = 22500 / (amp + 3): every measurement
// variance R the rule can meet.
std::vector<uint16_t> amplitudePerSigma() {
    std::vector<uint16_t> amps;
    for (uint32_t amp = 0, last = ~0u; amp <= 65535; ++amp) {
        if (22500 / (amp + 3) != last) amps.push_back(static_cast<uint16_t>(amp));
        last = 22500 / (amp + 3);
    }
    return amps;
}

// Runs the kernel on a frame on every instruction set and compares the
// output and both updated state arrays with the rule; then with the output
// written over (a copy of) the distances, and on prefixes of every shape
// class (1x1, 1xN, Nx1, 2x2, lengths around the vector widths).
void expectKalmanBitExact(const Pixels& z, const Pixels& amp, const Pixels& x, const Pixels& P,
                          uint16_t q, uint16_t T) {
    const size_t n = z.size();
    Pixels out(n), est(x), unc(P);
    kalmanPixels(z.data(), amp.data(), est.data(), unc.data(), out.data(), n, q, kalmanLimit(T));
    forEachTarget([&] {
        Pixels vOut(n, 0x5A5A), vEst(x), vUnc(P);
        kalmanUpdate(z.data(), amp.data(), vEst.data(), vUnc.data(), vOut.data(), n, q,
                     kalmanLimit(T));
        for (size_t i = 0; i < n; ++i) {
            ASSERT_TRUE(vOut[i] == out[i] && vEst[i] == est[i] && vUnc[i] == unc[i])
                << "pixel " << i << ": z " << z[i] << " amp " << amp[i] << " x " << x[i] << " P "
                << P[i] << " q " << q << " T " << T;
        }
        Pixels io(z), ioEst(x), ioUnc(P);
        kalmanUpdate(io.data(), amp.data(), ioEst.data(), ioUnc.data(), io.data(), n, q,
                     kalmanLimit(T));
        ASSERT_EQ(io, out);
        for (size_t m : {1, 2, 4, 7, 9, 17, 33, 65}) {
            Pixels mOut(m), mEst(x.begin(), x.begin() + m), mUnc(P.begin(), P.begin() + m);
            kalmanUpdate(z.data(), amp.data(), mEst.data(), mUnc.data(), mOut.data(), m, q,
                         kalmanLimit(T));
            ASSERT_TRUE(std::equal(mOut.begin(), mOut.end(), out.begin()) &&
                        std::equal(mEst.begin(), mEst.end(), est.begin()) &&
                        std::equal(mUnc.begin(), mUnc.end(), unc.begin()))
                << m;
        }
    });
}

// The widened branch: num = E - R, den = E depend only on e and sigma, so
// every innovation against every sigma is every quotient of that branch,
// from den = 1 up to num, den near 2^30 (e = -32768), including all those
// whose 256 * num / den lies just below or at an integer.
TEST(KalmanKernels, EveryWidenedQuotient) {
    const Pixels amps = amplitudePerSigma();
    ASSERT_EQ(amps.size(), 298u);
    Pixels z, x;
    for (int e = -32768; e <= 32767; e += THIN) {
        z.push_back(static_cast<uint16_t>(e + 40000));
        x.push_back(40000);
    }
    const Pixels P(z.size(), 0);
    for (uint16_t a : amps) {
        expectKalmanBitExact(z, Pixels(z.size(), a), x, P, 0, 200);
    }
}

// The predicted branch: num = Pp = q + P, den = Pp + R, for every Pp against
// every sigma, with innovations |e| <= sigma that keep it there; limits T^2
// of 0 and beyond 2^31.
TEST(KalmanKernels, EveryPredictedQuotient) {
    std::mt19937 rng(17);
    for (const uint16_t amp : amplitudePerSigma()) {
        std::uniform_int_distribution<int> within(-7500, 7500);
        const int sigma = static_cast<int>(22500 / (amp + 3));
        for (const uint16_t q : {0, 65535}) {
            const uint16_t T = q;
            Pixels z, x, P;
            for (int p = 0; p <= 65535; p += THIN) {
                x.push_back(static_cast<uint16_t>(p));
                z.push_back(static_cast<uint16_t>(p + within(rng) % (sigma + 1)));
                P.push_back(static_cast<uint16_t>(p));
            }
            expectKalmanBitExact(z, Pixels(z.size(), amp), x, P, q, T);
        }
    }
}

// Random pixels: every lane its own amplitude, state, branch and gain.
TEST(KalmanKernels, RandomPixels) {
    std::mt19937 rng(23);
    std::uniform_int_distribution<int> any(0, 65535), step(-400, 400);
    Pixels z(5003), amp(z.size()), x(z.size()), P(z.size());
    for (size_t i = 0; i < z.size(); ++i) {
        x[i] = static_cast<uint16_t>(any(rng));
        z[i] = static_cast<uint16_t>(i % 7 ? x[i] + step(rng) : any(rng));
        amp[i] = static_cast<uint16_t>(i % 3 ? any(rng) % 400 : any(rng));
        P[i] = static_cast<uint16_t>(i % 2 ? any(rng) % 5000 : any(rng));
    }
    expectKalmanBitExact(z, amp, x, P, 1000, 200);
}

}  // namespace
