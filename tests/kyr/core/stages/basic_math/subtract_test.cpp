// The Subtract stage in the dataflow: wiring, results, size mismatch.
#include "kyr/stages/subtract.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/log_capture.h"

namespace {

using In = Image<uint16_t>;
using Out = Image<int16_t>;

std::shared_ptr<In> image(size_t w, size_t h, const std::vector<uint16_t>& values) {
    auto img = In::createNewBuffer(w, h);
    for (size_t i = 0; i < img->pixelCount(); ++i) img->getData()[i] = values[i % values.size()];
    return img;
}

struct SubtractRig {
    SubtractRig() {
        stage.minuend << a;
        stage.subtrahend << b;
        result << stage;
    }
    Source<In> a, b;
    Subtract stage;
    Sink<Out> result;
};

TEST(SubtractStage, NameAndInputOrder) {
    Subtract stage;
    EXPECT_STREQ(stage.getName(), "Subtract");
    const auto& deps = stage.getDependencies();
    ASSERT_EQ(deps.count, 2u);
    EXPECT_EQ(deps.entity[0], &stage.minuend);
    EXPECT_EQ(deps.entity[1], &stage.subtrahend);
}

TEST(SubtractStage, DifferenceWrapsWithoutClamping) {
    SubtractRig rig;
    auto a = image(5, 3, {0, 4095, 65535, 1000, 0});
    auto b = image(5, 3, {4095, 0, 0, 1000, 1});
    rig.a.fire(std::shared_ptr<In>(a));
    EXPECT_FALSE(rig.result.hasNewData());  // waits for the subtrahend
    rig.b.fire(std::shared_ptr<In>(b));
    ASSERT_TRUE(rig.result.hasNewData());
    const auto out = rig.result.value();
    ASSERT_EQ(out->getWidth(), 5u);
    ASSERT_EQ(out->getHeight(), 3u);
    const int16_t expect[] = {-4095, 4095, -1, 0, -1};
    for (size_t i = 0; i < out->pixelCount(); ++i) {
        EXPECT_EQ(out->getData()[i], expect[i % 5]) << i;
    }
}

TEST(SubtractStage, EveryRunPublishesANewImage) {
    SubtractRig rig;
    auto a = image(4, 1, {9});
    auto b = image(4, 1, {2});
    rig.a.fire(std::shared_ptr<In>(a));
    rig.b.fire(std::shared_ptr<In>(b));
    const auto first = rig.result.value();
    rig.a.fire(std::shared_ptr<In>(a));
    rig.b.fire(std::shared_ptr<In>(b));
    const auto second = rig.result.value();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    EXPECT_EQ(second->getData()[3], 7);
}

TEST(SubtractStage, DifferentSizesAreRefused) {
    testsupport::LogCapture log;
    SubtractRig rig;
    rig.a.fire(image(4, 2, {1}));
    rig.b.fire(image(2, 4, {1}));
    EXPECT_FALSE(rig.result.hasNewData());
    EXPECT_TRUE(log.contains("Subtract: input images differ in size (4 x 2 and 2 x 4)"));
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR), 1u);
    // The inputs were taken: a new subtrahend alone does not run the stage.
    rig.b.fire(image(4, 2, {1}));
    EXPECT_FALSE(rig.result.hasNewData());

    // The status itself, with buffered inputs that keep the images.
    Subtract stage;
    Source<In> a, b;
    stage.minuend << a;
    stage.subtrahend << b;
    stage.minuend.setBuffered(true);
    stage.subtrahend.setBuffered(true);
    a.fire(image(3, 1, {1}));
    b.fire(image(3, 2, {1}));
    EXPECT_EQ(stage.action(), -1);
}

TEST(SubtractStage, EmptyImagesGiveAnEmptyResult) {
    SubtractRig rig;
    rig.a.fire(In::createNewBuffer(0, 7));
    rig.b.fire(In::createNewBuffer(0, 7));
    ASSERT_TRUE(rig.result.hasNewData());
    const auto out = rig.result.value();
    EXPECT_EQ(out->getWidth(), 0u);
    EXPECT_EQ(out->getHeight(), 7u);
}

}  // namespace
