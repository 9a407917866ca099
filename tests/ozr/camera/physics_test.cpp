// The camera's physics on the virtual sensor, against the driver's ground
// truth: calibrated distance per region and modulation frequency, the pixel
// codes of saturated, weak, disturbed and edge pixels, the noise reduction of
// the filters, and the flat field of the compensated grayscale image.
//
// Every bound follows from the sensor's noise model (ozrsim::kReadNoiseVariance,
// kShotNoisePerCount, kNoiseBoundSigma): a DCS sample of a pixel of
// amplitude A carries noise of sigma = s * sqrt(1 + A / 64) counts (s the
// scene's noise scale), bounded at 3.46 sigma, and is rounded to an integer
// (variance 1/12 more). With x = DCS2 - DCS0 = 2A cos(p) and
// y = DCS3 - DCS1 = 2A sin(p), the noise across (x, y) has variance
// 2 (sigma^2 + 1/12), so the phase has a spread of sqrt((sigma^2 + 1/12) / 2) / A
// radians, and the four samples together move (x, y) by at most
// 2 sqrt(2) (3.46 sigma + 0.5).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numeric>
#include <optional>
#include <vector>

#include "cameraTestUtil.h"
#include "ozr/pointCloud.h"
#include "scene_model.h"

namespace {

using camtest::Spread;
using camtest::spreadOf;
using ozr::AcquisitionMode;
using ozr::ControlID;
using ozr::FrameType;
using ozrsim::GroundTruth;
using ozrsim::Model;

constexpr uint16_t LIMIT_VALID_VALUE = 64000;
constexpr uint16_t LOW_AMPLITUDE = 64001;
constexpr uint16_t SATURATION = 64003;
constexpr uint16_t INTERFERENCE = 64005;
constexpr uint16_t EDGE_FILTERED = 64006;
constexpr double MIN_AMPLITUDE = 100;  // the filter graph's defaults
constexpr double INTERFERENCE_THRESHOLD = 500;
constexpr double EDGE_THRESHOLD = 200;
constexpr double QUANTIZATION_VARIANCE = 1.0 / 12.0;  // of rounding or truncating to integers
constexpr double PI = std::numbers::pi;

double sq(double v) {
    return v * v;
}
double mmPerRadian(double hz) {
    return ozrsim::kSpeedOfLightMps * 1000.0 / (4.0 * PI * hz);
}
double sampleSigma(double amplitude, double scale) {
    return scale * std::sqrt(ozrsim::kReadNoiseVariance +
                             ozrsim::kShotNoisePerCount * std::max(amplitude, 0.0));
}
// Largest displacement of (x, y) / 2 by the noise of the four samples.
double amplitudeBound(double amplitude, double scale) {
    return std::sqrt(2.0) * (ozrsim::kNoiseBoundSigma * sampleSigma(amplitude, scale) + 0.5);
}
// Spread of the distance of one pixel, before its truncation to millimetres.
double distanceSigmaMm(double amplitude, double scale, double hz) {
    return mmPerRadian(hz) *
           std::sqrt((sq(sampleSigma(amplitude, scale)) + QUANTIZATION_VARIANCE) / 2.0) / amplitude;
}
// Largest distance error the noise can cause (infinite when the noise can
// move (x, y) through the origin), plus the truncation to millimetres.
double distanceBoundMm(double amplitude, double scale, double hz) {
    const double r = amplitudeBound(amplitude, scale) / amplitude;
    return r < 1.0 ? mmPerRadian(hz) * std::asin(r) + 1.0 : INFINITY;
}

// What the calibration leaves of the sensor's systematic errors at `hz`: the
// steepest slope of the cyclic error (removing it scales the noise by up to
// 1 / (1 - steepest)) and the calibration's resolution in millimetres:
// offset, temperature shift and table values rounded to raw units (1/2
// each), and one table entry per bin of 65536 / kPhaseLutSize raw phases, not
// interpolated (the error changes by up to half a bin times its slope).
struct CalibrationLimits {
    std::function<double(double)> slope;  // of the cyclic error at ideal phase q (turns)
    double steepest = 0;
    double resolutionMm = 0;
    double driftSeconds = 0;  // the die's temperature drift as a delay
};
CalibrationLimits calibrationLimits(const ozrsim::SensorErrorModel& errors, uint32_t hz) {
    CalibrationLimits l;
    l.slope = [&errors, hz](double q) {
        constexpr double H = 1e-6;
        return (errors.cyclicErrorTurns(q + H, hz) - errors.cyclicErrorTurns(q - H, hz)) / (2 * H);
    };
    for (double q = 0; q < 1; q += 1.0 / 4096)
        l.steepest = std::max(l.steepest, std::abs(l.slope(q)));
    const double resolutionRaw = 1.5 + l.steepest * 65536.0 / ozrsim::kPhaseLutSize / 2;
    l.resolutionMm = resolutionRaw * 2.0 * PI / 65536.0 * mmPerRadian(hz);
    l.driftSeconds = 2e-3 * ozrsim::kTempDriftMmPerK *
                     (ozrsim::temperature() - ozrsim::kCalibrationTempC) / ozrsim::kSpeedOfLightMps;
    return l;
}

class CameraPhysics : public camtest::CameraOnSim {
protected:
    std::unique_ptr<ozr::TOFFrame> capture() {
        std::unique_ptr<ozr::TOFFrame> frame;
        EXPECT_EQ(cam->captureFrame(frame), 0);
        return frame;
    }
    static const uint16_t* image(const ozr::TOFFrame& f, FrameType t, size_t index = 0) {
        return f.getData<uint16_t>(t, index);
    }
    // Truth of the static scene, taken after a first frame.
    GroundTruth truth() {
        GroundTruth t = ozrsim::lastTruth();
        uint32_t w = 0, h = 0;
        publishedSize(w, h);
        EXPECT_EQ(t.width, w);
        EXPECT_EQ(t.height, h);
        return t;
    }
    const char* model() const { return GetParam() == Model::OZR310 ? "OZR310" : "OZR320"; }
    static bool clipped(const GroundTruth& t, size_t i) {
        return (t.flags[i] & GroundTruth::kTruthClipped) != 0;
    }
};

// Calibrated distances on the "boxes" scene with every systematic error on
// (signal delay pattern, cyclic phase error, a die 6 K above the calibration
// temperature), at two calibrated frequencies and one between them, per
// surface. Removing the cyclic error p = q + e(q) maps the measured phase p
// back to the ideal q, so the noise of p reaches the distance scaled by
// dq/dp = 1 / (1 + e'(q)); the sensor's own error model gives e' per pixel.
// Then the mean error is the truncation to millimetres (-0.5 mm) within its
// statistical uncertainty plus the calibration's resolution, the spread is
// the noise model's, and no pixel leaves its noise bound.
TEST_P(CameraPhysics, CalibratedDistanceWithinTheNoisePerRegion) {
    ozrsim::Config c = config();
    c.scene.name = "boxes";
    c.scene.systematicErrors = true;
    c.calibration = ozrsim::Calibration::Synthetic;
    c.temperature.startC = ozrsim::kCalibrationTempC + 6.0f;
    openCamera(c);
    constexpr size_t FRAMES = 4;
    struct Region {
        const char* name;
        double nearMm, farMm;  // true radial distance of the surface's pixels
    };
    const Region regions[] = {{"box at 0.9 m", 800, 1300},
                              {"box at 1.6 m", 1300, 2200},
                              {"box at 2.4 m", 2200, 2990},
                              {"back wall at 3 m", 2990, 4000}};
    const std::pair<uint32_t, bool> frequencies[] = {
        {20000000, false}, {40000000, false}, {30000000, true}};
    for (const auto& [hz, interpolated] : frequencies) {
        SCOPED_TRACE(hz);
        log.clear();
        ASSERT_EQ(cam->setControl(ControlID::MODULATION_FREQ_HZ, static_cast<int>(hz)), 0);
        EXPECT_EQ(log.count("Interpolating phase offset for modulation frequency " +
                            std::to_string(hz) + " Hz.") > 0,
                  interpolated);
        std::vector<std::unique_ptr<ozr::TOFFrame>> frames;
        for (size_t k = 0; k < FRAMES; ++k) frames.push_back(capture());
        ASSERT_TRUE(frames.back());
        const GroundTruth t = truth();
        const ozrsim::SensorErrorModel errors(c.model, t.width, t.height, c.seed);
        const CalibrationLimits limits = calibrationLimits(errors, hz);
        const auto& slope = limits.slope;
        const double steepest = limits.steepest, resolutionMm = limits.resolutionMm;
        const double driftSeconds = limits.driftSeconds;
        for (const Region& r : regions) {
            std::vector<double> errs;
            double variance = 0, worst = 0;
            size_t invalid = 0, outside = 0;
            for (size_t i = 0; i < t.distanceMm.size(); ++i) {
                const double a = t.amplitude[i], d = t.distanceMm[i];
                if (d < r.nearMm || d >= r.farMm || clipped(t, i) ||
                    a - amplitudeBound(a, 1) - 1 < MIN_AMPLITUDE) {
                    continue;
                }
                double q = hz * (2e-3 * d / ozrsim::kSpeedOfLightMps + errors.delaySeconds()[i] +
                                 driftSeconds);
                q -= std::floor(q);
                const double scale = 1.0 / (1.0 + slope(q));
                const double bound = distanceBoundMm(a, 1, hz) / (1.0 - steepest) + resolutionMm;
                for (const auto& f : frames) {
                    const uint16_t mm = image(*f, FrameType::DISTANCE)[i];
                    if (mm >= LIMIT_VALID_VALUE) {
                        ++invalid;
                        continue;
                    }
                    const double e = camtest::wrappedErrorMm(mm, d, hz);
                    outside += std::abs(e) > bound;
                    worst = std::max(worst, std::abs(e) / bound);
                    errs.push_back(e);
                    variance += sq(distanceSigmaMm(a, 1, hz) * scale);
                }
            }
            ASSERT_GT(errs.size(), 100u) << r.name;
            const Spread s = spreadOf(errs);
            const double predicted = std::sqrt(variance / s.n + QUANTIZATION_VARIANCE);
            std::printf(
                "[ accuracy ] %s %2u MHz%s %-17s: mean error %+6.2f mm, spread %5.2f mm "
                "(noise model %5.2f mm), worst pixel at %2.0f %% of its bound, %zu samples\n",
                model(), hz / 1000000, interpolated ? " (interpolated)" : "              ", r.name,
                s.mean, s.std, predicted, 100 * worst, s.n);
            EXPECT_EQ(invalid, 0u) << r.name;
            EXPECT_EQ(outside, 0u) << r.name;
            EXPECT_NEAR(s.mean, -0.5, 4.0 * predicted / std::sqrt(s.n) + resolutionMm) << r.name;
            // The spread of a spread estimate is 1/sqrt(2n); the
            // calibration's resolution adds at most its own variance.
            EXPECT_GE(s.std, predicted * (1.0 - 4.0 / std::sqrt(2.0 * s.n))) << r.name;
            EXPECT_LE(s.std, std::hypot(predicted * (1.0 + 4.0 / std::sqrt(2.0 * s.n)),
                                        resolutionMm / std::sqrt(3.0)))
                << r.name;
        }
    }
}

// Pixels that surely saturate carry 64003 in distance and amplitude; pixels
// surely below the minimum amplitude carry 64001 in the distance and keep
// their amplitude; all others are valid.
TEST_P(CameraPhysics, SaturatedAndWeakPixelsCarryTheirCodes) {
    ozrsim::Config c = config();
    c.scene.name = "boxes";
    openCamera(c);
    const auto f = capture();
    ASSERT_TRUE(f);
    const GroundTruth t = truth();
    const uint16_t* dist = image(*f, FrameType::DISTANCE);
    const uint16_t* amp = image(*f, FrameType::AMPLITUDE);
    enum Kind { SATURATED, WEAK, VALID, KINDS };
    // Saturated: in at least one sample the signal exceeds A / sqrt(2) and
    // pushes it below 0 from any dark level below 4096, noise included.
    auto kindOf = [&](size_t i) -> int {
        const double a = t.amplitude[i], bound = amplitudeBound(a, 1);
        if (a / std::sqrt(2.0) > 4095.0 + bound) return SATURATED;
        if (clipped(t, i)) return KINDS;
        if (a + bound < MIN_AMPLITUDE) return WEAK;
        if (a - bound - 1 >= MIN_AMPLITUDE) return VALID;
        return KINDS;
    };
    size_t count[KINDS] = {}, wrong[KINDS] = {};
    for (size_t i = 0; i < t.amplitude.size(); ++i) {
        const int k = kindOf(i);
        if (k == KINDS) continue;
        ++count[k];
        bool ok = false;
        if (k == SATURATED) {
            ok = dist[i] == SATURATION && amp[i] == SATURATION;
        } else if (k == WEAK) {
            ok = dist[i] == LOW_AMPLITUDE &&
                 std::abs(amp[i] - t.amplitude[i]) <= amplitudeBound(t.amplitude[i], 1) + 1;
        } else {
            ok = dist[i] < LIMIT_VALID_VALUE && amp[i] < LIMIT_VALID_VALUE;
        }
        if (!ok && wrong[k]++ < 3) {
            ADD_FAILURE() << "pixel " << i << " kind " << k << ": distance " << dist[i]
                          << ", amplitude " << amp[i] << ", true amplitude " << t.amplitude[i];
        }
    }
    std::printf("[ codes    ] %s: %zu saturated, %zu weak, %zu valid pixels checked\n", model(),
                count[SATURATED], count[WEAK], count[VALID]);
    for (int k = 0; k < KINDS; ++k) {
        EXPECT_GT(count[k], 0u) << k;
        EXPECT_EQ(wrong[k], 0u) << k;
    }
}

// A foreign light source shines from the scene's seventh frame on. The
// disturbed region carries 64005 in the distance image; with latching on it
// holds the values of the last undisturbed frame instead. Elsewhere
// distances stay valid.
TEST_P(CameraPhysics, InterferenceIsMarkedOrHeldAtTheLastGoodValue) {
    for (const bool latching : {false, true}) {
        SCOPED_TRACE(latching ? "latching" : "marking");
        cam.reset();
        ozrsim::reset();
        ozrsim::Config c = config();
        c.scene.interference = true;
        c.scene.interferenceFromFrame = 6;
        openCamera(c);
        ASSERT_EQ(cam->setControl(ControlID::INTERFERENCE_DETECTION_ENABLE, 1), 0);
        ASSERT_EQ(cam->setControl(ControlID::INTERFERENCE_ENABLE_LATCHING, latching), 0);
        std::vector<std::unique_ptr<ozr::TOFFrame>> frames;
        for (int k = 0; k < 16; ++k) frames.push_back(capture());
        ASSERT_TRUE(frames.back());
        const GroundTruth t = truth();
        std::vector<size_t> region, rest;
        for (size_t i = 0; i < t.flags.size(); ++i) {
            ((t.flags[i] & GroundTruth::kTruthInterference) ? region : rest).push_back(i);
        }
        ASSERT_FALSE(region.empty());
        // A frame is disturbed when the region's DCS sums stand out from the
        // rest's by more than the detection threshold.
        auto disturbed = [&](const ozr::TOFFrame& f) {
            const uint16_t* d0 = image(f, FrameType::DCS, 0);
            const uint16_t* d2 = image(f, FrameType::DCS, 2);
            auto mean = [&](const std::vector<size_t>& px) {
                double s = 0;
                for (size_t i : px) s += d0[i] + d2[i];
                return s / px.size();
            };
            return mean(region) - mean(rest) > INTERFERENCE_THRESHOLD;
        };
        const ozr::TOFFrame* lastGood = nullptr;
        size_t good = 0, bad = 0;
        for (const auto& f : frames) {
            const uint16_t* dist = image(*f, FrameType::DISTANCE);
            const bool hit = disturbed(*f);
            ASSERT_TRUE(lastGood || !hit) << "the first frame is disturbed";
            good += !hit;
            bad += hit;
            size_t wrong = 0, unchanged = 0;
            for (size_t i : rest) {
                wrong += dist[i] >= LIMIT_VALID_VALUE;
                unchanged += hit && dist[i] == image(*lastGood, FrameType::DISTANCE)[i];
            }
            // Outside the region the distances follow the noise: only a few
            // keep the value of the last undisturbed frame.
            EXPECT_LT(unchanged, rest.size() / 2);
            for (size_t i : region) {
                if (!hit) {
                    wrong += dist[i] >= LIMIT_VALID_VALUE;
                } else if (latching) {
                    const uint16_t held = image(*lastGood, FrameType::DISTANCE)[i];
                    wrong += dist[i] != held || held >= LIMIT_VALID_VALUE;
                } else {
                    wrong += dist[i] != INTERFERENCE;
                }
            }
            EXPECT_EQ(wrong, 0u) << "frame " << f->getMetadata().frameNumber
                                 << (hit ? " disturbed" : " undisturbed");
            if (!hit) lastGood = f.get();
        }
        std::printf("[ interference] %s %s: %zu pixels disturbed, %zu frames before, %zu after\n",
                    model(), latching ? "latching" : "marking", region.size(), good, bad);
        // Undisturbed frames first, then disturbed ones only.
        EXPECT_GE(good, 2u);
        EXPECT_GE(bad, 3u);
        EXPECT_EQ(good + bad, frames.size());
    }
}

// With the edge filter on, every pixel whose horizontal or vertical
// neighbours surely differ by more than the threshold is 64006, and no pixel
// whose neighbours surely differ by less is.
TEST_P(CameraPhysics, EdgeFilterMarksBoxBorders) {
    ozrsim::Config c = config();
    c.scene.name = "boxes";
    openCamera(c);
    ASSERT_EQ(cam->setControl(ControlID::EDGE_FILTER_ENABLE, 1), 0);
    const auto f = capture();
    ASSERT_TRUE(f);
    const GroundTruth t = truth();
    const uint16_t* dist = image(*f, FrameType::DISTANCE);
    const double hz = camtest::DEFAULT_MODULATION_HZ;
    const int w = static_cast<int>(t.width), h = static_cast<int>(t.height);
    size_t edges = 0, flat = 0, wrong = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Border pixels stand in for missing neighbours.
            auto at = [&](int dx, int dy) {
                return static_cast<size_t>(std::clamp(y + dy, 0, h - 1)) * w +
                       std::clamp(x + dx, 0, w - 1);
            };
            const std::pair<size_t, size_t> pairs[] = {{at(-1, 0), at(1, 0)},
                                                       {at(0, -1), at(0, 1)}};
            double surelyAbove = -INFINITY, possiblyAbove = -INFINITY;
            for (const auto& [p, q] : pairs) {
                const double diff = std::abs(t.distanceMm[p] - t.distanceMm[q]);
                const double noise = clipped(t, p) || clipped(t, q)
                                         ? INFINITY
                                         : distanceBoundMm(t.amplitude[p], 1, hz) +
                                               distanceBoundMm(t.amplitude[q], 1, hz);
                surelyAbove = std::max(surelyAbove, diff - noise);
                possiblyAbove = std::max(possiblyAbove, diff + noise);
            }
            const size_t i = at(0, 0);
            if (surelyAbove > EDGE_THRESHOLD) {
                ++edges;
                wrong += dist[i] != EDGE_FILTERED;
            } else if (possiblyAbove <= EDGE_THRESHOLD) {
                ++flat;
                wrong += dist[i] == EDGE_FILTERED;
            }
        }
    }
    std::printf("[ edges    ] %s: %zu border pixels, %zu flat pixels checked\n", model(), edges,
                flat);
    EXPECT_GT(edges, 0u);
    EXPECT_GT(flat, t.distanceMm.size() / 2);
    EXPECT_EQ(wrong, 0u);
}

// Variance of the median of nine independent standard normal values: the
// integral of x^2 times the density of the fifth order statistic,
// 9! / (4! 4!) Phi(x)^4 (1 - Phi(x))^4 phi(x). About 0.1661, so the 3x3
// median keeps 0.41 of the spread; the sqrt(pi / 2) / 3 = 0.418 of the
// large-sample rule is slightly pessimistic for nine values.
double medianOfNineVariance() {
    double sum = 0;
    constexpr double STEP = 1e-3;
    for (double x = -8; x < 8; x += STEP) {
        const double cdf = 0.5 * std::erfc(-x / std::sqrt(2.0));
        const double pdf = std::exp(-x * x / 2) / std::sqrt(2 * PI);
        sum += x * x * 630.0 * std::pow(cdf * (1 - cdf), 4) * pdf * STEP;
    }
    return sum;
}

// Steady-state gain (of 256) of the Kalman filter for a pixel of amplitude
// a, by its own integer recursion with small innovations: measurement
// variance R = (22500 / (a + 3))^2, process noise q.
double kalmanGain(double a, uint64_t q) {
    const uint64_t sigma = 22500 / (static_cast<uint64_t>(a) + 3), r = sigma * sigma;
    uint64_t p = 0, k = 0;
    for (int n = 0; n < 200; ++n) {
        const uint64_t pp = q + p;
        k = 256 * pp / (pp + r);
        p = (256 - k) * pp / 256;
    }
    return k / 256.0;
}

// The spread of the distance on a static wall with each filter alone, as a
// factor of the unfiltered spread, against the filter's arithmetic:
// - 3x3 average of independent noise: 1/3, plus the truncating division
//   (variance 1/12);
// - 3x3 median: sqrt(0.1661) = 0.408 (medianOfNineVariance);
// - temporal filter, an exponential average of weight alpha = 0.25:
//   sqrt(alpha / (2 - alpha)) = 0.378, plus its truncation summed over the
//   recursion (variance 1/12 / (1 - (1 - alpha)^2));
// - Kalman filter, in steady state an exponential average of weight k, the
//   pixel's steady-state gain: sqrt(k / (2 - k)), plus its truncation.
// The wall is noisy (noise scale 3) so that the truncations stay small.
TEST_P(CameraPhysics, FiltersReduceTheSpreadByTheirArithmetic) {
    ozrsim::Config c = config();
    c.scene.noiseScale = 3.0f;
    openCamera(c);
    constexpr double HZ = 20000000;
    constexpr double ALPHA = 0.25;       // the temporal filter's default
    constexpr uint64_t KALMAN_Q = 1000;  // the Kalman filter's default
    constexpr size_t FRAMES = 6, BURN_IN = 24;
    ASSERT_EQ(cam->setControl(ControlID::MODULATION_FREQ_HZ, static_cast<int>(HZ)), 0);
    ASSERT_TRUE(capture());
    const GroundTruth t = truth();
    std::vector<size_t> centre;  // the middle of the image, away from replicated borders
    for (uint32_t y = t.height / 5; y < t.height * 4 / 5; ++y) {
        for (uint32_t x = t.width / 5; x < t.width * 4 / 5; ++x) centre.push_back(y * t.width + x);
    }
    double modelVariance = 0, kalmanVariance = 0, kalmanQuantization = 0;
    for (size_t i : centre) {
        const double v = sq(distanceSigmaMm(t.amplitude[i], c.scene.noiseScale, HZ));
        const double k = kalmanGain(t.amplitude[i], KALMAN_Q);
        modelVariance += v;
        kalmanVariance += k / (2 - k) * v;
        kalmanQuantization += QUANTIZATION_VARIANCE / (1 - sq(1 - k));
    }
    const double kalmanShare = kalmanVariance / modelVariance;
    kalmanQuantization /= centre.size();

    struct Filter {
        const char* name;
        std::optional<ControlID> enable;  // none: unfiltered
        size_t burnIn;
        // Predicted spread factor for an unfiltered variance v (mm^2).
        std::function<double(double)> factor;
    };
    const double medianShare = medianOfNineVariance();
    const Filter filters[] = {
        {"none", std::nullopt, 0, [](double) { return 1.0; }},
        {"median 3x3", ControlID::MEDIAN_FILTER_ENABLE, 0,
         [&](double) { return std::sqrt(medianShare); }},
        {"average 3x3", ControlID::AVERAGE_FILTER_ENABLE, 0,
         [](double v) { return std::sqrt(1.0 / 9 + QUANTIZATION_VARIANCE / v); }},
        {"temporal", ControlID::TEMPORAL_FILTER_ENABLE, BURN_IN,
         [&](double v) {
             return std::sqrt(ALPHA / (2 - ALPHA) +
                              QUANTIZATION_VARIANCE / (1 - sq(1 - ALPHA)) / v);
         }},
        {"Kalman", ControlID::KALMAN_FILTER_ENABLE, BURN_IN,
         [&](double v) { return std::sqrt(kalmanShare + kalmanQuantization / v); }},
    };
    double unfiltered = 0;
    for (const Filter& flt : filters) {
        SCOPED_TRACE(flt.name);
        const bool switched = flt.enable.has_value();
        if (switched) {
            ASSERT_EQ(cam->setControl(*flt.enable, 1), 0);
        }
        for (size_t k = 0; k < flt.burnIn; ++k) ASSERT_TRUE(capture());
        std::vector<double> errors;
        for (size_t k = 0; k < FRAMES; ++k) {
            const auto f = capture();
            ASSERT_TRUE(f);
            const uint16_t* dist = image(*f, FrameType::DISTANCE);
            for (size_t i : centre) {
                ASSERT_LT(dist[i], LIMIT_VALID_VALUE) << i;
                errors.push_back(dist[i] - t.distanceMm[i]);
            }
        }
        if (switched) {
            ASSERT_EQ(cam->setControl(*flt.enable, 0), 0);
        }
        const Spread s = spreadOf(errors);
        if (!switched) unfiltered = s.std;
        const double measured = s.std / unfiltered, predicted = flt.factor(sq(unfiltered));
        // A spread estimated from n samples is uncertain by 1/sqrt(2n)
        // relative; neighbouring outputs share inputs (3x3 window: the
        // squared correlations sum to (19/9)^2 = 4.5; over frames, alpha
        // 0.25: 3.6), so n is taken as a fifth of the samples, for both
        // spreads of the ratio. The noise is bell-shaped, not exactly normal:
        // 3 % more for the median's and the model's approximations.
        const double tolerance = 4.0 * std::sqrt(2.0 * 5.0 / (2.0 * s.n)) + 0.03;
        std::printf(
            "[ filters  ] %s %-11s: spread %6.2f mm, factor %.3f, predicted %.3f (+-%.3f)\n",
            model(), flt.name, s.std, measured, predicted, tolerance * predicted);
        EXPECT_NEAR(measured / predicted, 1.0, tolerance);
        if (!switched) {
            // The unfiltered spread is the noise model's.
            const double model = std::sqrt(modelVariance / centre.size() + QUANTIZATION_VARIANCE);
            EXPECT_NEAR(s.std / model, 1.0, tolerance);
        }
    }
}

// A uniformly lit target in grayscale mode. Over K frames the spatial
// variance of the per-pixel mean is the fixed pattern's plus the noise's
// share sigma_t^2 / K; with both compensations on, the fixed pattern left is
// the resolution of calibration and output (dark offsets in whole counts,
// gains in steps of 1/kPrnuScaleFactor, reciprocal gains in steps of
// 1/4096, and the output truncated to whole counts: with a gain this close
// to one the noise hardly changes where a pixel truncates, so that too is a
// fixed pattern of variance 1/12), far below the noise of one frame; with
// either compensation off the pattern exceeds that noise.
TEST_P(CameraPhysics, GrayscaleCompensationFlattensAUniformTarget) {
    ozrsim::Config c = config();
    c.scene.name = "uniform";
    c.calibration = ozrsim::Calibration::Synthetic;
    openCamera(c);
    ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::GRAYSCALE), 0);
    constexpr size_t K = 8;
    struct Case {
        bool dsnu, prnu;
    };
    const Case cases[] = {{true, true}, {false, false}, {true, false}, {false, true}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "DSNU " << k.dsnu << " PRNU " << k.prnu);
        ASSERT_EQ(cam->setControl(ControlID::ENABLE_GRAYSCALE_DSNU_COMPENSATION, k.dsnu), 0);
        ASSERT_EQ(cam->setControl(ControlID::ENABLE_GRAYSCALE_PRNU_COMPENSATION, k.prnu), 0);
        std::vector<std::unique_ptr<ozr::TOFFrame>> frames;
        for (size_t n = 0; n < K; ++n) frames.push_back(capture());
        ASSERT_TRUE(frames.back());
        const GroundTruth t = truth();
        const size_t n = t.amplitude.size();
        std::vector<double> means(n);
        double noiseVariance = 0;
        for (size_t i = 0; i < n; ++i) {
            double s = 0, ss = 0;
            for (const auto& f : frames) {
                const double v = image(*f, FrameType::GRAYSCALE)[i];
                s += v;
                ss += v * v;
            }
            means[i] = s / K;
            noiseVariance += (ss - s * s / K) / (K - 1);
        }
        noiseVariance /= n;
        const Spread level = spreadOf(means);
        const double pattern = sq(level.std) - noiseVariance / K;
        const double intensity = std::accumulate(t.amplitude.begin(), t.amplitude.end(), 0.0) / n;
        const double resolution =
            QUANTIZATION_VARIANCE *
            (2 + sq(intensity / ozrsim::kPrnuScaleFactor) + sq(intensity / 4096.0));
        // The estimate of the pattern's variance is uncertain by about
        // (sigma_t^2 / K) sqrt(2 / n).
        const double uncertainty = noiseVariance / K * std::sqrt(2.0 / n);
        std::printf(
            "[ grayscale] %s DSNU %d PRNU %d: level %7.1f (true %6.1f), fixed pattern "
            "%6.2f counts (calibration resolution %.2f), noise %.2f counts\n",
            model(), k.dsnu, k.prnu, level.mean, intensity, std::sqrt(std::max(pattern, 0.0)),
            std::sqrt(resolution), std::sqrt(noiseVariance));
        if (k.dsnu && k.prnu) {
            EXPECT_LE(pattern, resolution + 4 * uncertainty);
            // Truncated to whole counts: up to one count below.
            const double se = 4 * std::sqrt(noiseVariance / (K * n));
            EXPECT_GE(level.mean, intensity * (1 - 1 / 4096.0) - 1 - se);
            EXPECT_LE(level.mean, intensity + se);
        } else {
            EXPECT_GT(pattern, noiseVariance);
        }
    }
}

// A plane z = a x + b y + c fitted by least squares: its unit normal (facing
// away from the camera) and its distance from the camera.
struct Plane {
    std::array<double, 3> normal;
    double distanceMm;
};
Plane fitPlane(const std::vector<std::array<double, 3>>& points) {
    double mx = 0, my = 0, mz = 0;
    for (const auto& p : points) mx += p[0], my += p[1], mz += p[2];
    const double n = static_cast<double>(points.size());
    mx /= n, my /= n, mz /= n;
    double sxx = 0, sxy = 0, syy = 0, sxz = 0, syz = 0;
    for (const auto& p : points) {
        const double x = p[0] - mx, y = p[1] - my, z = p[2] - mz;
        sxx += x * x, sxy += x * y, syy += y * y, sxz += x * z, syz += y * z;
    }
    const double det = sxx * syy - sxy * sxy;
    const double a = (sxz * syy - syz * sxy) / det, b = (syz * sxx - sxz * sxy) / det;
    const double c = mz - a * mx - b * my;
    const double norm = std::sqrt(a * a + b * b + 1.0);
    return {{-a / norm, -b / norm, 1.0 / norm}, c / norm};
}

// Point clouds through the calibration's lens, at 40 MHz with every
// systematic error on and calibrated, against the driver's true geometry: a
// plane fitted to the points of a flat surface has the true normal and
// distance; each point lies on its pixel's true ray (the lens model inverts
// the distortion the driver images with, in the corners as in the centre)
// at a distance within the noise bound.
TEST_P(CameraPhysics, PointCloudsFollowTheTrueGeometry) {
    constexpr uint32_t HZ = 40000000;
    constexpr size_t FRAMES = 3;
    const double tilt = 35.0 * PI / 180.0;
    struct Surface {
        const char* scene;
        std::array<double, 3> normal;
        double distanceMm;  // of the plane from the camera
    };
    const Surface surfaces[] = {
        {"wall", {0, 0, 1}, 1500.0},
        {"tilted", {std::sin(tilt), 0, std::cos(tilt)}, 1500.0 * std::cos(tilt)},
        {"boxes", {0, 0, 1}, 3000.0}};  // its back wall
    for (const Surface& surface : surfaces) {
        SCOPED_TRACE(surface.scene);
        cam.reset();
        ozrsim::reset();
        ozrsim::Config c = config();
        c.scene.name = surface.scene;
        c.scene.systematicErrors = true;
        c.calibration = ozrsim::Calibration::Synthetic;
        c.temperature.startC = ozrsim::kCalibrationTempC;
        openCamera(c);
        ozr::LensIntrinsics lens;
        ASSERT_EQ(cam->getLensIntrinsics(lens), 0);
        ASSERT_EQ(cam->setControl(ControlID::MODULATION_FREQ_HZ, static_cast<int>(HZ)), 0);
        (void)capture();  // the first frame at the new frequency
        std::vector<std::array<double, 3>> onPlane;
        // Per region (the four corners of 40 x 30 pixels, then the centre):
        // distance errors, and the largest angle between a point and its
        // pixel's true ray, in pixels.
        std::vector<double> regionErrors[2];
        double lateralPx[2] = {0, 0};
        size_t outside = 0, checked = 0;
        double worst = 0, resolutionMm = 0;
        for (size_t k = 0; k < FRAMES; ++k) {
            const auto frame = capture();
            ASSERT_TRUE(frame);
            const GroundTruth t = truth();
            const ozrsim::SensorErrorModel errors(c.model, t.width, t.height, c.seed);
            const CalibrationLimits limits = calibrationLimits(errors, HZ);
            resolutionMm = limits.resolutionMm;
            std::vector<float> xyz;
            std::vector<uint32_t> pixels;
            ASSERT_EQ(ozr::toPointCloud(*frame, lens, xyz, ozr::CodedPixels::DROP, &pixels), 0);
            ASSERT_EQ(xyz.size(), 3 * pixels.size());
            for (size_t j = 0; j < pixels.size(); ++j) {
                const size_t i = pixels[j];
                const uint32_t x = static_cast<uint32_t>(i % t.width),
                               y = static_cast<uint32_t>(i / t.width);
                const std::array<float, 3> truePoint = t.pointMm(x, y);
                const std::array<double, 3> p = {xyz[3 * j], xyz[3 * j + 1], xyz[3 * j + 2]};
                const double a = t.amplitude[i], d = t.distanceMm[i];
                const double along = std::sqrt(sq(p[0]) + sq(p[1]) + sq(p[2]));
                if (clipped(t, i) || a - amplitudeBound(a, 1) - 1 < MIN_AMPLITUDE) continue;
                // The point's direction against the true ray.
                std::array<double, 3> ray;
                for (int v = 0; v < 3; ++v) ray[v] = truePoint[v] / d;
                const double cross = std::sqrt(sq(p[1] * ray[2] - p[2] * ray[1]) +
                                               sq(p[2] * ray[0] - p[0] * ray[2]) +
                                               sq(p[0] * ray[1] - p[1] * ray[0]));
                const double e = camtest::wrappedErrorMm(along, d, HZ);
                const double bound =
                    distanceBoundMm(a, 1, HZ) / (1.0 - limits.steepest) + limits.resolutionMm;
                ++checked;
                outside += std::abs(e) > bound;
                worst = std::max(worst, std::abs(e) / bound);
                const bool corner = (x < 40 || x >= t.width - 40) && (y < 30 || y >= t.height - 30);
                const bool centre = std::abs(int(x) - int(t.width / 2)) < 20 &&
                                    std::abs(int(y) - int(t.height / 2)) < 15;
                if (corner || centre) {
                    regionErrors[centre].push_back(e);
                    lateralPx[centre] = std::max(lateralPx[centre], cross / along * lens.fx);
                }
                double off = -surface.distanceMm;
                for (int v = 0; v < 3; ++v) off += surface.normal[v] * truePoint[v];
                if (std::abs(off) < 1.0) onPlane.push_back(p);
            }
        }
        ASSERT_GT(onPlane.size(), 10000u);
        const Plane fit = fitPlane(onPlane);
        const double cosAngle = fit.normal[0] * surface.normal[0] +
                                fit.normal[1] * surface.normal[1] +
                                fit.normal[2] * surface.normal[2];
        const double angleDeg = std::acos(std::min(1.0, cosAngle)) * 180.0 / PI;
        const Spread corners = spreadOf(regionErrors[0]), centre = spreadOf(regionErrors[1]);
        std::printf(
            "[ points   ] %s %-6s: plane normal off by %.3f deg, distance %+.2f mm (%zu points); "
            "mean error corners %+.2f mm (spread %.2f), centre %+.2f mm (spread %.2f); largest "
            "angle to the true ray corners %.4f px, centre %.4f px; worst pixel at %.0f %% of "
            "its bound\n",
            model(), surface.scene, angleDeg, fit.distanceMm - surface.distanceMm, onPlane.size(),
            corners.mean, corners.std, centre.mean, centre.std, lateralPx[0], lateralPx[1],
            100 * worst);
        EXPECT_LT(angleDeg, 0.2);
        EXPECT_NEAR(fit.distanceMm, surface.distanceMm, 1.0);
        EXPECT_GT(checked, 10000u);
        EXPECT_EQ(outside, 0u);
        ASSERT_GT(corners.n, 100u);
        ASSERT_GT(centre.n, 100u);
        // Each point on its pixel's true ray: what is left is float rounding.
        EXPECT_LT(lateralPx[0], 0.01);
        EXPECT_LT(lateralPx[1], 0.01);
        // No bias in the corners that the centre does not have either.
        EXPECT_NEAR(corners.mean, centre.mean,
                    4.0 * (corners.std / std::sqrt(corners.n) + centre.std / std::sqrt(centre.n)) +
                        resolutionMm);
    }
}

INSTANTIATE_TEST_SUITE_P(Models, CameraPhysics, testing::Values(Model::OZR310, Model::OZR320),
                         camtest::modelName);

}  // namespace
