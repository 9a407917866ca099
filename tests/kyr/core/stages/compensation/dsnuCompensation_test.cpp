// Dark offset subtraction with its calibration lookup and its stand-in.
#include "kyr/stages/compensation/dsnuCompensation.h"

#include <gtest/gtest.h>

#include "kyr/core/stages/compensation/compensationTestUtil.h"
#include "kyr/status.h"
#include "support/log_capture.h"

namespace {

using namespace testsupport;
using U16 = std::vector<uint16_t>;
using Img = Image<uint16_t>;

std::shared_ptr<Img> run(DSNUCompensation& stage, std::shared_ptr<Img> in) {
    return publish(stage, {&stage.input}, {std::move(in)});
}

TEST(DSNUCompensationTest, CalibratedOffsetSaturatesAtZeroAndDisabledPassesTheImage) {
    FakeProvider<DsnuOffsetData> provider;
    provider.record.offsetImage = image<uint16_t>(3, 2, {150, 100, 0, 65535, 1, 7});
    ScopedProvider<DsnuOffsetData> scoped(provider);
    LogCapture log;
    DSNUCompensation stage;
    EXPECT_STREQ(stage.getName(), "DSNU Compensation");
    EXPECT_EQ(provider.requests, (std::vector<uint32_t>{0}));
    EXPECT_TRUE(stage.isCompensationActive());
    auto in = image<uint16_t>(3, 2, {100, 150, 65535, 65535, 0, 4095});
    EXPECT_EQ(raw(*run(stage, in)), (U16{0, 50, 65535, 0, 0, 4088}));
    stage.setCompensation(false);
    EXPECT_FALSE(stage.isCompensationActive());
    EXPECT_EQ(run(stage, in), in);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(stage.run(), kyr::status::INVALID_ARGUMENT);
    EXPECT_EQ(log.count("DSNU Compensation: Input image is null"), 1u);
}

// No calibration, or an offset image of another size (smaller, or as many
// pixels in another shape): a zero offset with one warning, also across a
// later change of frame size.
TEST(DSNUCompensationTest, MissingOrMisfittingOffsetIsZeroWithOneWarning) {
    FakeProvider<DsnuOffsetData> provider;
    ScopedProvider<DsnuOffsetData> scoped(provider);
    for (const auto& offset : {std::shared_ptr<Img>(), image<uint16_t>(1, 2, {1, 1}),
                               image<uint16_t>(4, 1, {1, 1, 1, 1})}) {
        provider.record.offsetImage = offset;
        DSNUCompensation stage;
        LogCapture log;
        auto in = image<uint16_t>(2, 2, {5, 6, 7, 8});
        auto first = run(stage, in);
        EXPECT_NE(first, in);
        EXPECT_EQ(raw(*first), raw(*in));
        EXPECT_EQ(raw(*run(stage, image<uint16_t>(3, 1, {1, 2, 3}))), (U16{1, 2, 3}));
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].text,
                  "DNSU compensation enabled but no offset image available. Using zero offset.");
    }
}

}  // namespace
