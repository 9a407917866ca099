// The Amplitude stage in the dataflow: wiring, results, size mismatch.
#include "kyr/stages/amplitude.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/log_capture.h"

namespace {

using In = Image<int16_t>;
using Out = Image<uint16_t>;

std::shared_ptr<In> image(size_t w, size_t h, const std::vector<int16_t>& values) {
    auto img = In::createNewBuffer(w, h);
    for (size_t i = 0; i < img->pixelCount(); ++i) img->getData()[i] = values[i % values.size()];
    return img;
}

TEST(AmplitudeStage, NameAndInputOrder) {
    Amplitude stage;
    EXPECT_STREQ(stage.getName(), "Amplitude");
    const auto& deps = stage.getDependencies();
    ASSERT_EQ(deps.count, 2u);
    EXPECT_EQ(deps.entity[0], &stage.diff0);
    EXPECT_EQ(deps.entity[1], &stage.diff1);
}

// Edge values on an odd-sized image, so that some pixels take the vector
// path and the last ones the remainder.
TEST(AmplitudeStage, EdgeValues) {
    Source<In> d0, d1;
    Amplitude stage;
    Sink<Out> result;
    stage.diff0 << d0;
    stage.diff1 << d1;
    result << stage;
    const std::vector<int16_t> a = {0, 3, -4095, -32768, 821, 4019, 32767};
    const std::vector<int16_t> b = {0, 4, -4095, -32768, 4019, 821, 32767};
    const uint16_t expect[] = {0, 2, 2895, 23170, 2051, 2051, 23169};
    d0.fire(image(7, 9, a));
    d1.fire(image(7, 9, b));
    ASSERT_TRUE(result.hasNewData());
    const auto out = result.value();
    ASSERT_EQ(out->getWidth(), 7u);
    ASSERT_EQ(out->getHeight(), 9u);
    for (size_t i = 0; i < out->pixelCount(); ++i) {
        EXPECT_EQ(out->getData()[i], expect[i % 7]) << i;
    }
}

TEST(AmplitudeStage, DifferentSizesAreRefused) {
    testsupport::LogCapture log;
    Source<In> d0, d1;
    Amplitude stage;
    Sink<Out> result;
    stage.diff0 << d0;
    stage.diff1 << d1;
    result << stage;
    stage.diff0.setBuffered(true);
    stage.diff1.setBuffered(true);
    d0.fire(image(8, 8, {1}));
    d1.fire(image(8, 7, {1}));
    EXPECT_FALSE(result.hasNewData());
    EXPECT_TRUE(log.contains("Amplitude: input images differ in size (8 x 8 and 8 x 7)"));
    EXPECT_EQ(stage.action(), -1);
}

}  // namespace
