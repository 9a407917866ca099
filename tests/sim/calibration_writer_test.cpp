// The calibration written for a virtual sensor: its index and files have the
// library's formats, and applying it the way the library does (phase error
// table, phase offset, linear temperature compensation, dark offset and
// gain) removes exactly the errors the renderer adds, at the calibrated
// frequencies and between them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "scene.h"
#include "sim_reference.h"

namespace {

using ozrsim::AcqType;
using ozrsim::GroundTruth;
using ozrsim::Model;
using ozrsim::Renderer;
using ozrsim::SceneConfig;
using ozrsim::SensorState;

using simref::PI;

class CalibrationWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("ozrsim_cal_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    static SensorState stateFor(Model model) {
        SensorState s;
        s.model = model;
        if (model == Model::OZR310) {
            s.width = 640;
            s.height = 120;
        }
        return s;
    }

    std::filesystem::path dir_;
};

TEST_F(CalibrationWriterTest, IndexAndFilesHaveTheLibraryFormat) {
    for (Model model : {Model::OZR320, Model::OZR310}) {
        SCOPED_TRACE(model == Model::OZR310 ? "OZR310" : "OZR320");
        std::filesystem::remove_all(dir_);
        const SensorState s = stateFor(model);
        ASSERT_EQ(ozrsim::writeCalibration(dir_.string(), model, s.width, s.height, 1), 0);
        const nlohmann::json idx = simref::readIndex(dir_);

        // Offsets at the processed size: the OZR310 unfolds to 320 x 240.
        const auto& off = idx.at("phaseOffsetData");
        ASSERT_TRUE(off.is_array());
        ASSERT_GE(off.size(), 3u);
        std::vector<uint32_t> freqs;
        for (const auto& e : off) {
            freqs.push_back(e.at("modulation_frequency_hz").get<uint32_t>());
            EXPECT_EQ(e.at("width").get<uint16_t>(), 320);
            EXPECT_EQ(e.at("height").get<uint16_t>(), 240);
            EXPECT_EQ(std::filesystem::file_size(dir_ / e.at("offset_file").get<std::string>()),
                      320u * 240u * 2u);
            float sum = 0.0f;
            for (int p = 0; p < 4; ++p) {
                sum += e.at("ozr_temperature_sensor" + std::to_string(p) + "_c").get<float>();
            }
            EXPECT_FLOAT_EQ(sum / 4, ozrsim::kCalibrationTempC);
        }
        EXPECT_TRUE(std::is_sorted(freqs.begin(), freqs.end()));
        // The device's range.
        EXPECT_LE(freqs.front(), 5000000u);
        EXPECT_GE(freqs.back(), 100000000u);

        const auto& lut = idx.at("phaseErrorLUTData");
        ASSERT_EQ(lut.size(), off.size());
        for (const auto& e : lut) {
            const size_t n = e.at("lut_size").get<size_t>();
            EXPECT_EQ(n, ozrsim::kPhaseLutSize);
            EXPECT_EQ(std::filesystem::file_size(dir_ / e.at("lut_file").get<std::string>()),
                      n * 2);
        }

        const auto& g = idx.at("grayscale");
        EXPECT_EQ(g.at("width").get<size_t>(), 320u);
        EXPECT_EQ(g.at("height").get<size_t>(), 240u);
        EXPECT_EQ(g.at("prnu_scale_factor").get<uint16_t>(), ozrsim::kPrnuScaleFactor);
        EXPECT_EQ(std::filesystem::file_size(dir_ / g.at("dsnu_file").get<std::string>()),
                  320u * 240u * 2u);
        EXPECT_EQ(std::filesystem::file_size(dir_ / g.at("prnu_file").get<std::string>()),
                  320u * 240u * 2u);
        EXPECT_FALSE(g.contains("drnu_file"));
    }
}

TEST_F(CalibrationWriterTest, PatternsHaveTheModelledSize) {
    ASSERT_EQ(ozrsim::writeCalibration(dir_.string(), Model::OZR320, 320, 240, 77), 0);
    simref::PhaseCalibration cal;
    ASSERT_TRUE(simref::loadPhaseCalibration(dir_, 20000000, cal));
    // Offset: a path delay of about 1.5 ns (1966 raw at 20 MHz) varying by a
    // few hundred raw units across the image.
    const auto [mn, mx] = std::minmax_element(cal.offset.begin(), cal.offset.end());
    EXPECT_GT(*mn, 1000);
    EXPECT_LT(*mx, 3000);
    EXPECT_GT(*mx - *mn, 150);
    // Cyclic error: signed, a few hundred raw units at most.
    int maxAbs = 0;
    for (uint16_t v : cal.lut) maxAbs = std::max(maxAbs, std::abs(int16_t(v)));
    EXPECT_GT(maxAbs, 100);
    EXPECT_LT(maxAbs, 600);
    const auto dsnu = simref::readWords(dir_ / "dsnu.bin");
    const auto [dmn, dmx] = std::minmax_element(dsnu.begin(), dsnu.end());
    EXPECT_GE(*dmn, 2048 - 30);
    EXPECT_LE(*dmx, 2048 + 30);
    EXPECT_GT(*dmx - *dmn, 10);
}

TEST_F(CalibrationWriterTest, SameSeedSameFilesOtherSeedOtherPatterns) {
    const auto other = dir_.string() + "_b";
    const auto third = dir_.string() + "_c";
    ASSERT_EQ(ozrsim::writeCalibration(dir_.string(), Model::OZR310, 640, 120, 9), 0);
    ASSERT_EQ(ozrsim::writeCalibration(other, Model::OZR310, 640, 120, 9), 0);
    ASSERT_EQ(ozrsim::writeCalibration(third, Model::OZR310, 640, 120, 10), 0);
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
        const auto name = entry.path().filename();
        EXPECT_EQ(simref::readWords(entry.path()),
                  simref::readWords(std::filesystem::path(other) / name))
            << name;
    }
    EXPECT_NE(simref::readWords(dir_ / "dsnu.bin"),
              simref::readWords(std::filesystem::path(third) / "dsnu.bin"));
    std::filesystem::remove_all(other);
    std::filesystem::remove_all(third);
}

TEST_F(CalibrationWriterTest, RejectsWhatItCannotWrite) {
    EXPECT_EQ(ozrsim::writeCalibration(dir_.string(), Model::OZR320, 0, 240, 1), -EINVAL);
    EXPECT_EQ(ozrsim::writeCalibration(dir_.string(), Model::OZR310, 1, 240, 1), -EINVAL);
    EXPECT_EQ(ozrsim::writeCalibration("", Model::OZR320, 320, 240, 1), -EINVAL);
    // A directory below a regular file cannot be created.
    std::filesystem::create_directories(dir_);
    std::ofstream(dir_ / "plain") << "x";
    EXPECT_LT(
        ozrsim::writeCalibration((dir_ / "plain" / "cal").string(), Model::OZR320, 320, 240, 1), 0);
}

// --- Phase calibration applied as the library does ---------------------------

struct Residual {
    double maxAbsMm = 0.0;
    double rmsMm = 0.0;
    size_t count = 0;
};

// Renders one frame, computes the CORDIC phase and applies the calibration
// (or none) the way the library does, and compares with the true distance.
Residual residual(Renderer& r, const SensorState& s, const simref::PhaseCalibration* cal,
                  double quantTolFactor, bool* withinTol = nullptr) {
    auto raw = r.renderFrame(s);
    const auto img = simref::toSamples(raw, s.model == Model::OZR310, s.width, s.height);
    const GroundTruth& t = r.truth();
    const simref::PhaseCalibration none;
    Residual res;
    double sum2 = 0.0;
    if (withinTol) *withinTol = true;
    const double mmPerRad = simref::mmPerRad(s.modulationHz);
    for (size_t i = 0; i < t.distanceMm.size(); ++i) {
        if (t.flags[i] || t.amplitude[i] < 50.0f) continue;
        const auto pa = simref::phaseAmp(img[0][i], img[1][i], img[2][i], img[3][i]);
        const uint16_t mm = simref::compensatedDistanceMm(pa.phase, i, cal ? *cal : none,
                                                          s.temperatureC, s.modulationHz);
        const double err = simref::wrappedError(mm, t.distanceMm[i], s.modulationHz);
        sum2 += err * err;
        res.maxAbsMm = std::max(res.maxAbsMm, std::fabs(err));
        ++res.count;
        // Sample rounding (0.75 / A rad), CORDIC (3 raw), the table's bin
        // width and the interpolation of tables between frequencies (8 raw
        // together) and the truncation to whole millimetres.
        const double tol =
            quantTolFactor * (0.75 / t.amplitude[i] + 11.0 * 2.0 * PI / 65536.0) * mmPerRad + 1.0;
        if (withinTol && std::fabs(err) > tol) *withinTol = false;
    }
    res.rmsMm = res.count ? std::sqrt(sum2 / res.count) : 0.0;
    return res;
}

struct PhaseCase {
    Model model;
    const char* scene;
    uint32_t hz;
    float tempOffsetC;
};

void PrintTo(const PhaseCase& p, std::ostream* os) {
    *os << (p.model == Model::OZR310 ? "OZR310 " : "OZR320 ") << p.scene << " " << p.hz << " Hz "
        << p.tempOffsetC << " K";
}

class PhaseCalibrationTest : public CalibrationWriterTest,
                             public ::testing::WithParamInterface<PhaseCase> {};

TEST_P(PhaseCalibrationTest, CompensationRecoversTheTrueDistance) {
    const PhaseCase pc = GetParam();
    SensorState s = stateFor(pc.model);
    s.modulationHz = pc.hz;
    s.temperatureC = ozrsim::kCalibrationTempC + pc.tempOffsetC;
    ASSERT_EQ(ozrsim::writeCalibration(dir_.string(), pc.model, s.width, s.height, 21), 0);
    simref::PhaseCalibration cal;
    ASSERT_TRUE(simref::loadPhaseCalibration(dir_, pc.hz, cal));
    EXPECT_FLOAT_EQ(cal.calibrationTempC, ozrsim::kCalibrationTempC);

    SceneConfig sc;
    sc.name = pc.scene;
    sc.noiseScale = 0.0f;
    Renderer r(sc, 21);

    // Uncalibrated, the modelled errors are plainly visible ...
    const Residual raw = residual(r, s, nullptr, 1.0);
    EXPECT_GT(raw.maxAbsMm, 15.0);
    // ... and the calibration removes them down to the quantization.
    bool within = false;
    const Residual fixed = residual(r, s, &cal, 1.0, &within);
    EXPECT_TRUE(within) << "max " << fixed.maxAbsMm << " mm, rms " << fixed.rmsMm << " mm";
    EXPECT_GT(fixed.count, 10000u);
    // On average some 15 raw phase units remain (1/65536 turn each), the
    // rounding of the samples at amplitudes of a few hundred counts, and the
    // truncation to whole millimetres (0.58 mm rms).
    const double mmPerRaw = simref::rangeMm(pc.hz) / 65536.0;
    EXPECT_LT(fixed.rmsMm, 0.8 + 16.0 * mmPerRaw);
}

INSTANTIATE_TEST_SUITE_P(Frequencies, PhaseCalibrationTest,
                         ::testing::Values(
                             // Calibrated frequencies.
                             PhaseCase{Model::OZR320, "wall", 10000000, 0.0f},
                             PhaseCase{Model::OZR320, "boxes", 20000000, 6.0f},
                             PhaseCase{Model::OZR310, "tilted", 40000000, -4.0f},
                             PhaseCase{Model::OZR310, "boxes", 60000000, 10.0f},
                             PhaseCase{Model::OZR320, "wall", 5000000, 2.0f},
                             PhaseCase{Model::OZR320, "boxes", 100000000, 9.0f},
                             // Between them: the providers interpolate.
                             PhaseCase{Model::OZR320, "tilted", 15000000, 3.0f},
                             PhaseCase{Model::OZR320, "boxes", 24000000, 5.0f},
                             PhaseCase{Model::OZR310, "wall", 33000000, -8.0f},
                             PhaseCase{Model::OZR310, "tilted", 50000000, 12.0f},
                             PhaseCase{Model::OZR320, "tilted", 7310000, -2.0f},
                             PhaseCase{Model::OZR310, "boxes", 91230000, 15.0f}),
                         [](const ::testing::TestParamInfo<PhaseCase>& info) {
                             const PhaseCase& p = info.param;
                             const int dt = static_cast<int>(p.tempOffsetC);
                             return std::string(p.model == Model::OZR310 ? "OZR310_" : "OZR320_") +
                                    p.scene + "_" + std::to_string(p.hz) + "Hz_" +
                                    (dt < 0 ? "minus" : "plus") + std::to_string(std::abs(dt)) +
                                    "K";
                         });

TEST_F(CalibrationWriterTest, TemperatureDriftIsTwentyTwoMillimetresPerKelvin) {
    ASSERT_EQ(ozrsim::writeCalibration(dir_.string(), Model::OZR320, 320, 240, 4), 0);
    simref::PhaseCalibration cal;
    ASSERT_TRUE(simref::loadPhaseCalibration(dir_, 20000000, cal));
    simref::PhaseCalibration noTemp = cal;
    noTemp.slopeMmPerK = 0.0f;
    SceneConfig sc;
    sc.noiseScale = 0.0f;
    Renderer r(sc, 4);
    SensorState s;
    s.modulationHz = 20000000;
    const size_t centre = 120 * 320 + 160;
    auto distanceAt = [&](float tempC, const simref::PhaseCalibration& c) {
        s.temperatureC = tempC;
        const auto img = simref::toSamples(r.renderFrame(s), false, 320, 240);
        const auto pa =
            simref::phaseAmp(img[0][centre], img[1][centre], img[2][centre], img[3][centre]);
        return simref::compensatedDistanceMm(pa.phase, centre, c, tempC, s.modulationHz);
    };
    const double atCal = distanceAt(ozrsim::kCalibrationTempC, noTemp);
    const double warm = distanceAt(ozrsim::kCalibrationTempC + 5.0f, noTemp);
    EXPECT_NEAR(warm - atCal, 110.0, 2.0);  // the object seems farther when warm
    EXPECT_NEAR(distanceAt(ozrsim::kCalibrationTempC + 5.0f, cal), atCal, 2.0);
}

TEST_F(CalibrationWriterTest, NoisyFramesAverageToTheTruth) {
    // With noise the compensated error stays unbiased; its spread is the
    // renderer's noise (a few millimetres on the wall at 24 MHz).
    ASSERT_EQ(ozrsim::writeCalibration(dir_.string(), Model::OZR320, 320, 240, 31), 0);
    simref::PhaseCalibration cal;
    ASSERT_TRUE(simref::loadPhaseCalibration(dir_, 24000000, cal));
    SceneConfig sc;
    Renderer r(sc, 31);
    SensorState s;
    s.temperatureC = 37.0f;
    double sumErr = 0.0, sum2 = 0.0;
    size_t n = 0;
    for (uint64_t f = 0; f < 3; ++f) {
        s.frameIndex = f;
        const auto img = simref::toSamples(r.renderFrame(s), false, 320, 240);
        const GroundTruth& t = r.truth();
        for (size_t i = 0; i < t.distanceMm.size(); ++i) {
            const auto pa = simref::phaseAmp(img[0][i], img[1][i], img[2][i], img[3][i]);
            const double err = simref::wrappedError(
                simref::compensatedDistanceMm(pa.phase, i, cal, s.temperatureC, s.modulationHz),
                t.distanceMm[i], s.modulationHz);
            sumErr += err;
            sum2 += err * err;
            ++n;
        }
    }
    // Truncation to whole millimetres biases by -0.5 mm.
    EXPECT_NEAR(sumErr / n, -0.5, 0.5);
    EXPECT_LT(std::sqrt(sum2 / n), 8.0);
}

// --- Interference with the written dark offset ----------------------------

TEST_F(CalibrationWriterTest, InterferenceTestCentresOnTheWrittenDarkOffset) {
    ASSERT_EQ(ozrsim::writeCalibration(dir_.string(), Model::OZR310, 640, 120, 12), 0);
    const auto dsnu = simref::readWords(dir_ / "dsnu.bin");
    SceneConfig sc;
    sc.name = "boxes";
    sc.interference = true;
    Renderer r(sc, 12);
    SensorState s = stateFor(Model::OZR310);
    // A tight threshold: undisturbed sums stay within noise of 2 x dark.
    const uint16_t threshold = 120;
    const auto img = simref::toSamples(r.renderFrame(s), true, 640, 120);
    const GroundTruth& t = r.truth();
    for (size_t i = 0; i < dsnu.size(); ++i) {
        if (t.flags[i] & GroundTruth::kTruthClipped) continue;
        const uint16_t o = static_cast<uint16_t>(2 * dsnu[i]);
        const uint16_t lo = o - threshold, hi = o + threshold;
        const uint16_t s02 = static_cast<uint16_t>(img[0][i] + img[2][i]);
        const uint16_t s13 = static_cast<uint16_t>(img[1][i] + img[3][i]);
        const bool flagged = !(lo < s02 && s02 < hi && lo < s13 && s13 < hi);
        ASSERT_EQ(flagged, (t.flags[i] & GroundTruth::kTruthInterference) != 0) << "pixel " << i;
    }
}

// --- Grayscale calibration applied as the library does -------------------

TEST_F(CalibrationWriterTest, DsnuAndPrnuFlattenTheGrayscaleImage) {
    for (Model model : {Model::OZR320, Model::OZR310}) {
        SCOPED_TRACE(model == Model::OZR310 ? "OZR310" : "OZR320");
        std::filesystem::remove_all(dir_);
        SensorState s = stateFor(model);
        s.acq = AcqType::Grayscale;
        s.exposureUs = 1000;  // the brightest pixels reach about 3500 counts
        ASSERT_EQ(ozrsim::writeCalibration(dir_.string(), model, s.width, s.height, 55), 0);
        const nlohmann::json idx = simref::readIndex(dir_);
        const auto& g = idx.at("grayscale");
        const auto dsnu = simref::readWords(dir_ / g.at("dsnu_file").get<std::string>());
        const auto gain = simref::readWords(dir_ / g.at("prnu_file").get<std::string>());
        const uint32_t scale = g.at("prnu_scale_factor").get<uint16_t>();

        SceneConfig sc;
        sc.noiseScale = 0.0f;
        Renderer r(sc, 55);
        const auto img =
            simref::toSamples(r.renderFrame(s), model == Model::OZR310, s.width, s.height);
        ASSERT_EQ(img.size(), 1u);
        const GroundTruth& t = r.truth();
        ASSERT_EQ(dsnu.size(), img[0].size());
        double rawErr2 = 0.0, fixedErr2 = 0.0;
        for (size_t i = 0; i < dsnu.size(); ++i) {
            ASSERT_EQ(t.flags[i], 0) << "pixel " << i;
            // Dark offset subtraction saturating at zero, then the reciprocal
            // gain in 12-bit fixed point.
            const uint16_t in = img[0][i];
            const uint32_t dark = dsnu[i] <= in ? in - dsnu[i] : 0;
            const uint32_t recip = gain[i] < (scale >> 2) ? 4096 : (scale << 12) / gain[i];
            const uint32_t out = ((dark * recip) >> 12) & 0xFFFF;
            const double expect = t.amplitude[i];
            const double fixedErr = out - expect;
            const double rawErr = (in - 2048.0) - expect;
            fixedErr2 += fixedErr * fixedErr;
            rawErr2 += rawErr * rawErr;
            // Left: rounding of the sample and of the dark offset (1 count
            // together), of the gain (0.05 %) and of the reciprocal (0.03 %),
            // and the truncating shift (1 count).
            ASSERT_LE(std::fabs(fixedErr), 2.0 + 1e-3 * expect) << "pixel " << i;
        }
        const double n = static_cast<double>(dsnu.size());
        EXPECT_LT(std::sqrt(fixedErr2 / n), 1.2);
        // Without calibration the fixed pattern is plain.
        EXPECT_GT(std::sqrt(rawErr2 / n), 10.0);
    }
}

TEST_F(CalibrationWriterTest, UniformTargetGivesAFlatCorrectedImage) {
    // A target at the same radial distance from every pixel reflects the same
    // intensity into each; after dark offset and gain correction the image
    // is flat up to rounding, before it shows the fixed pattern.
    ASSERT_EQ(ozrsim::writeCalibration(dir_.string(), Model::OZR320, 320, 240, 8), 0);
    const auto dsnu = simref::readWords(dir_ / "dsnu.bin");
    const auto gain = simref::readWords(dir_ / "prnu.bin");
    std::ofstream(dir_ / "sphere.pgm") << "P2 1 1 65535 1200\n";
    SceneConfig sc;
    sc.name = "file:" + (dir_ / "sphere.pgm").string();
    sc.noiseScale = 0.0f;
    Renderer r(sc, 8);
    ASSERT_TRUE(r.valid()) << r.error();
    SensorState s;
    s.acq = AcqType::Grayscale;
    const auto img = simref::toSamples(r.renderFrame(s), false, 320, 240);
    uint32_t lo = 65535, hi = 0, rawLo = 65535, rawHi = 0;
    for (size_t i = 0; i < dsnu.size(); ++i) {
        const uint16_t in = img[0][i];
        const uint32_t dark = dsnu[i] <= in ? in - dsnu[i] : 0;
        const uint32_t out = ((dark * ((1000u << 12) / gain[i])) >> 12) & 0xFFFF;
        lo = std::min(lo, out);
        hi = std::max(hi, out);
        rawLo = std::min<uint32_t>(rawLo, in);
        rawHi = std::max<uint32_t>(rawHi, in);
    }
    EXPECT_NEAR((lo + hi) / 2.0, r.truth().amplitude[0], 2.0);
    EXPECT_LE(hi - lo, 4u);
    EXPECT_GT(rawHi - rawLo, 80u);
}

}  // namespace
