// The kernel filter stages in the dataflow: names, switching, pass-through
// of the very image, refused input, every size down to 0 x 0, and the edge
// filter's threshold.
#include "kyr/stages/filters/kernelFilter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/stages/filters/kernelWindow.h"
#include "kyr/core/stages/compensation/compensationTestUtil.h"
#include "kyr/stages/filters/edgeFilter.h"
#include "kyr/status.h"
#include "support/log_capture.h"

namespace {

using namespace kyr::kernels;
using testsupport::publish;

template <class Stage>
class KernelFilterStage : public ::testing::Test {};

using Stages = ::testing::Types<
    KernelFilter<SharpenKernel3x3<uint16_t>>, KernelFilter<SharpenKernel3x3<float>>,
    KernelFilter<LeftSobelKernel3x3<uint16_t>>, KernelFilter<LeftSobelKernel3x3<float>>,
    KernelFilter<RightSobelKernel3x3<uint16_t>>, KernelFilter<RightSobelKernel3x3<float>>,
    KernelFilter<UpSobelKernel3x3<uint16_t>>, KernelFilter<UpSobelKernel3x3<float>>,
    KernelFilter<DownSobelKernel3x3<uint16_t>>, KernelFilter<DownSobelKernel3x3<float>>,
    KernelFilter<Edge1Kernel3x3<uint16_t>>, KernelFilter<Edge1Kernel3x3<float>>,
    KernelFilter<Edge2Kernel3x3<uint16_t>>, KernelFilter<Edge2Kernel3x3<float>>,
    KernelFilter<BoxBlurKernel3x3<uint16_t>>, KernelFilter<BoxBlurKernel3x3<float>>,
    KernelFilter<GaussianKernel3x3<uint16_t>>, KernelFilter<GaussianKernel3x3<float>>,
    KernelFilter<AverageKernel<float, 3>>, KernelFilter<AverageKernel<uint16_t, 5>>,
    KernelFilter<AverageKernel<float, 5>>, KernelFilter<MedianKernel<float, 3>>,
    KernelFilter<MedianKernel<uint16_t, 5>>, KernelFilter<MedianKernel<float, 5>>, MedianFilter,
    AverageFilter, EdgeFilter>;
TYPED_TEST_SUITE(KernelFilterStage, Stages);

TYPED_TEST(KernelFilterStage, SwitchedPassThroughSizesAndMissingInput) {
    using T = typename TypeParam::Type;
    using Img = Image<T>;
    TypeParam stage;
    EXPECT_STREQ(stage.getName(), stage.kernel.name());
    ASSERT_EQ(stage.getDependencies().count, 1u);
    EXPECT_FALSE(stage.getEnabled());

    std::vector<T> pixels;
    for (int i = 0; i < 35; ++i) pixels.push_back(static_cast<T>((i * 7919) % 1000));
    const auto in = testsupport::image<T>(7, 5, pixels);
    EXPECT_EQ((publish<Img>(stage, {&stage.input}, {in})), in);  // disabled: the very image

    stage.setEnabled(true);
    EXPECT_TRUE(stage.getEnabled());
    for (const auto& [w, h] : {std::pair<size_t, size_t>{7, 5}, {1, 1}, {2, 3}, {0, 0}, {4, 0}}) {
        const auto img = testsupport::image<T>(w, h, {pixels.begin(), pixels.begin() + w * h});
        const auto out = publish<Img>(stage, {&stage.input}, {img});
        ASSERT_NE(out, nullptr);
        ASSERT_NE(out, img);
        ASSERT_EQ(out->getWidth(), w);
        ASSERT_EQ(out->getHeight(), h);
        std::vector<T> expect(w * h);
        filterByWindows(stage.kernel, img->getData(), expect.data(), w, h);
        EXPECT_EQ(testsupport::raw(*out), expect) << w << " x " << h;
    }

    testsupport::LogCapture log;
    EXPECT_EQ(stage.action(), kyr::status::INVALID_ARGUMENT);
    EXPECT_TRUE(log.contains(std::string(stage.getName()) + ": Input image is null"));
}

TEST(KernelFilterStage, NamesOfTheCatalogue) {
    EXPECT_STREQ(MedianFilter().getName(), "Median Filter");
    EXPECT_STREQ(AverageFilter().getName(), "Average Filter");
    EXPECT_STREQ((KernelFilter<AverageKernel<float, 5>>().getName()), "Average Filter");
    EXPECT_STREQ((KernelFilter<MedianKernel<uint16_t, 5>>().getName()), "Median Filter");
    EXPECT_STREQ(KernelFilter<SharpenKernel3x3<uint16_t>>().getName(), "Sharpen Filter");
    EXPECT_STREQ(KernelFilter<LeftSobelKernel3x3<float>>().getName(), "Left Sobel Filter");
    EXPECT_STREQ(KernelFilter<RightSobelKernel3x3<uint16_t>>().getName(), "Right Sobel Filter");
    EXPECT_STREQ(KernelFilter<UpSobelKernel3x3<float>>().getName(), "Up Sobel Filter");
    EXPECT_STREQ(KernelFilter<DownSobelKernel3x3<uint16_t>>().getName(), "Down Sobel Filter");
    EXPECT_STREQ(KernelFilter<Edge1Kernel3x3<float>>().getName(), "Edge Detection Filter");
    EXPECT_STREQ(KernelFilter<Edge2Kernel3x3<uint16_t>>().getName(), "Edge Detection Filter");
    EXPECT_STREQ(KernelFilter<BoxBlurKernel3x3<float>>().getName(), "Box Blur Filter");
    EXPECT_STREQ(KernelFilter<GaussianKernel3x3<uint16_t>>().getName(), "Gaussian Filter");
    EXPECT_STREQ(EdgeFilter().getName(), "Edge Filter");
}

TEST(KernelFilterStage, EdgeFilterThreshold) {
    EdgeFilter stage;
    EXPECT_EQ(stage.getThreshold(), 200);
    stage.setEnabled(true);
    // Columns 100 | 300 | 501: the middle column's neighbours differ by 401,
    // the border columns compare with themselves (201 and 200).
    const auto in = testsupport::image<uint16_t>(3, 2, {100, 300, 501, 100, 300, 501});
    using V = std::vector<uint16_t>;
    EXPECT_EQ(testsupport::raw(*publish<Image<uint16_t>>(stage, {&stage.input}, {in})),
              (V{100, 64006, 64006, 100, 64006, 64006}));
    stage.setThreshold(401);
    EXPECT_EQ(stage.getThreshold(), 401);
    EXPECT_EQ(testsupport::raw(*publish<Image<uint16_t>>(stage, {&stage.input}, {in})),
              (V{100, 300, 501, 100, 300, 501}));
}

}  // namespace
