// The combined interference test and latch over sequences of frames.
#include "kyr/stages/filters/interferenceDetection.h"

#include <gtest/gtest.h>

#include <random>

#include "kyr/core/stages/compensation/compensationTestUtil.h"
#include "kyr/status.h"
#include "optimized/interferenceKernels.h"
#include "support/log_capture.h"

namespace {

using namespace testsupport;
using U16 = std::vector<uint16_t>;
using Img = Image<uint16_t>;

// Publishes DCS0..DCS3 (each w x h) and then `in`; returns the result.
std::shared_ptr<Img> run(InterferenceDetection& stage, size_t w, size_t h,
                         const std::vector<U16>& dcs, std::shared_ptr<Img> in) {
    std::vector<std::shared_ptr<Img>> images;
    for (const U16& d : dcs) images.push_back(image<uint16_t>(w, h, d));
    images.push_back(std::move(in));
    return publish(
        stage,
        {&stage.dcs_in[0], &stage.dcs_in[1], &stage.dcs_in[2], &stage.dcs_in[3], &stage.input},
        images);
}

// Random frames of every shape against a model, with and without latching
// and calibration: undisturbed pixels pass and are remembered, disturbed
// ones carry the code or the last undisturbed value (0 before the first).
TEST(InterferenceDetectionTest, FollowsItsModelOverFrames) {
    std::mt19937 rng(12);
    std::uniform_int_distribution<int> sample(1800, 2300), dark(1950, 2150), any(0, 65535);
    for (int variant = 0; variant < 4; ++variant) {
        const bool calibrated = variant & 1, latch = variant & 2;
        for (auto [w, h] : {std::pair<size_t, size_t>{1, 1}, {1, 6}, {6, 1}, {2, 2}, {35, 2}}) {
            const size_t n = w * h;
            U16 offsets(n, kyr::kernels::DEFAULT_DARK_OFFSET), last(n, 0);
            FakeProvider<DsnuOffsetData> provider;
            if (calibrated) {
                for (auto& o : offsets) o = static_cast<uint16_t>(dark(rng));
                provider.record.offsetImage = image<uint16_t>(w, h, offsets);
            }
            ScopedProvider<DsnuOffsetData> scoped(provider);
            InterferenceDetection stage;
            EXPECT_EQ(provider.requests, (std::vector<uint32_t>{0}));
            stage.setThreshold(250);
            stage.setLatch(latch);
            EXPECT_EQ(stage.getLatch(), latch);
            for (int f = 0; f < 4; ++f) {
                std::vector<U16> d(4, U16(n));
                U16 in(n), expect(n);
                for (size_t i = 0; i < n; ++i) {
                    for (auto& v : d) v[i] = static_cast<uint16_t>(sample(rng));
                    in[i] = static_cast<uint16_t>(any(rng));
                    const bool ok = kyr::kernels::undisturbedPixel(d[0][i], d[1][i], d[2][i],
                                                                   d[3][i], offsets[i], 250);
                    last[i] = ok ? in[i] : last[i];
                    expect[i] = ok ? in[i] : latch ? last[i] : 64005;
                }
                auto out = run(stage, w, h, d, image<uint16_t>(w, h, in));
                ASSERT_TRUE(out);
                ASSERT_EQ(raw(*out), expect) << w << "x" << h << " frame " << f;
            }
        }
    }
}

TEST(InterferenceDetectionTest, ThresholdZeroPassesAndMisfitsAreHandled) {
    FakeProvider<DsnuOffsetData> provider;
    provider.record.offsetImage = image<uint16_t>(2, 1, {0, 0});
    ScopedProvider<DsnuOffsetData> scoped(provider);
    InterferenceDetection stage;
    EXPECT_STREQ(stage.getName(), "Interf. Detection");
    EXPECT_EQ(stage.getThreshold(), 0);
    EXPECT_FALSE(stage.getLatch());
    const std::vector<U16> dark(4, U16{2048});
    auto in = image<uint16_t>(1, 1, {77});
    EXPECT_EQ(run(stage, 1, 1, dark, in), in);
    // An offset image of another size: the default offset, one warning.
    stage.setThreshold(1);
    LogCapture log;
    EXPECT_EQ(raw(*run(stage, 1, 1, dark, image<uint16_t>(1, 1, {5}))), U16{5});
    EXPECT_EQ(raw(*run(stage, 1, 1, dark, image<uint16_t>(1, 1, {6}))), U16{6});
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].text,
              "Interf. Detection: DSNU offset image of 2 x 1 does not match the images of 1 x 1. "
              "Using the default offset 2048.");
    // An input of another size than the DCS images is refused.
    EXPECT_FALSE(run(stage, 1, 1, dark, image<uint16_t>(2, 1, {1, 2})));
    EXPECT_EQ(log.count("Interf. Detection: input images differ in size (1 x 1 and 2 x 1)"), 1u);
    EXPECT_EQ(stage.run(), kyr::status::INVALID_ARGUMENT);
}

}  // namespace
