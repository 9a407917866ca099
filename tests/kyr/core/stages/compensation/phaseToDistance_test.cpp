// Raw phase to millimetres.
#include "kyr/stages/compensation/phaseToDistance.h"

#include <gtest/gtest.h>

#include "kyr/core/stages/compensation/compensationTestUtil.h"
#include "support/log_capture.h"

namespace {

using namespace testsupport;

class PhaseToDistanceTest : public ::testing::Test {
protected:
    Source<PhaseImage> source;
};

TEST_F(PhaseToDistanceTest, WorkedValuesAt20MHz) {
    PhaseToDistance stage(20000000);
    EXPECT_STREQ(stage.getName(), "Phase to Dist.");
    EXPECT_EQ(stage.getScaleFactor(), 1192.8362f);
    stage.phaseInput.registerDependency(&source);
    Catcher<Image<uint16_t>> out(stage);
    source.fire(phaseImage(7, 1, {0, 1, 16384, 32768, 65535, 64000, 65534}));
    auto result = out.take();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->getWidth(), 7u);
    EXPECT_EQ(raw(*result), (std::vector<uint16_t>{0, 0, 1873, 3747, 7494, 7319, 7494}));
}

TEST_F(PhaseToDistanceTest, UnambiguousRangeAt10MHz) {
    PhaseToDistance stage(20000000);
    stage.setModulationFrequency(10000000);
    stage.phaseInput.registerDependency(&source);
    Catcher<Image<uint16_t>> out(stage);
    source.fire(phaseImage(1, 1, {65535}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{14989}));
}

TEST_F(PhaseToDistanceTest, ZeroHertzHasNoScale) {
    LogCapture log;
    PhaseToDistance stage(0);
    EXPECT_EQ(stage.getScaleFactor(), 0.0f);
    EXPECT_EQ(log.count("Modulation frequency 0 Hz has no distance scale. Distances will be 0."),
              1u);
    stage.phaseInput.registerDependency(&source);
    Catcher<Image<uint16_t>> out(stage);
    source.fire(phaseImage(3, 1, {0, 32768, 65535}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{0, 0, 0}));
}

// Below about 2.29 MHz the range exceeds 65535 mm: the low 16 bits are kept,
// also where the distance no longer fits 32 bits.
TEST_F(PhaseToDistanceTest, LowFrequenciesWrapToTheLow16Bits) {
    for (uint32_t hz : {2000000u, 1000u, 70u, 3u, 1u}) {
        SCOPED_TRACE(hz);
        PhaseToDistance stage(hz);
        stage.phaseInput.registerDependency(&source);
        Catcher<Image<uint16_t>> out(stage);
        source.fire(phaseImage(2, 1, {32768, 65535}));
        const float scale = stage.getScaleFactor();
        std::vector<uint16_t> expected;
        for (uint16_t p : {32768, 65535}) {
            const double mm = std::trunc(((static_cast<float>(p) * 6.2831855f) / 65535.0f) * scale);
            expected.push_back(static_cast<uint16_t>(static_cast<uint64_t>(mm) & 0xFFFF));
        }
        EXPECT_EQ(raw(*out.take()), expected);
    }
}

TEST_F(PhaseToDistanceTest, RunWithoutInputPublishesNothing) {
    PhaseToDistance stage(20000000);
    Catcher<Image<uint16_t>> out(stage);
    LogCapture log;
    EXPECT_EQ(stage.run(), -22);
    EXPECT_FALSE(out.take());
}

}  // namespace
