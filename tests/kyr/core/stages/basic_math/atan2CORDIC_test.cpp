// The CORDIC phase stage in the dataflow, for both input types.
#include "kyr/stages/atan2CORDIC.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/log_capture.h"

namespace {

using Phase = Image<PhaseType<uint16_t>>;

template <typename T>
std::shared_ptr<Image<T>> image(size_t w, size_t h, const std::vector<T>& values) {
    auto img = Image<T>::createNewBuffer(w, h);
    for (size_t i = 0; i < img->pixelCount(); ++i) img->getData()[i] = values[i % values.size()];
    return img;
}

template <typename T>
struct CordicRig {
    CordicRig() {
        stage.nominator << y;
        stage.denominator << x;
        result << stage;
    }
    Source<Image<T>> y, x;
    Atan2CORDIC<T> stage;
    Sink<Phase> result;
};

TEST(Atan2CORDICStage, NameAndInputOrder) {
    Atan2CORDIC<int16_t> a;
    Atan2CORDIC<float> b;
    EXPECT_STREQ(a.getName(), "Atan2 CORDIC");
    EXPECT_STREQ(b.getName(), "Atan2 CORDIC");
    ASSERT_EQ(a.getDependencies().count, 2u);
    EXPECT_EQ(a.getDependencies().entity[0], &a.nominator);
    EXPECT_EQ(a.getDependencies().entity[1], &a.denominator);
    EXPECT_EQ(b.getDependencies().entity[0], &b.nominator);
    EXPECT_EQ(b.getDependencies().entity[1], &b.denominator);
}

TEST(Atan2CORDICStage, AxesDiagonalsAndOrigin) {
    CordicRig<int16_t> rig;
    const std::vector<int16_t> y = {0, 0, 7, 0, -7, 1, -1, 100, -100};
    const std::vector<int16_t> x = {0, 7, 0, -7, 0, 1, -1, -100, 100};
    const uint16_t expect[] = {0, 0, 16384, 32768, 49152, 8192, 40960, 24574, 57342};
    rig.y.fire(image(9, 5, y));
    rig.x.fire(image(9, 5, x));
    ASSERT_TRUE(rig.result.hasNewData());
    const auto out = rig.result.value();
    ASSERT_EQ(out->getWidth(), 9u);
    ASSERT_EQ(out->getHeight(), 5u);
    for (size_t i = 0; i < out->pixelCount(); ++i) {
        EXPECT_EQ(out->getData()[i].getRaw(), expect[i % 9]) << i;
    }
}

TEST(Atan2CORDICStage, FloatInputsAreTruncatedAndWrapped) {
    CordicRig<float> rig;
    CordicRig<int16_t> reference;
    // 70000.7 becomes 4464; -0.9 and 0.4 become 0; 65535.5 becomes -1.
    const std::vector<float> y = {70000.7f, 4464.9f, 0.4f, -0.9f, 65535.5f};
    const std::vector<float> x = {4464.0f, 70000.7f, 0.9f, 5.0f, -1.0f};
    const std::vector<int16_t> yi = {4464, 4464, 0, 0, -1};
    const std::vector<int16_t> xi = {4464, 4464, 0, 5, -1};
    rig.y.fire(image(5, 3, y));
    rig.x.fire(image(5, 3, x));
    reference.y.fire(image(5, 3, yi));
    reference.x.fire(image(5, 3, xi));
    ASSERT_TRUE(rig.result.hasNewData());
    const auto out = rig.result.value();
    const auto expect = reference.result.value();
    for (size_t i = 0; i < out->pixelCount(); ++i) {
        EXPECT_EQ(out->getData()[i].getRaw(), expect->getData()[i].getRaw()) << i;
    }
    EXPECT_EQ(out->getData()[2].getRaw(), 0);      // (0, 0)
    EXPECT_EQ(out->getData()[4].getRaw(), 40960);  // (-1, -1)
}

// Unequal sizes used to be processed over the nominator's size, reading past
// a smaller denominator; they are now refused like in the other stages.
TEST(Atan2CORDICStage, DifferentSizesAreRefused) {
    testsupport::LogCapture log;
    CordicRig<int16_t> rig;
    rig.stage.nominator.setBuffered(true);
    rig.stage.denominator.setBuffered(true);
    rig.y.fire(image<int16_t>(64, 64, {1}));
    rig.x.fire(image<int16_t>(64, 1, {1}));
    EXPECT_FALSE(rig.result.hasNewData());
    EXPECT_TRUE(log.contains("Atan2 CORDIC: input images differ in size (64 x 64 and 64 x 1)"));
    EXPECT_EQ(rig.stage.action(), -1);

    CordicRig<float> frig;
    frig.y.fire(image<float>(2, 3, {1.0f}));
    frig.x.fire(image<float>(3, 2, {1.0f}));
    EXPECT_FALSE(frig.result.hasNewData());
}

}  // namespace
