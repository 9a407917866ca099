// The latch over sequences of frames, for both pixel types.
#include "kyr/stages/filters/latch.h"

#include <gtest/gtest.h>

#include <random>

#include "kyr/core/stages/compensation/compensationTestUtil.h"
#include "kyr/status.h"
#include "support/log_capture.h"

namespace {

using namespace testsupport;

template <typename T>
struct LatchTest : ::testing::Test {
    using V = std::vector<T>;
    LatchTest() {
        stage.input.registerDependency(&input);
        stage.mask.registerDependency(&mask);
    }
    std::shared_ptr<Image<T>> frame(std::shared_ptr<Image<T>> in,
                                    std::shared_ptr<Image<uint16_t>> flags) {
        input.fire(std::move(in));
        mask.fire(std::move(flags));
        return out.take();
    }
    V frame(size_t w, size_t h, const V& in, const std::vector<uint16_t>& flags) {
        auto result = frame(image<T>(w, h, in), image<uint16_t>(w, h, flags));
        return result ? raw(*result) : V{};
    }
    Latch<T> stage{true};
    Source<Image<T>> input;
    Source<Image<uint16_t>> mask;
    Catcher<Image<T>> out{stage};
};

using PixelTypes = ::testing::Types<uint16_t, int16_t>;
TYPED_TEST_SUITE(LatchTest, PixelTypes);

// The worked sequence; then switched off, every frame passes as the very
// image and is what a later switch-on starts from, while switching off and
// on at once starts from the next input.
TYPED_TEST(LatchTest, HoldsFlaggedPixelsAndRestartsAfterSwitchingOff) {
    using V = typename TestFixture::V;
    EXPECT_STREQ(this->stage.getName(), "Latch");
    const uint16_t flags[] = {0, 64005, 64005, 0};
    const TypeParam in[] = {10, 20, 30, 40}, expect[] = {10, 10, 10, 40};
    for (int f = 0; f < 4; ++f) EXPECT_EQ(this->frame(1, 1, {in[f]}, {flags[f]}), V{expect[f]});
    this->stage.setEnabled(false);
    EXPECT_FALSE(this->stage.getEnabled());
    this->stage.setEnabled(true);
    EXPECT_TRUE(this->stage.getEnabled());
    EXPECT_EQ(this->frame(2, 1, {5, 6}, {1, 1}), (V{5, 6}));
    EXPECT_EQ(this->frame(2, 1, {7, 8}, {1, 0}), (V{5, 8}));
    this->stage.setEnabled(false);
    auto image = testsupport::image<TypeParam>(2, 1, {9, 10});
    EXPECT_EQ(this->frame(image, testsupport::image<uint16_t>(2, 1, {1, 1})), image);
    this->stage.setEnabled(true);
    EXPECT_EQ(this->frame(2, 1, {11, 12}, {0, 1}), (V{11, 10}));
}

// Random masks over several frames of every shape, against a model; a new
// frame size restarts from that frame.
TYPED_TEST(LatchTest, FollowsItsModelOverFramesOfEveryShape) {
    std::mt19937 rng(2);
    std::uniform_int_distribution<int> any(-32768, 32767), flag(0, 2);
    typename TestFixture::V model;
    for (auto [w, h] : {std::pair<size_t, size_t>{1, 1}, {1, 5}, {5, 1}, {2, 2}, {41, 3}}) {
        for (int f = 0; f < 5; ++f) {
            typename TestFixture::V in(w * h);
            std::vector<uint16_t> flags(w * h);
            for (size_t i = 0; i < w * h; ++i) {
                in[i] = static_cast<TypeParam>(any(rng));
                flags[i] = static_cast<uint16_t>(flag(rng) * 32003);
            }
            if (f == 0) model = in;  // each new shape restarts
            for (size_t i = 0; i < w * h; ++i) model[i] = flags[i] ? model[i] : in[i];
            ASSERT_EQ(this->frame(w, h, in, flags), model) << w << "x" << h << " frame " << f;
        }
    }
}

TYPED_TEST(LatchTest, MaskOfAnotherSizeOrMissingImagesAreRefused) {
    LogCapture log;
    EXPECT_FALSE(this->frame(image<TypeParam>(2, 1, {1, 2}), image<uint16_t>(1, 1, {0})));
    EXPECT_EQ(log.count("Latch: input images differ in size (2 x 1 and 1 x 1)"), 1u);
    EXPECT_EQ(this->stage.run(), kyr::status::INVALID_ARGUMENT);
}

}  // namespace
