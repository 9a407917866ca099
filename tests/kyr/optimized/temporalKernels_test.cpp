// The temporal and Kalman kernels against their per-pixel rules, bit for bit,
// on every instruction set compiled in and supported by this CPU; the rules
// against their worked values.
#include "optimized/temporalKernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
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
constexpr int THIN = 11;
#endif

using Pixels = std::vector<uint16_t>;

TEST(TemporalRules, WorkedValuesAndWeights) {
    EXPECT_EQ(temporalPixel(1100, 1000, 1024, 300), 1025);
    EXPECT_EQ(temporalPixel(1400, 1000, 1024, 300), 1400);
    EXPECT_EQ(temporalPixel(1299, 1000, 1024, 300), 1074);  // difference just below
    EXPECT_EQ(temporalPixel(701, 1000, 1024, 300), 925);    // 700.25 + 225 truncated
    EXPECT_EQ(temporalPixel(1001, 1000, 1024, 0), 1001);    // threshold 0: always the new value
    EXPECT_EQ(temporalPixel(65535, 0, 4096, 65535), 65535);
    EXPECT_EQ(temporalPixel(1, 65535, 0, 65535), 65535);
    EXPECT_EQ(temporalPixel(0, 65535, 0, 65535), 0);
    EXPECT_EQ(temporalWeight(0.25f), 1024u);
    EXPECT_EQ(temporalWeight(0.9999f), 4095u);
    EXPECT_EQ(temporalWeight(1.0f), 4096u);
    EXPECT_EQ(temporalWeight(-0.5f), 0u);
    EXPECT_EQ(temporalWeight(2.0f), 4096u);
    EXPECT_EQ(temporalWeight(std::numeric_limits<float>::quiet_NaN()), 0u);
}

// Every input value against averages at the edges of the ranges, for the
// weights and thresholds where something changes.
TEST(TemporalKernels, EveryInputAgainstEdgeAverages) {
    Pixels in, avg;
    for (int a : {0, 1, 299, 300, 2047, 4095, 32767, 32768, 64000, 65234, 65535}) {
        for (int v = 0; v <= 65535; v += THIN) {
            in.push_back(static_cast<uint16_t>(v));
            avg.push_back(static_cast<uint16_t>(a));
        }
    }
    Pixels out(in.size()), expect(in.size());
    for (uint32_t weight : {0u, 1u, 1024u, 2049u, 4095u, 4096u}) {
        for (uint16_t threshold : {0, 1, 300, 65535}) {
            for (size_t i = 0; i < in.size(); ++i) {
                expect[i] = temporalPixel(in[i], avg[i], weight, threshold);
            }
            forEachTarget([&] {
                temporalBlend(in.data(), avg.data(), out.data(), in.size(), weight, threshold);
                ASSERT_EQ(out, expect) << "weight " << weight << " threshold " << threshold;
            });
        }
    }
}

// Random images of every shape class (1x1, 1xN, Nx1, 2x2, widths around the
// vector widths), also in place over either input.
TEST(TemporalKernels, RandomImagesAndInPlace) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> any(0, 65535), near(-400, 400);
    forEachTarget([&] {
        for (size_t n : {1, 2, 4, 7, 9, 15, 17, 31, 33, 63, 65, 321, 1000}) {
            Pixels in(n), avg(n);
            for (size_t i = 0; i < n; ++i) {
                avg[i] = static_cast<uint16_t>(any(rng));
                in[i] = static_cast<uint16_t>(i % 5 ? avg[i] + near(rng) : any(rng));
            }
            Pixels expect(n);
            for (size_t i = 0; i < n; ++i) expect[i] = temporalPixel(in[i], avg[i], 1365, 300);
            Pixels out(n), overIn = in, overAvg = avg;
            temporalBlend(in.data(), avg.data(), out.data(), n, 1365, 300);
            temporalBlend(overIn.data(), avg.data(), overIn.data(), n, 1365, 300);
            temporalBlend(in.data(), overAvg.data(), overAvg.data(), n, 1365, 300);
            ASSERT_EQ(out, expect) << n;
            ASSERT_EQ(overIn, expect) << n;
            ASSERT_EQ(overAvg, expect) << n;
        }
    });
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
        {1001, 65535, 1000, 0, 0, 200, 1001, 1001, 0},             //
        {1001, 22497, 1000, 0, 0, 200, 1000, 1000, 0},             // R = 1: k = 0
        {1000, 30000, 1000, 0, 0, 200, 1000, 1000, 0},             // den = 0: k = 0
        {0, 30000, 32768, 0, 0, 200, 0, 0, 0},                     // e = -32768: num = den = 2^30
        {0, 5, 32768, 0, 0, 200, 64001, 256, 65535},               // k = 254
        {1000, 97, 1000, 200, 0, 0, 64001, 1000, 199},             // T = 0: always uncertain
        {1000, 97, 1000, 65535, 65535, 65535, 1000, 1000, 36863},  // T^2 > 2^31
    };
    for (const KalmanCase& c : cases) {
        const KalmanPixel r = kalmanPixel(c.z, c.amp, c.x, c.P, c.q, kalmanLimit(c.T));
        EXPECT_EQ(r.out, c.out) << c.z << " " << c.amp;
        EXPECT_EQ(r.estimate, c.estimate) << c.z << " " << c.amp;
        EXPECT_EQ(r.uncertainty, c.uncertainty) << c.z << " " << c.amp;
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
// output and both updated state arrays with the rule.
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
            if (vOut[i] != out[i] || vEst[i] != est[i] || vUnc[i] != unc[i]) {
                FAIL() << "pixel " << i << " of " << n << ": z " << z[i] << " amp " << amp[i]
                       << " x " << x[i] << " P " << P[i] << " q " << q << " T " << T << " gives "
                       << vOut[i] << "/" << vEst[i] << "/" << vUnc[i] << ", expected " << out[i]
                       << "/" << est[i] << "/" << unc[i];
            }
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
// every sigma, with innovations |e| <= sigma that keep it there.
TEST(KalmanKernels, EveryPredictedQuotient) {
    const Pixels amps = amplitudePerSigma();
    std::mt19937 rng(17);
    for (size_t s = 0; s < amps.size(); ++s) {
        const int sigma = static_cast<int>(22500 / (amps[s] + 3));
        const auto q = static_cast<uint16_t>(s * 211);
        std::uniform_int_distribution<int> within(-sigma, sigma);
        Pixels z, x, P;
        for (int pp = q; pp <= q + 65535; pp += THIN) {
            x.push_back(static_cast<uint16_t>(pp));
            z.push_back(static_cast<uint16_t>(pp + within(rng)));
            P.push_back(static_cast<uint16_t>(pp - q));
        }
        expectKalmanBitExact(z, Pixels(z.size(), amps[s]), x, P, q, 200);
    }
}

// Random frames on images of every shape class, run for several frames so
// that each frame starts from the state the previous one left; uncertainty
// thresholds from 0 to beyond 2^31 for T^2.
TEST(KalmanKernels, RandomFramesOfEveryShape) {
    std::mt19937 rng(23);
    std::uniform_int_distribution<int> any(0, 65535), step(-300, 300);
    for (size_t n : {1, 2, 4, 7, 9, 17, 31, 33, 65, 321, 2000}) {
        Pixels x(n), P(n), amp(n), z(n);
        for (size_t i = 0; i < n; ++i) x[i] = static_cast<uint16_t>(any(rng));
        for (int frame = 0; frame < 4; ++frame) {
            for (size_t i = 0; i < n; ++i) {
                z[i] = static_cast<uint16_t>(i % 7 ? x[i] + step(rng) : any(rng));
                amp[i] = static_cast<uint16_t>(i % 3 ? any(rng) % 400 : any(rng));
            }
            const auto q = static_cast<uint16_t>(frame == 3 ? 65535 : any(rng) % 2000);
            const auto T = static_cast<uint16_t>(frame == 2 ? 65535 : any(rng) % 300);
            expectKalmanBitExact(z, amp, x, P, q, T);
            Pixels out(n);
            kalmanPixels(z.data(), amp.data(), x.data(), P.data(), out.data(), n, q,
                         kalmanLimit(T));
        }
    }
}

// The distance image may be the output (in place); an output that overlaps
// it at another address follows the pixel order (no vector step runs then).
TEST(KalmanKernels, InPlaceAndOverlap) {
    const size_t n = 301;
    std::mt19937 rng(31);
    std::uniform_int_distribution<int> any(0, 2999);
    Pixels z(n + 5), amp(n), x(n), P(n);
    for (auto* v : {&z, &amp, &x, &P}) {
        for (auto& p : *v) p = static_cast<uint16_t>(any(rng));
    }
    const auto run = [&](size_t shift) {
        Pixels expOut(z), expEst(x), expUnc(P), io(z), est(x), unc(P);
        kalmanPixels(expOut.data(), amp.data(), expEst.data(), expUnc.data(), expOut.data() + shift,
                     n, 1000, 40000);
        kalmanUpdate(io.data(), amp.data(), est.data(), unc.data(), io.data() + shift, n, 1000,
                     40000);
        ASSERT_EQ(io, expOut) << "shift " << shift;
        ASSERT_EQ(est, expEst);
        ASSERT_EQ(unc, expUnc);
    };
    forEachTarget([&] { run(0); });
    run(3);
}

}  // namespace
