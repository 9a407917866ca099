// The Kalman filter in the dataflow: defaults, pass-through frames, the
// worked values over several frames, restarts, mismatched amplitude images.
#include "kyr/stages/filters/kalmanFilter.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kyr/status.h"
#include "support/log_capture.h"

namespace {

using Img = Image<uint16_t>;
using Values = std::vector<uint16_t>;

std::shared_ptr<Img> image(size_t w, size_t h, const Values& values) {
    auto img = Img::createNewBuffer(w, h);
    for (size_t i = 0; i < img->pixelCount(); ++i) img->getData()[i] = values[i % values.size()];
    return img;
}

Values pixels(const Img& img) {
    return {img.getData(), img.getData() + img.pixelCount()};
}

struct KalmanRig {
    KalmanRig() {
        stage.inputDistance << distance;
        stage.inputAmplitude << amplitude;
        result << stage;
    }
    std::shared_ptr<Img> run(const std::shared_ptr<Img>& dist, std::shared_ptr<Img> amp) {
        distance.fire(std::shared_ptr<Img>(dist));
        amplitude.fire(std::move(amp));
        return result.hasNewData() ? result.value() : nullptr;
    }
    // Publishes `dist` with amplitude 97 (sigma 225) at every pixel.
    std::shared_ptr<Img> run(const std::shared_ptr<Img>& dist) {
        return run(dist, image(dist->getWidth(), dist->getHeight(), {97}));
    }
    Source<Img> distance, amplitude;
    KalmanFilter stage;
    Sink<Img> result;
};

TEST(KalmanFilterStage, DefaultsAndMissingInput) {
    testsupport::LogCapture log;
    KalmanFilter stage;
    EXPECT_STREQ(stage.getName(), "Kalman Filter");
    const auto& deps = stage.getDependencies();
    ASSERT_EQ(deps.count, 2u);
    EXPECT_EQ(deps.entity[0], &stage.inputDistance);
    EXPECT_FALSE(stage.getEnabled());
    EXPECT_EQ(stage.getUncertaintyThreshold(), 200);
    EXPECT_EQ(stage.getProcessNoise(), 1000);
    EXPECT_EQ(stage.action(), kyr::status::INVALID_ARGUMENT);
    EXPECT_TRUE(log.contains("Kalman Filter: Input image is null"));
}

TEST(KalmanFilterStage, WorkedValuesOverFramesAndRestarts) {
    KalmanRig rig;
    auto start = image(2, 2, {1000});
    EXPECT_EQ(rig.run(start), start);  // disabled: the very image
    rig.stage.setEnabled(true);
    EXPECT_EQ(rig.run(start), start);  // starts the state, passes through
    // k = 4: x' = 1000, P' = 984.
    EXPECT_EQ(pixels(*rig.run(image(2, 2, {1010}))), Values(4, 1000));
    // Widened (independent of P): k = 252, x' = 2968, P' = 61708 >= 200^2.
    EXPECT_EQ(pixels(*rig.run(image(2, 2, {3000}))), Values(4, 64001));
    // Kept: x = 2968, P = 61708; now P' = 28169, uncertain for a limit of
    // 100^2 (settings take effect at once), then P' = 18572 below 200^2.
    rig.stage.setUncertaintyThreshold(100);
    EXPECT_EQ(pixels(*rig.run(image(2, 2, {2968}))), Values(4, 64001));
    rig.stage.setUncertaintyThreshold(200);
    EXPECT_EQ(pixels(*rig.run(image(2, 2, {2968}))), Values(4, 2968));

    // Another size restarts; so does disabling and enabling again.
    auto wide = image(3, 1, {700});
    EXPECT_EQ(rig.run(wide), wide);
    EXPECT_EQ(pixels(*rig.run(image(3, 1, {710}))), Values(3, 700));
    rig.stage.setEnabled(false);
    rig.stage.setEnabled(true);
    EXPECT_EQ(rig.run(wide), wide);
}

TEST(KalmanFilterStage, MismatchedAmplitudePassesDistanceOnAndLogsOnce) {
    testsupport::LogCapture log;
    KalmanRig rig;
    rig.stage.setEnabled(true);
    rig.run(image(2, 2, {1000}));
    auto frame = image(2, 2, {3000});
    for (int i = 0; i < 2; ++i) EXPECT_EQ(rig.run(frame, image(4, 1, {97})), frame);
    EXPECT_EQ(rig.run(frame, image(1, 4, {97})), frame);
    EXPECT_EQ(log.count("Kalman Filter: amplitude image (4 x 1) differs in size from the distance "
                        "image (2 x 2); distances passed on unfiltered"),
              1u);
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR), 2u);
    // The state from before is kept: the next good frame is filtered.
    EXPECT_EQ(pixels(*rig.run(image(2, 2, {1010}))), Values(4, 1000));
}

}  // namespace
