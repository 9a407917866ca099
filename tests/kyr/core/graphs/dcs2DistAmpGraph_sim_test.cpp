// The DCS-to-distance graph on frames of the virtual sensor: its distances
// and amplitudes against the scene's ground truth, within the noise the
// sensor adds; with the sensor's systematic errors and the calibration the
// sensor describes, the compensation stages bring the distances back to the
// truth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>

#include "kyr/calibration/calibrationDataRegistry.h"
#include "kyr/core/sources/simSensorSource.h"
#include "kyr/core/stages/compensation/compensationTestUtil.h"
#include "kyr/graphs/dcs2DistAmpGraph.h"
#include "ozr/calibrationTestDir.h"
#include "ozr/phaseErrorLUTProvider.h"
#include "ozr/phaseOffsetProvider.h"

namespace {

using ozr::ControlID;
using testsupport::Catcher;

constexpr uint32_t MHZ20 = 20000000;
constexpr uint64_t SEED = 3;

// Graph distances and amplitudes against the ground truth. Per pixel, as
// for the textbook formulas, the sample noise bounds the phase error by
// asin(worst / 2A); the graph adds its own quantisation: the truncation to
// whole millimetres, the CORDIC residue (a few 1/65536 turn) and, with
// calibration, the step of the phase error table. `extraMm` carries those.
struct Errors {
    size_t compared = 0;
    size_t outside = 0;
    double meanMm = 0.0;  // mean signed error
    double rmsMm = 0.0;
    double maxMm = 0.0;
    // Errors (less the truncation's mean of half a millimetre) over their
    // predicted spread: noise plus the quantisation's own.
    double rmsZ = 0.0;
};

Errors compare(const Image<uint16_t>& dist, const Image<uint16_t>& amp,
               const ozrsim::GroundTruth& truth, double hz, double noiseScale, double extraMm) {
    Errors r;
    const double mmPerRad = ozrsim::kSpeedOfLightMps * 1000.0 / (4 * std::numbers::pi * hz);
    double sum = 0.0, sum2 = 0.0, sumZ2 = 0.0;
    // Truncation: uniform over 1 mm; CORDIC residue: about 2 counts.
    const double quantisationVar =
        1.0 / 12.0 + std::pow(2.0 * mmPerRad * 2 * std::numbers::pi / 65536, 2);
    for (size_t i = 0; i < truth.distanceMm.size(); ++i) {
        if (truth.flags[i] & ozrsim::GroundTruth::kTruthClipped) continue;
        const double a = truth.amplitude[i];
        const double sigma = noiseScale * std::sqrt(1.0 + a / 64.0);
        const double worst = std::sqrt(2.0) * (2 * 3.47 * sigma + 1.0);
        if (!(worst < 2 * a)) continue;
        const double err = testsupport::wrappedErrorMm(dist.getData()[i], truth.distanceMm[i], hz);
        const double bound = std::asin(worst / (2 * a)) * mmPerRad + extraMm;
        // Amplitude: half the error vector, plus the truncation.
        if (std::abs(err) > bound || std::abs(amp.getData()[i] - a) > worst / 2 + 1.0) {
            ++r.outside;
        }
        sum += err;
        sum2 += err * err;
        const double sigmaMm = std::sqrt(2.0 * (sigma * sigma + 1.0 / 12.0)) / (2 * a) * mmPerRad;
        sumZ2 += (err + 0.5) * (err + 0.5) / (sigmaMm * sigmaMm + quantisationVar);
        r.maxMm = std::max(r.maxMm, std::abs(err));
        ++r.compared;
    }
    if (r.compared > 0) {
        r.meanMm = sum / r.compared;
        r.rmsMm = std::sqrt(sum2 / r.compared);
        r.rmsZ = std::sqrt(sumZ2 / r.compared);
    }
    return r;
}

class GraphOnSim : public testsupport::SimSensorSource<OZR320Source> {
protected:
    void SetUp() override { testsupport::useDefaultProviders(); }
    void TearDown() override {
        graph.reset();
        SimSensorSource::TearDown();
        testsupport::useDefaultProviders();
    }

    // Starts the sensor at `hz` and a graph on its outputs.
    void startWithGraph(const ozrsim::Config& c, uint32_t hz = MHZ20) {
        this->hz = hz;
        start(c);
        ASSERT_EQ(source->setControl(ControlID::MODULATION_FREQ_HZ, static_cast<int32_t>(hz)), 0);
        graph = std::make_unique<DCS2DistAmpGraph>(10000000);
        ASSERT_EQ(graph->setControl(ControlID::MODULATION_FREQ_HZ, static_cast<int32_t>(hz)), 0);
        Source<Image<uint16_t>>* dcs[4];
        for (size_t k = 0; k < 4; ++k) dcs[k] = source->getDCSSource(k);
        graph->connect(dcs, source->getTemperatureSource());
        distance = std::make_unique<Catcher<Image<uint16_t>>>(*graph->getDistanceSource());
        amplitude = std::make_unique<Catcher<Image<uint16_t>>>(*graph->getAmplitudeSource());
    }

    // Streams `frames` frames and compares the last one with its truth.
    Errors measure(int frames, double noiseScale, double extraMm) {
        stream(frames);
        const auto d = distance->take();
        const auto a = amplitude->take();
        EXPECT_TRUE(d && a);
        if (!d || !a) return {};
        const ozrsim::GroundTruth truth = ozrsim::lastTruth();
        EXPECT_EQ(d->pixelCount(), truth.distanceMm.size());
        EXPECT_EQ(ozrsim::lastState().modulationHz, hz);
        const Errors e = compare(*d, *a, truth, hz, noiseScale, extraMm);
        EXPECT_GT(e.compared, truth.distanceMm.size() * 8 / 10);
        return e;
    }

    uint32_t hz = MHZ20;
    std::unique_ptr<DCS2DistAmpGraph> graph;
    std::unique_ptr<Catcher<Image<uint16_t>>> distance;
    std::unique_ptr<Catcher<Image<uint16_t>>> amplitude;
};

// CORDIC residue (8 counts) and truncation (1 mm).
double quantisationMm(uint32_t hz) {
    return 8 * ozrsim::kSpeedOfLightMps * 1000.0 / (2.0 * hz) / 65536 + 1.0;
}

TEST_F(GraphOnSim, DistancesFollowTheTruthWithinTheNoise) {
    ozrsim::Config c = config();  // no systematic errors
    c.scene.name = "boxes";
    startWithGraph(c);
    const Errors e = measure(3, 1.0, quantisationMm(hz));
    RecordProperty("meanMm", std::to_string(e.meanMm));
    RecordProperty("rmsMm", std::to_string(e.rmsMm));
    RecordProperty("rmsZ", std::to_string(e.rmsZ));
    EXPECT_EQ(e.outside, 0u);
    // Truncation to whole millimetres lowers the mean by half a millimetre.
    EXPECT_NEAR(e.meanMm, -0.5, 0.3);
    // Errors of the spread that noise and quantisation predict, no more.
    EXPECT_GT(e.rmsZ, 0.9);
    EXPECT_LT(e.rmsZ, 1.1);
}

TEST_F(GraphOnSim, NoiselessDistancesAreExactToTheQuantisation) {
    ozrsim::Config c = config();
    c.scene.name = "tilted";
    c.scene.noiseScale = 0.0f;
    startWithGraph(c);
    const Errors e = measure(1, 0.0, quantisationMm(hz));
    EXPECT_EQ(e.outside, 0u);
    EXPECT_NEAR(e.meanMm, -0.5, 0.2);
    EXPECT_LT(e.rmsZ, 1.1);
}

// The sensor's phase offsets, cyclic error and temperature drift (die at
// 40 C, calibrated at 30 C: 220 mm of drift) against the calibration
// written for it.
class GraphOnSimWithErrors : public GraphOnSim {
protected:
    void SetUp() override {
        GraphOnSim::SetUp();
        ASSERT_EQ(ozrsim::writeCalibration(dir.str(), ozrsim::Model::OZR320, 320, 240, SEED), 0);
        ASSERT_EQ(PhaseOffsetProvider::getInstance().loadCalibrationData(dir.str(), ""), 0);
        ASSERT_EQ(PhaseErrorLUTProvider::getInstance().loadCalibrationData(dir.str(), ""), 0);
        auto& registry = CalibrationDataRegistry::getInstance();
        registry.registerProvider<PhaseOffsetData>(PhaseOffsetProvider::getInstance());
        registry.registerProvider<PhaseErrorLUTData>(PhaseErrorLUTProvider::getInstance());
        cfg = config();
        cfg.seed = SEED;
        cfg.scene.name = "boxes";
        cfg.scene.systematicErrors = true;
        cfg.temperature.startC = 40.0f;
        cfg.temperature.timeConstantS = 0.0f;
    }

    testsupport::CalibrationDir dir;
    ozrsim::Config cfg;
};

// At calibrated frequencies and between them (30 MHz: the providers
// interpolate), switched on the graph as on the sensor.
class GraphOnSimAtFrequency : public GraphOnSimWithErrors,
                              public ::testing::WithParamInterface<uint32_t> {};

TEST_P(GraphOnSimAtFrequency, CompensationBringsTheDistancesToTheTruth) {
    startWithGraph(cfg, GetParam());
    // The table has 2048 entries without interpolation: within one entry the
    // cyclic error still varies by a few counts.
    const Errors e = measure(3, 1.0, quantisationMm(hz) + 1.0);
    RecordProperty("meanMm", std::to_string(e.meanMm));
    RecordProperty("rmsMm", std::to_string(e.rmsMm));
    RecordProperty("rmsZ", std::to_string(e.rmsZ));
    EXPECT_EQ(e.outside, 0u);
    EXPECT_NEAR(e.meanMm, -0.5, 0.5);
    EXPECT_GT(e.rmsZ, 0.9);
    EXPECT_LT(e.rmsZ, 1.1);
}

INSTANTIATE_TEST_SUITE_P(Frequencies, GraphOnSimAtFrequency,
                         ::testing::Values(10000000u, 20000000u, 30000000u, 40000000u));

TEST_F(GraphOnSimWithErrors, WithoutCompensationTheErrorsRemain) {
    startWithGraph(cfg);
    for (ControlID id :
         {ControlID::ENABLE_PHASE_ERROR_COMPENSATION, ControlID::ENABLE_PHASE_OFFSET_COMPENSATION,
          ControlID::ENABLE_TEMPERATURE_COMPENSATION}) {
        ASSERT_EQ(graph->setControl(id, 0), 0);
    }
    const Errors e = measure(2, 1.0, quantisationMm(hz) + 1.0);
    RecordProperty("meanMm", std::to_string(e.meanMm));
    EXPECT_GT(e.outside, e.compared / 2);
}

// Only the temperature compensation off: the distances are off by the drift
// of 10 K at 22 mm/K.
TEST_F(GraphOnSimWithErrors, TemperatureCompensationRemovesTheDrift) {
    startWithGraph(cfg);
    ASSERT_EQ(graph->setControl(ControlID::ENABLE_TEMPERATURE_COMPENSATION, 0), 0);
    const Errors e = measure(2, 1.0, quantisationMm(hz) + 1.0);
    RecordProperty("meanMm", std::to_string(e.meanMm));
    EXPECT_NEAR(e.meanMm, 220.0 - 0.5, 2.0);
}

}  // namespace
