// The virtual sensor's images: the four-phase samples recover each scene's
// true distance and amplitude, the OZR310 buffers are the exact inverse of
// the library's unfolding, samples are 12-bit values in the upper bits and
// clip at 0 and 4095, noise is deterministic per seed and frame, and the
// grayscale, HDR and interference renderings have the documented content.
#include "scene.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scene_model.h"
#include "sim_reference.h"

namespace {

using ozrsim::AcqType;
using ozrsim::GroundTruth;
using ozrsim::Model;
using ozrsim::Renderer;
using ozrsim::SceneConfig;
using ozrsim::SensorState;

using simref::mmPerRad;
using simref::PI;

SensorState stateFor(Model model) {
    SensorState s;
    s.model = model;
    if (model == Model::OZR310) {
        s.width = 640;
        s.height = 120;
    }
    return s;
}

SceneConfig scene(const std::string& name, float noise = 0.0f, bool systematic = false) {
    SceneConfig sc;
    sc.name = name;
    sc.noiseScale = noise;
    sc.systematicErrors = systematic;
    return sc;
}

// Worst-case phase error of noiseless samples: rounding each sample moves
// each difference by at most 1 count, which turns the phasor of length 2A by
// at most asin(sqrt(2) / 2A) ~ 0.71 / A rad; the CORDIC adds up to 3 raw.
double quantizationTolMm(float amplitude, uint32_t hz) {
    return (0.75 / amplitude + 3.0 * 2.0 * PI / 65536.0) * mmPerRad(hz);
}

struct Measured {
    std::vector<double> distanceMm;
    std::vector<float> amplitude;
};

Measured measure(const std::vector<std::vector<uint16_t>>& samples, size_t first, uint32_t hz) {
    Measured m;
    const size_t n = samples[first].size();
    m.distanceMm.resize(n);
    m.amplitude.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const auto pa = simref::phaseAmp(samples[first][i], samples[first + 1][i],
                                         samples[first + 2][i], samples[first + 3][i]);
        m.distanceMm[i] = pa.phase / 65536.0 * simref::rangeMm(hz);
        m.amplitude[i] = pa.amplitude;
    }
    return m;
}

std::vector<std::vector<uint16_t>> render(Renderer& r, const SensorState& s) {
    auto raw = r.renderFrame(s);
    return simref::toSamples(raw, s.model == Model::OZR310, s.width, s.height);
}

// --- Recovery of distance and amplitude ---------------------------------

TEST(RendererPhysics, FourPhaseSamplesRecoverEveryScene) {
    for (const char* name : {"wall", "boxes", "tilted", "uniform"}) {
        for (Model model : {Model::OZR320, Model::OZR310}) {
            SCOPED_TRACE(std::string(name) + (model == Model::OZR310 ? " OZR310" : " OZR320"));
            Renderer r(scene(name), 7);
            ASSERT_TRUE(r.valid()) << r.error();
            SensorState s = stateFor(model);
            const auto img = render(r, s);
            ASSERT_EQ(img.size(), 4u);
            const GroundTruth& t = r.truth();
            ASSERT_EQ(t.width, 320u);
            ASSERT_EQ(t.height, 240u);
            ASSERT_EQ(img[0].size(), t.distanceMm.size());
            const Measured m = measure(img, 0, s.modulationHz);
            size_t checked = 0;
            for (size_t i = 0; i < m.distanceMm.size(); ++i) {
                if ((t.flags[i] & GroundTruth::kTruthClipped) || t.amplitude[i] < 20.0f) continue;
                ++checked;
                const double err =
                    simref::wrappedError(m.distanceMm[i], t.distanceMm[i], s.modulationHz);
                ASSERT_LE(std::fabs(err), quantizationTolMm(t.amplitude[i], s.modulationHz))
                    << "pixel " << i << " truth " << t.distanceMm[i];
                ASSERT_NEAR(m.amplitude[i], t.amplitude[i], 1.0) << "pixel " << i;
            }
            EXPECT_GT(checked, m.distanceMm.size() * 8 / 10);
        }
    }
}

// A flat field: the same distance and intensity in every pixel.
TEST(RendererPhysics, UniformSceneIsAFlatField) {
    Renderer r(scene("uniform"), 2);
    SensorState s;
    s.acq = AcqType::Grayscale;
    ASSERT_EQ(render(r, s).size(), 1u);
    const GroundTruth& t = r.truth();
    const auto [lo, hi] = std::minmax_element(t.amplitude.begin(), t.amplitude.end());
    EXPECT_GT(*lo, 0.0f);
    EXPECT_EQ(*lo, *hi);
    for (float d : t.distanceMm) ASSERT_EQ(d, SceneConfig{}.wallDistanceMm);
}

TEST(RendererPhysics, DistancesWrapAtTheUnambiguousRange) {
    // A wall beyond c / 2f is seen at its distance modulo the range.
    SceneConfig sc = scene("wall");
    sc.wallDistanceMm = 9000.0f;
    Renderer r(sc, 1);
    SensorState s;
    s.modulationHz = 40000000;  // range 3747 mm
    s.exposureUs = 4000;
    const auto img = render(r, s);
    const Measured m = measure(img, 0, s.modulationHz);
    const size_t centre = 120 * 320 + 160;
    const double truth = r.truth().distanceMm[centre];
    EXPECT_GT(truth, simref::rangeMm(s.modulationHz));
    EXPECT_NEAR(m.distanceMm[centre], std::fmod(truth, simref::rangeMm(s.modulationHz)), 3.0);
}

// LED_DELAY_STEP lengthens every path by the same time, and a scene under a
// dark cloth shows no signal at all.
TEST(RendererPhysics, LedDelayShiftsEveryDistanceAndDarkShowsNoSignal) {
    Renderer r(scene("boxes"), 3);
    SensorState s;
    const Measured base = measure(render(r, s), 0, s.modulationHz);
    for (const int step : {1, 10, 37, 255}) {
        SCOPED_TRACE(step);
        s.ledDelayStep = step;
        const Measured m = measure(render(r, s), 0, s.modulationHz);
        const double shiftMm =
            step * ozrsim::kLedDelayStepSeconds * ozrsim::kSpeedOfLightMps / 2e-3;
        for (size_t i = 0; i < m.distanceMm.size(); i += 97) {
            if ((r.truth().flags[i] & GroundTruth::kTruthClipped) ||
                r.truth().amplitude[i] < 20.0f) {
                continue;
            }
            ASSERT_NEAR(
                simref::wrappedError(m.distanceMm[i], base.distanceMm[i] + shiftMm, s.modulationHz),
                0.0, 2.0 * quantizationTolMm(r.truth().amplitude[i], s.modulationHz))
                << "pixel " << i;
        }
    }
    SceneConfig dark = scene("boxes");
    dark.dark = true;
    Renderer d(dark, 3);
    const Measured m = measure(render(d, SensorState{}), 0, SensorState{}.modulationHz);
    EXPECT_LE(*std::max_element(m.amplitude.begin(), m.amplitude.end()), 1.0f);
}

// Each seed is a unit of its own: its constant path delay and its cyclic
// error differ from another unit's.
TEST(RendererPhysics, SeedsAreUnitsWithTheirOwnErrors) {
    const ozrsim::SensorErrorModel a(Model::OZR320, 320, 240, 1), b(Model::OZR320, 320, 240, 2);
    const size_t centre = 120 * 320 + 160;
    EXPECT_GT(std::fabs(a.delaySeconds()[centre] - b.delaySeconds()[centre]), 1e-12);
    EXPECT_NE(a.phaseErrorLut(20000000, 64), b.phaseErrorLut(20000000, 64));
}

TEST(RendererPhysics, AmplitudeFollowsExposureGainAndInverseSquare) {
    Renderer r(scene("wall"), 3);
    SensorState s;
    r.renderFrame(s);
    const size_t centre = 120 * 320 + 160;
    const float a = r.truth().amplitude[centre];
    s.exposureUs = 1000;
    r.renderFrame(s);
    EXPECT_NEAR(r.truth().amplitude[centre], 2 * a, 1e-3 * a);
    s.exposureUs = 500;
    s.gain = 2;
    r.renderFrame(s);
    EXPECT_NEAR(r.truth().amplitude[centre], 2 * a, 1e-3 * a);

    SceneConfig far = scene("wall");
    far.wallDistanceMm = 3000.0f;
    Renderer r2(far, 3);
    r2.renderFrame(SensorState{});
    EXPECT_NEAR(r2.truth().amplitude[centre], a / 4, 1e-2 * a);
}

TEST(RendererPhysics, NoiseHasTheModelledSpreadAndNoBias) {
    // Per sample sigma = sqrt(1 + A/64); the phase error is the component of
    // the difference noise (sigma * sqrt 2 per difference) perpendicular to
    // the phasor of length 2A, so sigma_phase = sigma / (sqrt 2 * A).
    for (const char* name : {"wall", "boxes"}) {
        SCOPED_TRACE(name);
        Renderer r(scene(name, 1.0f), 11);
        SensorState s;
        double sumZ2 = 0.0, sumErr = 0.0, maxZ = 0.0;
        size_t count = 0;
        for (uint64_t frame = 0; frame < 4; ++frame) {
            s.frameIndex = frame;
            const auto img = render(r, s);
            const GroundTruth& t = r.truth();
            const Measured m = measure(img, 0, s.modulationHz);
            for (size_t i = 0; i < m.distanceMm.size(); ++i) {
                const float a = t.amplitude[i];
                if (t.flags[i] || a < 50.0f) continue;
                const double sigma = std::sqrt(1.0 + a / 64.0);
                const double sigmaMm = sigma / (std::sqrt(2.0) * a) * mmPerRad(s.modulationHz);
                const double err =
                    simref::wrappedError(m.distanceMm[i], t.distanceMm[i], s.modulationHz);
                const double z =
                    err / std::hypot(sigmaMm, quantizationTolMm(a, s.modulationHz) / 2);
                sumZ2 += z * z;
                sumErr += err;
                maxZ = std::max(maxZ, std::fabs(z));
                ++count;
            }
        }
        ASSERT_GT(count, 10000u);
        const double rmsZ = std::sqrt(sumZ2 / count);
        EXPECT_GT(rmsZ, 0.85);
        EXPECT_LT(rmsZ, 1.15);
        EXPECT_LT(maxZ, 6.5);  // the variates are bounded at 3.5 sigma per sample
        EXPECT_LT(std::fabs(sumErr / count), 0.3);
    }
}

// --- Buffer layout -------------------------------------------------------

TEST(RendererLayout, Ozr310BufferIsTheInverseOfSplitStack) {
    // With no exposure every sample is the pixel's dark level, which the
    // calibration writer stores in processed (unfolded) order.
    const auto dir =
        std::filesystem::temp_directory_path() / ("ozrsim_fold_" + std::to_string(::getpid()));
    ASSERT_EQ(ozrsim::writeCalibration(dir.string(), Model::OZR310, 640, 120, 5), 0);
    const auto dsnu = simref::readWords(dir / "dsnu.bin");
    std::filesystem::remove_all(dir);

    Renderer r(scene("wall"), 5);
    SensorState s = stateFor(Model::OZR310);
    s.exposureUs = 0;
    const auto raw = r.renderFrame(s);
    ASSERT_EQ(raw.size(), 4u);
    ASSERT_EQ(raw[0].size(), 640u * 120u);
    for (const auto& img : raw) {
        std::vector<uint16_t> samples(img.size());
        for (size_t i = 0; i < img.size(); ++i) samples[i] = img[i] >> 4;
        EXPECT_EQ(simref::splitStack(samples, 640, 120), dsnu);
    }
    // Row 0 of the buffer holds processed row 120 on the left and processed
    // row 119 on the right.
    EXPECT_EQ(raw[0][0] >> 4, dsnu[120 * 320]);
    EXPECT_EQ(raw[0][320] >> 4, dsnu[119 * 320]);
    EXPECT_EQ(raw[0][639] >> 4, dsnu[119 * 320 + 319]);
}

TEST(RendererLayout, Ozr310OddWidthLeavesTheLastColumnEmpty) {
    Renderer r(scene("tilted"), 9);
    SensorState even = stateFor(Model::OZR310);
    SensorState odd = even;
    odd.width = 641;
    const auto a = r.renderFrame(even);
    const auto b = r.renderFrame(odd);
    ASSERT_EQ(b.size(), 4u);
    ASSERT_EQ(b[0].size(), 641u * 120u);
    for (size_t k = 0; k < 4; ++k) {
        for (uint32_t y = 0; y < 120; ++y) {
            for (uint32_t x = 0; x < 640; ++x) {
                ASSERT_EQ(b[k][y * 641 + x], a[k][y * 640 + x]);
            }
            ASSERT_EQ(b[k][y * 641 + 640], 0);
        }
    }
}

TEST(RendererLayout, SamplesAreTwelveBitsInTheUpperBitsAndClip) {
    // The boxes scene's reflective patch at 0.5 m saturates at 500 us.
    Renderer r(scene("boxes", 1.0f, true), 2);
    SensorState s;
    const auto raw = r.renderFrame(s);
    const GroundTruth& t = r.truth();
    size_t clippedPixels = 0, atZero = 0, atFull = 0;
    for (size_t i = 0; i < t.flags.size(); ++i) {
        bool clipped = false;
        for (const auto& img : raw) {
            ASSERT_EQ(img[i] & 0xF, 0);
            if (img[i] == 0) {
                ++atZero;
                clipped = true;
            }
            if (img[i] == 0xFFF0) {
                ++atFull;
                clipped = true;
            }
        }
        if (t.flags[i] & GroundTruth::kTruthClipped) {
            ++clippedPixels;
            EXPECT_TRUE(clipped) << "pixel " << i;
        }
    }
    EXPECT_GT(clippedPixels, 600u);  // the patch covers 8 % x 12 % of the image
    EXPECT_GT(atZero, 0u);
    EXPECT_GT(atFull, 0u);

    // On the wall far too long an exposure drives the samples to the two ends: at least
    // one of cos and sin of any phase exceeds 0.7 in magnitude, so every
    // pixel has a pair of samples at 0 and at 4095.
    Renderer wall(scene("wall", 1.0f, true), 2);
    s.exposureUs = 200000;
    const auto over = wall.renderFrame(s);
    for (size_t i = 0; i < over[0].size(); ++i) {
        const bool pair02 =
            (over[0][i] == 0 && over[2][i] == 0xFFF0) || (over[0][i] == 0xFFF0 && over[2][i] == 0);
        const bool pair13 =
            (over[1][i] == 0 && over[3][i] == 0xFFF0) || (over[1][i] == 0xFFF0 && over[3][i] == 0);
        ASSERT_TRUE(pair02 || pair13) << "pixel " << i;
    }
}

// --- Determinism ---------------------------------------------------------

TEST(RendererNoise, DeterministicPerSeedAndFrame) {
    SensorState s;
    s.frameIndex = 3;
    Renderer a(scene("boxes", 1.0f, true), 100);
    Renderer b(scene("boxes", 1.0f, true), 100);
    const auto first = a.renderFrame(s);
    EXPECT_EQ(first, b.renderFrame(s));

    // No hidden state: other frames in between change nothing.
    s.frameIndex = 8;
    const auto other = a.renderFrame(s);
    EXPECT_NE(other, first);
    s.frameIndex = 3;
    EXPECT_EQ(a.renderFrame(s), first);
    Renderer copy = a;
    EXPECT_EQ(copy.renderFrame(s), first);

    Renderer c(scene("boxes", 1.0f, true), 101);
    EXPECT_NE(c.renderFrame(s), first);

    // The four images of one frame carry independent noise.
    Renderer flat(scene("wall", 1.0f), 100);
    s.exposureUs = 0;
    const auto dark = flat.renderFrame(s);
    EXPECT_NE(dark[0], dark[1]);
}

// --- Grayscale and HDR ---------------------------------------------------

TEST(RendererModes, GrayscaleIsIntensityOverTheDarkLevel) {
    Renderer r(scene("wall"), 4);
    SensorState s;
    s.acq = AcqType::Grayscale;
    const auto img = render(r, s);
    ASSERT_EQ(img.size(), 1u);
    const GroundTruth& t = r.truth();
    for (size_t i = 0; i < img[0].size(); ++i) {
        // Dark level about 2048 (fixed pattern within +-30) plus the
        // intensity times a gain within 10 % of one.
        const double signal = img[0][i] - 2048.0;
        ASSERT_NEAR(signal, t.amplitude[i], 40.0 + 0.1 * t.amplitude[i]) << "pixel " << i;
    }
}

TEST(RendererModes, HdrDeliversThreeExposuresOfFourSamples) {
    Renderer r(scene("boxes"), 6);
    SensorState s;
    s.acq = AcqType::Hdr;
    s.hdrTimesUs[0] = 100;
    s.hdrTimesUs[1] = 400;
    s.hdrTimesUs[2] = 1600;
    const auto img = render(r, s);
    ASSERT_EQ(img.size(), 12u);
    const GroundTruth& t = r.truth();

    // The same scene through exposure e has amplitude A(500 us) * t_e / 500.
    Renderer single(scene("boxes"), 6);
    single.renderFrame(SensorState{});
    const std::vector<float> a500 = single.truth().amplitude;

    size_t chosenLong = 0, chosenShort = 0;
    for (int e = 0; e < 3; ++e) {
        const Measured m = measure(img, 4 * e, s.modulationHz);
        const float scale = s.hdrTimesUs[e] / 500.0f;
        for (size_t i = 0; i < m.amplitude.size(); ++i) {
            const float a = a500[i] * scale;
            bool clipped = false;
            for (int k = 0; k < 4; ++k) {
                const uint16_t v = img[4 * e + k][i];
                clipped = clipped || v == 0 || v == 4095;
            }
            if (clipped || a < 20.0f) continue;
            ASSERT_NEAR(m.amplitude[i], a, 1.0 + 1e-3 * a) << "exposure " << e << " pixel " << i;
            ASSERT_LE(
                std::fabs(simref::wrappedError(m.distanceMm[i], t.distanceMm[i], s.modulationHz)),
                quantizationTolMm(a, s.modulationHz));
        }
    }
    // Truth amplitude: the longest exposure that does not clip.
    for (size_t i = 0; i < t.amplitude.size(); ++i) {
        if (std::fabs(t.amplitude[i] - a500[i] * 3.2f) < 1e-3f * t.amplitude[i]) ++chosenLong;
        if (std::fabs(t.amplitude[i] - a500[i] * 0.2f) < 1e-3f * t.amplitude[i]) ++chosenShort;
    }
    EXPECT_GT(chosenLong, t.amplitude.size() / 2);  // most of the scene is dim enough
    EXPECT_GT(chosenShort, 0u);                     // the reflective patch needs 100 us
}

// --- Interference --------------------------------------------------------

// The library's interference test with a flat dark offset of 2048 and the
// default threshold of 500: both sums DCS0 + DCS2 and DCS1 + DCS3 must lie
// strictly inside (4096 - 500, 4096 + 500).
bool disturbed(const std::vector<std::vector<uint16_t>>& s, size_t i) {
    const uint16_t lo = 4096 - 500, hi = 4096 + 500;
    const uint16_t s02 = static_cast<uint16_t>(s[0][i] + s[2][i]);
    const uint16_t s13 = static_cast<uint16_t>(s[1][i] + s[3][i]);
    return !(lo < s02 && s02 < hi && lo < s13 && s13 < hi);
}

TEST(RendererInterference, RegionIsDetectableAndOnlyThere) {
    for (Model model : {Model::OZR320, Model::OZR310}) {
        SceneConfig sc = scene("wall", 1.0f, true);
        sc.interference = true;
        sc.interferenceFromFrame = 1;  // frame 0 is undisturbed
        Renderer r(sc, 8);
        SensorState s = stateFor(model);
        for (uint64_t frame = 0; frame < 4; ++frame) {
            s.frameIndex = frame;
            const auto img = render(r, s);
            const GroundTruth& t = r.truth();
            size_t region = 0;
            for (size_t i = 0; i < t.flags.size(); ++i) {
                const bool inRegion = t.flags[i] & GroundTruth::kTruthInterference;
                region += inRegion;
                ASSERT_EQ(disturbed(img, i), inRegion) << "pixel " << i;
            }
            // A rectangle of 30 % x 30 % of the image.
            EXPECT_NEAR(static_cast<double>(region) / t.flags.size(), frame ? 0.09 : 0.0, 0.01);
        }
    }
    Renderer quiet(scene("wall", 1.0f, true), 8);
    const auto img = render(quiet, SensorState{});
    for (size_t i = 0; i < img[0].size(); ++i) {
        ASSERT_FALSE(disturbed(img, i));
        ASSERT_EQ(quiet.truth().flags[i] & GroundTruth::kTruthInterference, 0);
    }
}

// --- Depth map files -----------------------------------------------------

class DepthFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("ozrsim_depth_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string write(const std::string& name, const std::string& content) {
        const auto p = dir_ / name;
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }
    std::filesystem::path dir_;
};

TEST_F(DepthFileTest, SixteenBitBinaryPgmGivesTheRadialDistances) {
    // 4 x 2 map: left half 1000 mm, right half 2500 mm, second row 1800 mm.
    std::string pgm = "P5\n# depth in mm\n4 2\n65535\n";
    const uint16_t v[8] = {1000, 1000, 2500, 2500, 1800, 1800, 1800, 1800};
    for (uint16_t d : v) {
        pgm.push_back(static_cast<char>(d >> 8));
        pgm.push_back(static_cast<char>(d & 0xFF));
    }
    SceneConfig sc = scene("file:" + write("d.pgm", pgm));
    Renderer r(sc, 1);
    ASSERT_TRUE(r.valid()) << r.error();
    SensorState s;
    const auto img = render(r, s);
    const GroundTruth& t = r.truth();
    EXPECT_FLOAT_EQ(t.distanceMm[0], 1000.0f);
    EXPECT_FLOAT_EQ(t.distanceMm[319], 2500.0f);
    EXPECT_FLOAT_EQ(t.distanceMm[239 * 320], 1800.0f);
    const Measured m = measure(img, 0, s.modulationHz);
    for (size_t i : {size_t{0}, size_t{319}, size_t{239 * 320 + 5}}) {
        EXPECT_LE(std::fabs(simref::wrappedError(m.distanceMm[i], t.distanceMm[i], s.modulationHz)),
                  quantizationTolMm(t.amplitude[i], s.modulationHz));
    }
}

TEST_F(DepthFileTest, TextPgmAndNoReturnPixels) {
    SceneConfig sc = scene("file:" + write("d.pgm", "P2 2 1 4000\n0 3000\n"));
    Renderer r(sc, 1);
    ASSERT_TRUE(r.valid()) << r.error();
    r.renderFrame(SensorState{});
    const GroundTruth& t = r.truth();
    EXPECT_EQ(t.distanceMm[0], 0.0f);
    EXPECT_EQ(t.amplitude[0], 0.0f);  // nothing reflects
    EXPECT_EQ(t.distanceMm[319], 3000.0f);
    EXPECT_GT(t.amplitude[319], 0.0f);
}

TEST_F(DepthFileTest, BadFilesAreRejectedWithAnError) {
    const std::pair<std::string, std::string> cases[] = {
        {"magic.pgm", "P6\n2 2\n255\nabcdefghijkl"}, {"header.pgm", "P5\n2 x\n255\nabcd"},
        {"short.pgm", "P5\n4 4\n65535\nabcd"},       {"huge.pgm", "P5\n100000 100000\n255\n"},
        {"sample.pgm", "P2\n2 1\n100\n50 200\n"},    {"empty.pgm", ""},
    };
    for (const auto& [name, content] : cases) {
        Renderer r(scene("file:" + write(name, content)), 1);
        EXPECT_FALSE(r.valid()) << name;
        EXPECT_FALSE(r.error().empty()) << name;
        EXPECT_TRUE(r.renderFrame(SensorState{}).empty()) << name;
    }
    Renderer missing(scene("file:" + (dir_ / "none.pgm").string()), 1);
    EXPECT_FALSE(missing.valid());
}

// --- Invalid input -------------------------------------------------------

TEST(RendererInput, UnrenderableRequestsYieldNoImages) {
    Renderer unknown(scene("cathedral"), 1);
    EXPECT_FALSE(unknown.valid());
    EXPECT_TRUE(unknown.renderFrame(SensorState{}).empty());

    Renderer r(scene("wall"), 1);
    SensorState s;
    s.width = 0;
    EXPECT_TRUE(r.renderFrame(s).empty());
    s = stateFor(Model::OZR310);
    s.width = 1;
    EXPECT_TRUE(r.renderFrame(s).empty());
    s = SensorState{};
    s.width = 100000;
    s.height = 100000;
    EXPECT_TRUE(r.renderFrame(s).empty());
    s = SensorState{};
    s.acq = static_cast<AcqType>(7);
    EXPECT_TRUE(r.renderFrame(s).empty());

    // Odd values still render sane images.
    s = SensorState{};
    s.exposureUs = -5;
    s.gain = -3;
    s.modulationHz = 0;
    s.temperatureC = std::nanf("");
    const auto img = r.renderFrame(s);
    ASSERT_EQ(img.size(), 4u);
    for (uint16_t v : img[0]) ASSERT_EQ(v & 0xF, 0);
}

TEST(RendererInput, SizeChangesRebuildTheScene) {
    Renderer r(scene("tilted"), 1);
    SensorState s;
    s.width = 160;
    s.height = 120;
    EXPECT_EQ(r.renderFrame(s)[0].size(), 160u * 120u);
    EXPECT_EQ(r.truth().width, 160u);
    s = stateFor(Model::OZR310);
    EXPECT_EQ(r.renderFrame(s)[0].size(), 640u * 120u);
    EXPECT_EQ(r.truth().width, 320u);
    EXPECT_EQ(r.truth().height, 240u);
}

}  // namespace
