// The fits behind ozr-calibrate on synthetic data whose answer is known:
// the cyclic error and the delay step from a sweep, a smooth surface past
// objects in front of it, a tilted plane through a lens, and the refusals.
#include "calibrate_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

using namespace calib;

constexpr double TWO_PI = 2.0 * std::numbers::pi;

TEST(CalibrateMath, SolvesSymmetricSystemsAndRefusesSingularOnes) {
    std::vector<double> x;
    ASSERT_TRUE(solveSymmetric({4, 2, 2, 3}, {10, 8}, 2, x));
    EXPECT_NEAR(x[0], 1.75, 1e-12);
    EXPECT_NEAR(x[1], 1.5, 1e-12);
    EXPECT_FALSE(solveSymmetric({1, 1, 1, 1}, {1, 1}, 2, x));
    EXPECT_FALSE(solveSymmetric({1, 0, 0}, {1}, 2, x));  // wrong size
}

TEST(CalibrateMath, RawPhasesWrapIntoOneTurn) {
    const struct {
        double turns;
        uint16_t raw;
    } cases[] = {{0.0, 0}, {0.25, 16384}, {-1.0 / 65536, 65535}, {1.0, 0}, {1.5, 32768}};
    for (const auto& c : cases) EXPECT_EQ(rawPhase(c.turns), c.raw) << c.turns;
    EXPECT_DOUBLE_EQ(wrapSigned(0.75), -0.25);
    EXPECT_DOUBLE_EQ(wrapUnit(-0.25), 0.75);
}

// A sweep over pixels at different distances: measured p with
// p = a + g step + E(p), E of harmonics 2 and 4; p found by iteration as
// the sensor produces it.
DelaySweep syntheticSweep(double turnsPerStep, size_t steps, double noise) {
    DelaySweep s;
    s.pixels = 200;
    s.steps = steps;
    for (size_t j = 0; j < steps; ++j) s.stepOf.push_back(std::round(255.0 * j / (steps - 1)));
    uint64_t state = 12345;
    auto uniform = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(state >> 11) * 0x1.0p-53 - 0.5;
    };
    for (size_t px = 0; px < s.pixels; ++px) {
        const double a = static_cast<double>(px) / s.pixels;
        for (size_t j = 0; j < steps; ++j) {
            const double q = a + turnsPerStep * s.stepOf[j];
            double p = q;
            for (int it = 0; it < 50; ++it) {
                p = q + 0.002 * std::sin(TWO_PI * 4 * p + 1.0) + 0.001 * std::cos(TWO_PI * 2 * p);
            }
            s.phase.push_back(wrapUnit(p + noise * uniform()));
        }
    }
    return s;
}

TEST(CalibrateMath, DelaySweepGivesTheStepAndTheCyclicError) {
    const double perStep = 250e-12 * 20e6;  // 250 ps at 20 MHz
    const SweepFit fit = fitDelaySweep(syntheticSweep(perStep, 64, 1e-4), 8);
    ASSERT_TRUE(fit.ok) << fit.error;
    EXPECT_NEAR(fit.turnsPerStep / 20e6 * 1e12, 250.0, 0.1);
    EXPECT_NEAR(fit.coveredTurns, 255 * perStep, 1e-3);
    double worst = 0;
    for (double p = 0; p < 1; p += 1.0 / 512) {
        const double truth =
            0.002 * std::sin(TWO_PI * 4 * p + 1.0) + 0.001 * std::cos(TWO_PI * 2 * p);
        worst = std::max(worst, std::abs(fit.cyclic(p) - truth));
    }
    EXPECT_LT(worst, 2e-5);
    // The table holds E at the centres of its bins as raw phases.
    const auto table = fit.cyclic.table(256);
    ASSERT_EQ(table.size(), 256u);
    EXPECT_EQ(table[10], rawPhase(fit.cyclic(10.5 / 256)));
}

TEST(CalibrateMath, DelaySweepRefusesTooFewStepsAndReportsShortCoverage) {
    EXPECT_FALSE(fitDelaySweep(syntheticSweep(0.005, 10, 0), 8).ok);
    // A delay line too short for the frequency: the fit says how little it
    // covered, so that the tool can refuse it.
    const SweepFit shortSweep = fitDelaySweep(syntheticSweep(0.002, 64, 0), 4);
    EXPECT_FALSE(shortSweep.ok);
    EXPECT_NEAR(shortSweep.coveredTurns, 0.51, 0.01);
    EXPECT_NE(shortSweep.error.find("covers only"), std::string::npos);
}

TEST(CalibrateMath, SurfaceFitLooksPastObjectsInFrontOfTheWall) {
    const uint32_t w = 80, h = 60;
    std::vector<double> values(w * h);
    std::vector<uint8_t> mask(w * h, 1);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const double u = (x + 0.5) / w - 0.5, v = (y + 0.5) / h - 0.5;
            double value = 30 * u * u - 12 * v + 5 * u * v + 0.3 * std::sin(x * 1.7 + y * 0.3);
            // A box 400 mm in front of the wall, and a hole of no signal.
            if (x >= 10 && x < 25 && y >= 20 && y < 40) value -= 400;
            if (x >= 60 && x < 64 && y >= 5 && y < 9) mask[y * w + x] = 0;
            values[y * w + x] = value;
        }
    }
    const SurfaceFit fit = fitSurface(values, mask, w, h, 4, 20.0);
    ASSERT_TRUE(fit.ok);
    EXPECT_EQ(fit.inliers, w * h - 15 * 20 - 16u);
    EXPECT_LT(fit.rms, 0.3);
    for (uint32_t y = 20; y < 40; ++y) {
        for (uint32_t x = 10; x < 25; ++x) {
            const double u = (x + 0.5) / w - 0.5, v = (y + 0.5) / h - 0.5;
            EXPECT_NEAR(fit.surface[y * w + x], 30 * u * u - 12 * v + 5 * u * v, 0.5);
        }
    }
}

TEST(CalibrateMath, TiltedPlaneIsFoundThroughTheRays) {
    const uint32_t w = 64, h = 48;
    std::vector<float> rx(w * h), ry(w * h), rz(w * h);
    std::vector<double> measured(w * h);
    const double tx = std::tan(0.3), ty = -0.05, z0 = 1500, constant = 200;
    for (uint32_t i = 0; i < w * h; ++i) {
        const double u = ((i % w) - w / 2.0) / 60.0, v = ((i / w) - h / 2.0) / 60.0;
        const double norm = std::sqrt(1 + u * u + v * v);
        rx[i] = static_cast<float>(u / norm);
        ry[i] = static_cast<float>(v / norm);
        rz[i] = static_cast<float>(1 / norm);
        measured[i] = constant + planeDistance(z0, tx, ty, rx[i], ry[i], rz[i]);
        if (i % 97 == 0) measured[i] -= 500;  // objects
    }
    const PlaneFit fit = fitTiltedPlane(measured, std::vector<uint8_t>(w * h, 1), rx.data(),
                                        ry.data(), rz.data(), z0, 50.0);
    ASSERT_TRUE(fit.ok);
    EXPECT_NEAR(fit.tx, tx, 1e-4);
    EXPECT_NEAR(fit.ty, ty, 1e-4);
    EXPECT_NEAR(fit.constant, constant, 0.1);
    EXPECT_EQ(fit.inliers, w * h - (w * h + 96) / 97);
}

TEST(CalibrateMath, LineFit) {
    const Line line = fitLine({30, 35, 40, 45}, {0, 110, 220, 330});
    ASSERT_TRUE(line.ok);
    EXPECT_NEAR(line.b, 22.0, 1e-12);
    EXPECT_NEAR(line.a, -660.0, 1e-9);
    EXPECT_FALSE(fitLine({30, 30}, {1, 2}).ok);
    EXPECT_DOUBLE_EQ(median({3, 1, 2}), 2.0);
}

}  // namespace
