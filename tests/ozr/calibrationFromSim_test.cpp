// A calibration directory written by the virtual sensor loads through the
// providers at every frequency it describes, and the providers interpolate
// between those frequencies the way the sensor's errors behave: the phase
// offset rises linearly with the frequency, the cyclic error's amplitude too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "ozr/calibrationTestDir.h"
#include "ozr/dsnuOffsetProvider.h"
#include "ozr/phaseErrorLUTProvider.h"
#include "ozr/phaseOffsetProvider.h"
#include "ozr/prnuGainProvider.h"
#include "scene.h"
#include "scene_model.h"

namespace {

using testsupport::CalibrationDir;

constexpr uint64_t SEED = 11;

// Distance of two raw phases around the circle.
int circularDistance(uint16_t a, uint16_t b) {
    const int d = std::abs(static_cast<int>(a) - static_cast<int>(b));
    return d > 32768 ? 65536 - d : d;
}

struct SimCase {
    ozrsim::Model model;
    uint32_t deviceWidth;
    uint32_t deviceHeight;
};

class CalibrationFromSimTest : public ::testing::TestWithParam<SimCase> {
protected:
    void SetUp() override {
        const SimCase c = GetParam();
        ASSERT_TRUE(ozrsim::processedSize(c.model, c.deviceWidth, c.deviceHeight, width, height));
        ASSERT_EQ(ozrsim::writeCalibration(dir.str(), c.model, c.deviceWidth, c.deviceHeight, SEED),
                  0);
        ASSERT_EQ(PhaseOffsetProvider::getInstance().loadCalibrationData(dir.str(), ""), 0);
        ASSERT_EQ(PhaseErrorLUTProvider::getInstance().loadCalibrationData(dir.str(), ""), 0);
    }

    ozrsim::SensorErrorModel errors() const {
        return ozrsim::SensorErrorModel(GetParam().model, width, height, SEED);
    }

    // Largest circular distance between the offset image for `hz` and the
    // sensor's offsets at `hz`.
    int offsetDeviation(uint32_t hz) {
        PhaseOffsetData d;
        EXPECT_EQ(PhaseOffsetProvider::getInstance().getCalibrationData(hz, d), 0);
        if (!d.offsetImage) {
            return 65536;
        }
        EXPECT_EQ(d.offsetImage->getWidth(), width);
        EXPECT_EQ(d.offsetImage->getHeight(), height);
        const auto model = errors();
        int worst = 0;
        for (size_t i = 0; i < d.offsetImage->pixelCount(); ++i) {
            worst = std::max(worst, circularDistance(d.offsetImage->getData()[i].getRaw(),
                                                     model.phaseOffsetRaw(i, hz)));
        }
        return worst;
    }

    int lutDeviation(uint32_t hz) {
        PhaseErrorLUTData d;
        EXPECT_EQ(PhaseErrorLUTProvider::getInstance().getCalibrationData(hz, d), 0);
        if (!d.lut) {
            return 65536;
        }
        EXPECT_EQ(d.lutSize, ozrsim::kPhaseLutSize);
        const auto expected = errors().phaseErrorLut(hz, ozrsim::kPhaseLutSize);
        int worst = 0;
        for (size_t k = 0; k < d.lutSize; ++k) {
            worst = std::max(worst, circularDistance(d.lut[k].getRaw(), expected[k]));
        }
        return worst;
    }

    CalibrationDir dir;
    uint32_t width = 0;
    uint32_t height = 0;
};

TEST_P(CalibrationFromSimTest, EveryDescribedFrequencyLoads) {
    FrequencyList list;
    PhaseOffsetProvider::getInstance().getCalibratedFrequencies(list);
    ASSERT_EQ(list.count, std::size(ozrsim::kCalibratedFrequenciesHz));
    for (size_t k = 0; k < list.count; ++k) {
        EXPECT_EQ(list.frequencies[k], ozrsim::kCalibratedFrequenciesHz[k]);
    }
    PhaseErrorLUTProvider::getInstance().getCalibratedFrequencies(list);
    ASSERT_EQ(list.count, std::size(ozrsim::kCalibratedFrequenciesHz));

    for (uint32_t hz : ozrsim::kCalibratedFrequenciesHz) {
        SCOPED_TRACE(hz);
        // Exact matches: the files themselves (raw 65535 reads back as 0).
        EXPECT_LE(offsetDeviation(hz), 1);
        EXPECT_LE(lutDeviation(hz), 1);
        PhaseOffsetData d;
        ASSERT_EQ(PhaseOffsetProvider::getInstance().getCalibrationData(hz, d), 0);
        EXPECT_EQ(d.calibrationTemp_C, ozrsim::kCalibrationTempC);
        EXPECT_EQ(d.sensorTempSlope_mm_K, ozrsim::kTempDriftMmPerK);
        EXPECT_EQ(d.calibratedFrequency_Hz, hz);
    }
}

TEST_P(CalibrationFromSimTest, BetweenFrequenciesTheInterpolationFollowsTheSensor) {
    const auto& f = ozrsim::kCalibratedFrequenciesHz;
    for (size_t k = 0; k + 1 < std::size(f); ++k) {
        // Halfway, and a quarter of the way.
        for (uint32_t hz : {f[k] + (f[k + 1] - f[k]) / 2, f[k] + (f[k + 1] - f[k]) / 4}) {
            SCOPED_TRACE(hz);
            // The offset rises linearly with the frequency: only rounding
            // remains.
            EXPECT_LE(offsetDeviation(hz), 2);
            // The cyclic error's amplitude rises linearly too; the tables
            // hold it at slightly different ideal phases.
            EXPECT_LE(lutDeviation(hz), 3);
        }
    }
}

TEST_P(CalibrationFromSimTest, OutsideTheDescribedFrequencies) {
    const uint32_t lowest = ozrsim::kCalibratedFrequenciesHz[0];
    const uint32_t highest = std::end(ozrsim::kCalibratedFrequenciesHz)[-1];
    PhaseOffsetData d;
    EXPECT_EQ(PhaseOffsetProvider::getInstance().getCalibrationData(lowest - 1, d), -2);
    EXPECT_EQ(PhaseOffsetProvider::getInstance().getCalibrationData(highest + 1, d), -2);
    PhaseErrorLUTData t;
    EXPECT_EQ(PhaseErrorLUTProvider::getInstance().getCalibrationData(lowest - 1, t), -2);
    EXPECT_EQ(PhaseErrorLUTProvider::getInstance().getCalibrationData(highest + 1, t), -2);
}

TEST_P(CalibrationFromSimTest, GrayscaleImagesAreTheSensorsDarkOffsetAndGain) {
    ASSERT_EQ(DsnuOffsetProvider::getInstance().loadCalibrationData(dir.str(), ""), 0);
    ASSERT_EQ(PrnuGainProvider::getInstance().loadCalibrationData(dir.str(), ""), 0);
    DsnuOffsetData dark;
    ASSERT_EQ(DsnuOffsetProvider::getInstance().getCalibrationData(0, dark), 0);
    PrnuGainData gain;
    ASSERT_EQ(PrnuGainProvider::getInstance().getCalibrationData(0, gain), 0);
    EXPECT_EQ(gain.scaleFactor, ozrsim::kPrnuScaleFactor);
    const auto model = errors();
    const auto dsnu = model.dsnuImage();
    const auto prnu = model.prnuImage();
    ASSERT_EQ(dark.offsetImage->pixelCount(), dsnu.size());
    ASSERT_EQ(gain.gainImage->pixelCount(), prnu.size());
    EXPECT_TRUE(std::equal(dsnu.begin(), dsnu.end(), dark.offsetImage->getData()));
    EXPECT_TRUE(std::equal(prnu.begin(), prnu.end(), gain.gainImage->getData()));
}

INSTANTIATE_TEST_SUITE_P(Models, CalibrationFromSimTest,
                         ::testing::Values(SimCase{ozrsim::Model::OZR320, 320, 240},
                                           SimCase{ozrsim::Model::OZR310, 640, 120}),
                         [](const auto& info) {
                             return info.param.model == ozrsim::Model::OZR310 ? "OZR310" : "OZR320";
                         });

}  // namespace
