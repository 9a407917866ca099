// The temporal filter in the dataflow: defaults, alpha clamping, pass-through
// frames, the running average over several frames, restarts.
#include "kyr/stages/filters/temporalFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "kyr/status.h"
#include "support/log_capture.h"

namespace {

using Img = Image<uint16_t>;

std::shared_ptr<Img> image(size_t w, size_t h, const std::vector<uint16_t>& values) {
    auto img = Img::createNewBuffer(w, h);
    for (size_t i = 0; i < img->pixelCount(); ++i) img->getData()[i] = values[i % values.size()];
    return img;
}

std::vector<uint16_t> pixels(const Img& img) {
    return {img.getData(), img.getData() + img.pixelCount()};
}

struct TemporalRig {
    TemporalRig() {
        stage.input << source;
        result << stage;
    }
    // Publishes `img` and returns what the filter published.
    std::shared_ptr<Img> run(const std::shared_ptr<Img>& img) {
        source.fire(std::shared_ptr<Img>(img));
        return result.hasNewData() ? result.value() : nullptr;
    }
    Source<Img> source;
    TemporalFilter stage;
    Sink<Img> result;
};

TEST(TemporalFilterStage, NameDefaultsAndAlphaClamping) {
    testsupport::LogCapture log;
    TemporalFilter stage;
    EXPECT_STREQ(stage.getName(), "Temporal Filter");
    ASSERT_EQ(stage.getDependencies().count, 1u);
    EXPECT_EQ(stage.getDependencies().entity[0], &stage.input);
    EXPECT_FALSE(stage.getEnabled());
    EXPECT_EQ(stage.getAlpha(), 0.25f);
    EXPECT_EQ(stage.getThreshold(), 300);
    const float inf = std::numeric_limits<float>::infinity();
    const float cases[][2] = {{-0.5f, 0.0f}, {2.0f, 1.0f}, {0.53f, 0.53f}, {inf, 1.0f},
                              {-inf, 0.0f},  {1.0f, 1.0f}, {0.0f, 0.0f}};
    for (const auto& c : cases) {
        stage.setAlpha(c[0]);
        EXPECT_EQ(stage.getAlpha(), c[1]) << c[0];
    }
    stage.setAlpha(0.4f);
    stage.setAlpha(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(stage.getAlpha(), 0.4f);
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_WARN), 1u);
}

TEST(TemporalFilterStage, AverageOverFramesAndRestarts) {
    TemporalRig rig;
    auto first = image(3, 2, {1000});
    EXPECT_EQ(rig.run(first), first);  // disabled: the very image
    rig.stage.setEnabled(true);
    EXPECT_EQ(rig.run(first), first);  // first enabled frame passes through
    auto second = rig.run(image(3, 2, {1100, 1400}));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(pixels(*second), (std::vector<uint16_t>{1025, 1400, 1025, 1400, 1025, 1400}));
    // The output is the new average: 1025 and 1100 blend to 1043, 1400 and
    // 1150 to 1337.
    const auto third = rig.run(image(3, 2, {1100, 1150}));
    EXPECT_EQ(pixels(*third), (std::vector<uint16_t>{1043, 1337, 1043, 1337, 1043, 1337}));

    // Another size restarts from that frame.
    auto other = image(2, 3, {500});
    EXPECT_EQ(rig.run(other), other);
    EXPECT_EQ(pixels(*rig.run(image(2, 3, {600}))), std::vector<uint16_t>(6, 525));

    // Disabling drops the average: re-enabled, the next frame passes.
    rig.stage.setEnabled(false);
    rig.stage.setEnabled(true);
    auto again = image(2, 3, {4000});
    EXPECT_EQ(rig.run(again), again);
}

TEST(TemporalFilterStage, AlphaZeroKeepsTheAverageUnlessItJumps) {
    TemporalRig rig;
    rig.stage.setEnabled(true);
    rig.stage.setAlpha(0.0f);
    rig.stage.setThreshold(100);
    rig.run(image(2, 1, {2000}));
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_EQ(pixels(*rig.run(image(2, 1, {2099, 1900}))), (std::vector<uint16_t>{2000, 1900}));
        rig.run(image(2, 1, {2000}));  // back to 2000 in both
    }
}

TEST(TemporalFilterStage, MissingInputIsRefused) {
    testsupport::LogCapture log;
    TemporalFilter stage;
    EXPECT_EQ(stage.action(), kyr::status::INVALID_ARGUMENT);
    EXPECT_TRUE(log.contains("Temporal Filter: Input image is null"));
}

}  // namespace
