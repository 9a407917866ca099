// The global temperature phase shift.
#include "kyr/stages/compensation/linearTempCompensation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kyr/core/stages/compensation/compensationTestUtil.h"
#include "support/log_capture.h"

namespace {

using namespace testsupport;

class LinearTempCompensationTest : public ::testing::Test {
protected:
    void SetUp() override {
        useDefaultProviders();
        provider.record.calibrationTemp_C = 25.0f;
        provider.record.sensorTempSlope_mm_K = 22.0f;
        provider.record.calibratedFrequency_Hz = 20000000;
        provider.record.offsetImage = phaseImage(1, 1, {0});
    }

    void connect(LinearTempCompensation& stage) {
        stage.phaseInput.registerDependency(&source);
        stage.tempInput.registerDependency(&temperature);
    }

    void setTemperature(float c) { temperature.fire(std::make_shared<float>(c)); }

    FakeOffsetProvider provider;
    Source<PhaseImage> source;
    Source<float> temperature;
};

TEST_F(LinearTempCompensationTest, WorkedShiftsAboveAndBelowTheCalibrationTemperature) {
    ScopedProvider<PhaseOffsetData> scoped(provider);
    LinearTempCompensation stage(20000000);
    EXPECT_STREQ(stage.getName(), "Linear Temp. Comp.");
    connect(stage);
    Catcher<PhaseImage> out(stage);
    setTemperature(45.0f);  // phi = 0.36886877 rad: shift 3847
    source.fire(phaseImage(3, 1, {3847, 0, 65535}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{0, 61689, 61688}));
    setTemperature(15.0f);  // phi = -0.18443438 rad: shift 63611, i.e. + 1925
    source.fire(phaseImage(3, 1, {0, 63611, 65535}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{1925, 0, 1924}));
}

TEST_F(LinearTempCompensationTest, CalibrationTemperatureGivesANewEqualImage) {
    ScopedProvider<PhaseOffsetData> scoped(provider);
    LinearTempCompensation stage(20000000);
    connect(stage);
    Catcher<PhaseImage> out(stage);
    setTemperature(25.0f);
    auto in = phaseImage(2, 1, {1, 65535});
    source.fire(std::shared_ptr<PhaseImage>(in));
    auto result = out.take();
    ASSERT_TRUE(result);
    EXPECT_NE(result, in);
    EXPECT_EQ(raw(*result), raw(*in));
}

TEST_F(LinearTempCompensationTest, TheLastTemperatureServesFollowingFrames) {
    ScopedProvider<PhaseOffsetData> scoped(provider);
    LinearTempCompensation stage(20000000);
    connect(stage);
    Catcher<PhaseImage> out(stage);
    setTemperature(45.0f);
    source.fire(phaseImage(1, 1, {4000}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{153}));
    source.fire(phaseImage(1, 1, {4001}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{154}));
}

TEST_F(LinearTempCompensationTest, NoTemperatureYetMeansNoShift) {
    ScopedProvider<PhaseOffsetData> scoped(provider);
    LinearTempCompensation stage(20000000);
    connect(stage);
    Catcher<PhaseImage> out(stage);
    // The stage waits for a temperature when driven by the graph ...
    source.fire(phaseImage(1, 1, {4000}));
    EXPECT_FALSE(out.take());
    // ... and applies no shift when run without one.
    EXPECT_EQ(stage.run(), 0);
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{4000}));
}

TEST_F(LinearTempCompensationTest, TemperatureWithoutAFinitePhaseGivesNoShift) {
    ScopedProvider<PhaseOffsetData> scoped(provider);
    LinearTempCompensation stage(20000000);
    connect(stage);
    Catcher<PhaseImage> out(stage);
    for (float t : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::max()}) {
        setTemperature(t);
        source.fire(phaseImage(1, 1, {4000}));
        EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{4000}));
    }
}

TEST_F(LinearTempCompensationTest, DefaultProviderIsSilentAndGivesShiftZero) {
    LogCapture log;
    LinearTempCompensation stage(20000000);
    EXPECT_TRUE(log.lines().empty());
    connect(stage);
    Catcher<PhaseImage> out(stage);
    setTemperature(80.0f);
    auto in = phaseImage(1, 1, {1234});
    source.fire(std::shared_ptr<PhaseImage>(in));
    auto result = out.take();
    EXPECT_NE(result, in);
    EXPECT_EQ(raw(*result), (std::vector<uint16_t>{1234}));
}

TEST_F(LinearTempCompensationTest, FailedLookupKeepsTheLastTemperatureFields) {
    ScopedProvider<PhaseOffsetData> scoped(provider);
    LinearTempCompensation stage(20000000);
    provider.status = -2;  // the calibrated provider only empties the image
    stage.setModulationFrequency(99000000);
    connect(stage);
    Catcher<PhaseImage> out(stage);
    setTemperature(45.0f);
    source.fire(phaseImage(1, 1, {3847}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{0}));
}

TEST_F(LinearTempCompensationTest, DisabledPublishesTheSameImage) {
    ScopedProvider<PhaseOffsetData> scoped(provider);
    LinearTempCompensation stage(20000000);
    stage.setCompensation(false);
    EXPECT_FALSE(stage.isCompensationActive());
    connect(stage);
    Catcher<PhaseImage> out(stage);
    setTemperature(45.0f);
    auto in = phaseImage(1, 1, {3847});
    source.fire(std::shared_ptr<PhaseImage>(in));
    EXPECT_EQ(out.take(), in);
}

}  // namespace
