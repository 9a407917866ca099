// Per-pixel phase offset subtraction with its calibration lookup.
#include "kyr/stages/compensation/phaseOffsetCompensation.h"

#include <gtest/gtest.h>

#include "kyr/core/stages/compensation/compensationTestUtil.h"
#include "support/log_capture.h"

namespace {

using namespace testsupport;

constexpr const char* NO_IMAGE_20MHZ =
    "No phase offset image available for modulation frequency 20000000 Hz. Phase offset "
    "compensation will be set to 0.";
constexpr const char* ZERO_OFFSET =
    "Phase offset compensation enabled but no offset image available. Using zero offset.";

class PhaseOffsetCompensationTest : public ::testing::Test {
protected:
    void SetUp() override { useDefaultProviders(); }
    Source<PhaseImage> source;
};

TEST_F(PhaseOffsetCompensationTest, NameAndFrequencyLookupAtConstruction) {
    FakeOffsetProvider provider;
    provider.record.offsetImage = phaseImage(2, 1, {1, 2});
    ScopedProvider<PhaseOffsetData> scoped(provider);
    LogCapture log;
    PhaseOffsetCompensation stage(20000000);
    EXPECT_STREQ(stage.getName(), "Phase Offset Comp.");
    EXPECT_TRUE(stage.isCompensationActive());
    EXPECT_EQ(provider.requests, (std::vector<uint32_t>{20000000}));
    EXPECT_TRUE(log.lines().empty());
    stage.setModulationFrequency(60000000);
    EXPECT_EQ(provider.requests.back(), 60000000u);
}

TEST_F(PhaseOffsetCompensationTest, SubtractsTheOffsetModulo65536) {
    FakeOffsetProvider provider;
    provider.record.offsetImage = phaseImage(3, 1, {200, 0, 65535});
    ScopedProvider<PhaseOffsetData> scoped(provider);
    PhaseOffsetCompensation stage(20000000);
    stage.input.registerDependency(&source);
    Catcher<PhaseImage> out(stage);
    auto in = phaseImage(3, 1, {100, 7, 65535});
    source.fire(std::shared_ptr<PhaseImage>(in));
    auto result = out.take();
    ASSERT_TRUE(result);
    EXPECT_NE(result, in);
    EXPECT_EQ(result->getWidth(), 3u);
    EXPECT_EQ(raw(*result), (std::vector<uint16_t>{65436, 7, 0}));
    EXPECT_EQ(raw(*in), (std::vector<uint16_t>{100, 7, 65535}));  // input untouched
}

TEST_F(PhaseOffsetCompensationTest, DisabledPublishesTheSameImage) {
    LogCapture log;
    PhaseOffsetCompensation stage(20000000);
    stage.setCompensation(false);
    EXPECT_FALSE(stage.isCompensationActive());
    stage.input.registerDependency(&source);
    Catcher<PhaseImage> out(stage);
    auto in = phaseImage(2, 1, {1, 2});
    source.fire(std::shared_ptr<PhaseImage>(in));
    EXPECT_EQ(out.take(), in);
    EXPECT_EQ(log.count(ZERO_OFFSET), 0u);
}

TEST_F(PhaseOffsetCompensationTest, MissingCalibrationWarnsOnlyWhenEnabled) {
    LogCapture log;
    PhaseOffsetCompensation stage(20000000);
    EXPECT_EQ(log.count(NO_IMAGE_20MHZ), 1u);
    stage.setCompensation(false);
    log.clear();
    stage.setModulationFrequency(20000000);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(PhaseOffsetCompensationTest, ZeroOffsetIsAnnouncedOnceUntilTheNextLookup) {
    PhaseOffsetCompensation stage(20000000);
    stage.input.registerDependency(&source);
    Catcher<PhaseImage> out(stage);
    LogCapture log;
    auto in = phaseImage(2, 2, {1, 2, 3, 65535});
    source.fire(std::shared_ptr<PhaseImage>(in));
    auto first = out.take();
    ASSERT_TRUE(first);
    EXPECT_NE(first, in);
    EXPECT_EQ(raw(*first), raw(*in));
    EXPECT_EQ(log.count(ZERO_OFFSET), 1u);
    source.fire(phaseImage(2, 2, {4, 5, 6, 7}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{4, 5, 6, 7}));
    EXPECT_EQ(log.count(ZERO_OFFSET), 1u);
    stage.setModulationFrequency(20000000);
    source.fire(phaseImage(2, 2, {4, 5, 6, 7}));
    EXPECT_EQ(log.count(ZERO_OFFSET), 2u);
}

TEST_F(PhaseOffsetCompensationTest, OffsetImageSmallerThanTheFrameCountsAsMissing) {
    PhaseOffsetCompensation stage(20000000);
    stage.setPhaseOffsetImage(phaseImage(2, 1, {10, 10}));
    stage.input.registerDependency(&source);
    Catcher<PhaseImage> out(stage);
    LogCapture log;
    source.fire(phaseImage(3, 1, {100, 200, 300}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{100, 200, 300}));
    EXPECT_EQ(log.count(ZERO_OFFSET), 1u);
    // The zero image of the frame's size serves the following frames.
    source.fire(phaseImage(3, 1, {1, 2, 3}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{1, 2, 3}));
    EXPECT_EQ(log.count(ZERO_OFFSET), 1u);
}

TEST_F(PhaseOffsetCompensationTest, LargerOffsetImageIsReadByPixelIndex) {
    PhaseOffsetCompensation stage(20000000);
    stage.setPhaseOffsetImage(phaseImage(2, 2, {1, 2, 3, 4}));
    stage.input.registerDependency(&source);
    Catcher<PhaseImage> out(stage);
    source.fire(phaseImage(3, 1, {10, 10, 10}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{9, 8, 7}));
}

TEST_F(PhaseOffsetCompensationTest, FailedLookupDropsTheOldImage) {
    FakeOffsetProvider provider;
    provider.record.offsetImage = phaseImage(1, 1, {5});
    ScopedProvider<PhaseOffsetData> scoped(provider);
    PhaseOffsetCompensation stage(20000000);
    provider.status = -2;
    LogCapture log;
    stage.setModulationFrequency(20000000);
    EXPECT_EQ(log.count(NO_IMAGE_20MHZ), 1u);
    stage.input.registerDependency(&source);
    Catcher<PhaseImage> out(stage);
    source.fire(phaseImage(1, 1, {9}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{9}));
}

TEST_F(PhaseOffsetCompensationTest, RunWithoutInputPublishesNothing) {
    PhaseOffsetCompensation stage(20000000);
    Catcher<PhaseImage> out(stage);
    LogCapture log;
    EXPECT_EQ(stage.run(), -22);
    EXPECT_FALSE(out.take());
    EXPECT_EQ(log.count("Phase Offset Comp.: no input image"), 1u);
}

}  // namespace
