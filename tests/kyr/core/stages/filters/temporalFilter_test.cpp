// The temporal filter in the dataflow: defaults, alpha clamping, pass-through
// frames, the running average over several frames, restarts.
#include "kyr/stages/filters/temporalFilter.h"

#include <gtest/gtest.h>

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

TEST(TemporalFilterStage, DefaultsAlphaClampingAndMissingInput) {
    testsupport::LogCapture log;
    TemporalFilter stage;
    EXPECT_STREQ(stage.getName(), "Temporal Filter");
    ASSERT_EQ(stage.getDependencies().count, 1u);
    EXPECT_FALSE(stage.getEnabled());
    EXPECT_EQ(stage.getThreshold(), 300);
    EXPECT_EQ(stage.getAlpha(), 0.25f);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // (NaN is refused: the alpha before it stays.)
    const float cases[][2] = {{-0.5f, 0.0f}, {2.0f, 1.0f}, {0.53f, 0.53f},
                              {nan, 0.53f},  {inf, 1.0f},  {-inf, 0.0f}};
    for (const auto& c : cases) {
        stage.setAlpha(c[0]);
        EXPECT_EQ(stage.getAlpha(), c[1]) << c[0];
    }
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_WARN), 1u);
    EXPECT_EQ(stage.action(), kyr::status::INVALID_ARGUMENT);
    EXPECT_TRUE(log.contains("Temporal Filter: Input image is null"));
}

TEST(TemporalFilterStage, AverageOverFramesAndRestarts) {
    TemporalRig rig;
    auto first = image(3, 2, {1000});
    EXPECT_EQ(rig.run(first), first);  // disabled: the very image
    rig.stage.setEnabled(true);
    EXPECT_EQ(rig.run(first), first);  // first enabled frame passes through
    EXPECT_EQ(pixels(*rig.run(image(3, 2, {1100, 1400}))),
              (std::vector<uint16_t>{1025, 1400, 1025, 1400, 1025, 1400}));
    // The output is the new average: 1025 and 1100 blend to 1043, 1400 and
    // 1150 to 1337.
    EXPECT_EQ(pixels(*rig.run(image(3, 2, {1100, 1150}))),
              (std::vector<uint16_t>{1043, 1337, 1043, 1337, 1043, 1337}));

    // Another size restarts from that frame.
    auto other = image(2, 3, {500});
    EXPECT_EQ(rig.run(other), other);
    EXPECT_EQ(pixels(*rig.run(image(2, 3, {600}))), std::vector<uint16_t>(6, 525));

    // Alpha 0 keeps the average within the threshold; beyond it, it jumps.
    rig.stage.setAlpha(0.0f);
    EXPECT_EQ(pixels(*rig.run(image(2, 3, {824, 225}))),
              (std::vector<uint16_t>{525, 225, 525, 225, 525, 225}));

    // Disabling drops the average: re-enabled, the next frame passes.
    rig.stage.setEnabled(false);
    rig.stage.setEnabled(true);
    EXPECT_EQ(rig.run(other), other);
}

}  // namespace
