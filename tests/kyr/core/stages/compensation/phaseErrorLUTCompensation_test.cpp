// Phase error table lookup with its calibration lookup.
#include "kyr/stages/compensation/phaseErrorLUTCompensation.h"

#include <gtest/gtest.h>

#include "kyr/core/stages/compensation/compensationTestUtil.h"
#include "support/log_capture.h"

namespace {

using namespace testsupport;

constexpr const char* NO_LUT_20MHZ =
    "No phase error LUT available for modulation frequency 20000000 Hz.";

std::unique_ptr<PhaseType<uint16_t>[]> makeTable(const std::vector<uint16_t>& values) {
    auto t = std::make_unique<PhaseType<uint16_t>[]>(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        t[i] = PhaseType<uint16_t>(values[i]);
    }
    return t;
}

class PhaseErrorLUTCompensationTest : public ::testing::Test {
protected:
    void SetUp() override { useDefaultProviders(); }
    Source<PhaseImage> source;
};

TEST_F(PhaseErrorLUTCompensationTest, MissingTableWarnsWhetherEnabledOrNotAndForwards) {
    LogCapture log;
    PhaseErrorLUTCompensation stage(20000000);
    EXPECT_STREQ(stage.getName(), "Phase Error LUT");
    EXPECT_EQ(log.count(NO_LUT_20MHZ), 1u);
    stage.setCompensation(false);
    stage.setModulationFrequency(20000000);
    EXPECT_EQ(log.count(NO_LUT_20MHZ), 2u);
    stage.setCompensation(true);
    stage.input.registerDependency(&source);
    Catcher<PhaseImage> out(stage);
    auto in = phaseImage(2, 1, {1, 2});
    source.fire(std::shared_ptr<PhaseImage>(in));
    EXPECT_EQ(out.take(), in);
}

TEST_F(PhaseErrorLUTCompensationTest, TableFromTheProviderIsAppliedPerPhase) {
    FakeLutProvider provider;
    provider.table = {10, 20, 30, 65535};  // entry k covers [k * 16384, (k + 1) * 16384)
    ScopedProvider<PhaseErrorLUTData> scoped(provider);
    LogCapture log;
    PhaseErrorLUTCompensation stage(20000000);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(provider.requests, (std::vector<uint32_t>{20000000}));
    stage.input.registerDependency(&source);
    Catcher<PhaseImage> out(stage);
    auto in = phaseImage(3, 2, {0, 16383, 16384, 40000, 49152, 65535});
    source.fire(std::shared_ptr<PhaseImage>(in));
    auto result = out.take();
    ASSERT_TRUE(result);
    EXPECT_NE(result, in);
    EXPECT_EQ(raw(*result), (std::vector<uint16_t>{65526, 16373, 16364, 39970, 49153, 0}));
}

TEST_F(PhaseErrorLUTCompensationTest, TopPhaseUsesTheLastEntry) {
    PhaseErrorLUTCompensation stage(20000000);
    std::vector<uint16_t> values(1024, 0);
    values[1023] = 5;
    stage.setLut(makeTable(values), values.size());
    stage.input.registerDependency(&source);
    Catcher<PhaseImage> out(stage);
    source.fire(phaseImage(2, 1, {65535, 65471}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{65530, 65471}));
}

TEST_F(PhaseErrorLUTCompensationTest, DisabledPublishesTheSameImage) {
    PhaseErrorLUTCompensation stage(20000000);
    stage.setLut(makeTable({100}), 1);
    stage.setCompensation(false);
    stage.input.registerDependency(&source);
    Catcher<PhaseImage> out(stage);
    auto in = phaseImage(1, 1, {7});
    source.fire(std::shared_ptr<PhaseImage>(in));
    EXPECT_EQ(out.take(), in);
}

TEST_F(PhaseErrorLUTCompensationTest, TableOfZeroEntriesIsLikeNoTable) {
    FakeLutProvider provider;
    provider.table = {};
    ScopedProvider<PhaseErrorLUTData> scoped(provider);
    LogCapture log;
    PhaseErrorLUTCompensation stage(20000000);
    EXPECT_EQ(log.count(NO_LUT_20MHZ), 1u);
    stage.input.registerDependency(&source);
    Catcher<PhaseImage> out(stage);
    auto in = phaseImage(2, 1, {0, 65535});
    source.fire(std::shared_ptr<PhaseImage>(in));
    EXPECT_EQ(out.take(), in);
    // The same through the setter, and a size without a table.
    stage.setLut(makeTable({}), 0);
    source.fire(std::shared_ptr<PhaseImage>(in));
    EXPECT_EQ(out.take(), in);
    stage.setLut(nullptr, 16);
    source.fire(std::shared_ptr<PhaseImage>(in));
    EXPECT_EQ(out.take(), in);
}

TEST_F(PhaseErrorLUTCompensationTest, FrequencyChangeReplacesTheTable) {
    FakeLutProvider provider;
    provider.table = {1};
    ScopedProvider<PhaseErrorLUTData> scoped(provider);
    PhaseErrorLUTCompensation stage(20000000);
    stage.input.registerDependency(&source);
    Catcher<PhaseImage> out(stage);
    source.fire(phaseImage(1, 1, {100}));
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{99}));
    provider.present = false;
    LogCapture log;
    stage.setModulationFrequency(30000000);
    EXPECT_EQ(log.count("No phase error LUT available for modulation frequency 30000000 Hz."), 1u);
    auto in = phaseImage(1, 1, {100});
    source.fire(std::shared_ptr<PhaseImage>(in));
    EXPECT_EQ(out.take(), in);
}

TEST_F(PhaseErrorLUTCompensationTest, TablesLargerThanTheVectorLimitStillWork) {
    PhaseErrorLUTCompensation stage(20000000);
    std::vector<uint16_t> values(100000);
    for (size_t k = 0; k < values.size(); ++k) {
        values[k] = static_cast<uint16_t>(k * 7);
    }
    stage.setLut(makeTable(values), values.size());
    stage.input.registerDependency(&source);
    Catcher<PhaseImage> out(stage);
    source.fire(phaseImage(3, 1, {0, 30000, 65535}));
    const auto k1 = (uint64_t{30000} * 100000) >> 16;
    const auto k2 = (uint64_t{65535} * 100000) >> 16;
    EXPECT_EQ(raw(*out.take()), (std::vector<uint16_t>{0, static_cast<uint16_t>(30000 - values[k1]),
                                                       static_cast<uint16_t>(65535 - values[k2])}));
}

}  // namespace
