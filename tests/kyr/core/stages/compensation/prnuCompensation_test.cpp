// Gain correction by fixed-point reciprocals, with its calibration lookup
// and its stand-in.
#include "kyr/stages/compensation/prnuCompensation.h"

#include <gtest/gtest.h>

#include "kyr/core/stages/compensation/compensationTestUtil.h"
#include "kyr/status.h"
#include "support/log_capture.h"

namespace {

using namespace testsupport;
using U16 = std::vector<uint16_t>;
using Img = Image<uint16_t>;

std::shared_ptr<Img> run(PRNUCompensation& stage, std::shared_ptr<Img> in) {
    return publish(stage, {&stage.input}, {std::move(in)});
}

// The worked gains of scale 1000 (1.0, x1.25, x0.7998, uncorrected below a
// quarter, x4 at a quarter) and the low 16 bits of an overflowing product.
TEST(PRNUCompensationTest, CalibratedGainsAndDisabledPassesTheImage) {
    FakeProvider<PrnuGainData> provider;
    provider.record.gainImage = image<uint16_t>(3, 2, {1000, 800, 1250, 249, 250, 250});
    ScopedProvider<PrnuGainData> scoped(provider);
    LogCapture log;
    PRNUCompensation stage;
    EXPECT_STREQ(stage.getName(), "PRNU Compensation");
    EXPECT_EQ(provider.requests, (std::vector<uint32_t>{0}));
    auto in = image<uint16_t>(3, 2, {1000, 1000, 1000, 1000, 1000, 65535});
    EXPECT_EQ(raw(*run(stage, in)), (U16{1000, 1250, 799, 1000, 4000, 65532}));
    // Gains of the frame's pixel count serve whatever their shape.
    stage.setPrnuGainImage(image<uint16_t>(1, 2, {2, 8}), 4);  // scale 4: x2, x0.5
    EXPECT_EQ(raw(*run(stage, image<uint16_t>(2, 1, {100, 100}))), (U16{200, 50}));
    stage.setCompensation(false);
    EXPECT_FALSE(stage.isCompensationActive());
    EXPECT_EQ(run(stage, in), in);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(stage.run(), kyr::status::INVALID_ARGUMENT);
    EXPECT_EQ(log.count("PRNU Compensation: Input image is null"), 1u);
}

// No calibration, or gains for another pixel count: unity gain with one
// warning, also across a later change of frame size; emptying the gains
// warns again.
TEST(PRNUCompensationTest, MissingOrMisfittingGainIsUnityWithOneWarning) {
    for (const auto& gain : {std::shared_ptr<Img>(), image<uint16_t>(3, 1, {500, 500, 500})}) {
        PRNUCompensation stage;
        stage.setPrnuGainImage(gain, 1000);
        LogCapture log;
        auto in = image<uint16_t>(2, 2, {1, 2, 65535, 4});
        auto first = run(stage, in);
        EXPECT_NE(first, in);
        EXPECT_EQ(raw(*first), raw(*in));
        EXPECT_EQ(raw(*run(stage, image<uint16_t>(1, 1, {3}))), (U16{3}));
        stage.setPrnuGainImage(nullptr, 1000);
        EXPECT_EQ(raw(*run(stage, image<uint16_t>(1, 1, {3}))), (U16{3}));
        EXPECT_EQ(log.count("PRNU compensation enabled but no gain image available. Using unity "
                            "gain."),
                  2u);
        EXPECT_EQ(log.lines().size(), 2u);
    }
}

}  // namespace
