// The interference mask stage: settings, calibrated and default dark
// offsets, and its input checks.
#include "kyr/stages/filters/interferenceMask.h"

#include <gtest/gtest.h>

#include "kyr/core/stages/compensation/compensationTestUtil.h"
#include "kyr/status.h"
#include "support/log_capture.h"

namespace {

using namespace testsupport;
using U16 = std::vector<uint16_t>;
using Img = Image<uint16_t>;

std::shared_ptr<Img> run(InterferenceMask& stage, const std::vector<std::shared_ptr<Img>>& dcs) {
    return publish(stage, {&stage.input[0], &stage.input[1], &stage.input[2], &stage.input[3]},
                   dcs);
}

// One w x 1 image per DCS input.
std::vector<std::shared_ptr<Img>> row(size_t w, const std::vector<U16>& dcs) {
    std::vector<std::shared_ptr<Img>> f;
    for (const U16& d : dcs) f.push_back(image<uint16_t>(w, 1, d));
    return f;
}

TEST(InterferenceMaskTest, DefaultsAndWorkedValuesWithTheDefaultOffset) {
    useDefaultProviders();
    InterferenceMask stage;
    EXPECT_STREQ(stage.getName(), "Interference Mask");
    EXPECT_FALSE(stage.getEnabled());
    EXPECT_EQ(stage.getThreshold(), 500);
    // Sums 4000 lie inside (3596, 4596); S02 4700 and S13 on 4596 do not.
    const auto dcs =
        row(3, {{1000, 1000, 0}, {2000, 2000, 2000}, {3000, 3700, 4000}, {2000, 2000, 2596}});
    EXPECT_EQ(raw(*run(stage, dcs)), (U16{0, 0, 0}));  // disabled
    stage.setEnabled(true);
    EXPECT_EQ(raw(*run(stage, dcs)), (U16{0, 64005, 64005}));
    for (uint16_t t : {0, 65535}) {  // an empty band; limits wrapped past each other
        stage.setThreshold(t);
        EXPECT_EQ(stage.getThreshold(), t);
        EXPECT_EQ(raw(*run(stage, dcs)), (U16{64005, 64005, 64005}));
    }
}

// The calibrated offset per pixel; one of another size than the DCS images
// gives way to the default offset with one warning.
TEST(InterferenceMaskTest, CalibratedOffsetsAndOneOfAnotherSize) {
    FakeProvider<DsnuOffsetData> provider;
    provider.record.offsetImage = image<uint16_t>(2, 1, {2000, 2100});
    ScopedProvider<DsnuOffsetData> scoped(provider);
    InterferenceMask stage;
    EXPECT_EQ(provider.requests, (std::vector<uint32_t>{0}));
    stage.setEnabled(true);
    stage.setThreshold(150);
    LogCapture log;
    // Sums 4000: inside (3850, 4150) of offset 2000, outside (4050, 4350).
    const auto dcs = row(2, {{1000, 1000}, {2000, 2000}, {3000, 3000}, {2000, 2000}});
    EXPECT_EQ(raw(*run(stage, dcs)), (U16{0, 64005}));
    const auto one = row(1, {{1000}, {2000}, {3000}, {2000}});
    EXPECT_EQ(raw(*run(stage, one)), (U16{0}));  // inside (3946, 4246) around 4096
    EXPECT_EQ(raw(*run(stage, one)), (U16{0}));
    EXPECT_EQ(raw(*run(stage, dcs)), (U16{0, 0}));  // the calibration is gone
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].text,
              "Interference Mask: DSNU offset image of 2 x 1 does not match the DCS images of 1 "
              "x 1. Using the default offset 2048.");
}

// Buffered inputs keep the refused images, so that a direct run shows the
// code.
TEST(InterferenceMaskTest, InputsOfAnotherSizeOrMissingAreRefused) {
    InterferenceMask stage;
    LogCapture log;
    EXPECT_EQ(stage.run(), kyr::status::INVALID_ARGUMENT);
    EXPECT_EQ(log.count("Interference Mask: Input image is null"), 1u);
    for (auto& in : stage.input) in.setBuffered(true);
    auto dcs = row(2, {{0, 0}, {0, 0}, {0, 0}, {0, 0}});
    dcs[2] = image<uint16_t>(1, 2, {0, 0});
    EXPECT_FALSE(run(stage, dcs));
    EXPECT_EQ(stage.run(), kyr::status::SIZE_MISMATCH);
    EXPECT_EQ(log.count("Interference Mask: input images differ in size (2 x 1 and 1 x 2)"), 2u);
}

}  // namespace
