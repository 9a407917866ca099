// The lens model: the "lens" object of the calibration index (absent,
// complete, malformed), scaling to another image size, the ray table against
// the distortion it inverts, and point clouds with codes kept as NaN or
// dropped.
#include "ozr/pointCloud.h"

#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "kyr/status.h"
#include "lensCalibration.h"
#include "support/log_capture.h"

namespace {

using ozr::LensIntrinsics;

const char* const LENS =
    R"({"width": 320, "height": 240, "fx": 290, "fy": 291, "cx": 161.5, "cy": 117.5,
        "k1": -0.12, "k2": 0.03, "k3": 0.001, "p1": 0.0004, "p2": -0.0003})";

LensIntrinsics exampleLens() {
    LensIntrinsics l;
    std::string why;
    EXPECT_EQ(ozr::calibration::parseLens(
                  nlohmann::json::parse(std::string("{\"lens\": ") + LENS + "}"), l, why),
              0)
        << why;
    return l;
}

TEST(LensCalibration, ParsesTheLensObject) {
    const LensIntrinsics l = exampleLens();
    EXPECT_EQ(l.width, 320u);
    EXPECT_EQ(l.height, 240u);
    EXPECT_EQ(l.fy, 291.0);
    EXPECT_EQ(l.k3, 0.001);
    EXPECT_EQ(l.p2, -0.0003);
    // Distortion left out is none; no lens at all is no error.
    LensIntrinsics pinhole;
    std::string why;
    EXPECT_EQ(
        ozr::calibration::parseLens(
            nlohmann::json::parse(
                R"({"lens": {"width": 4, "height": 3, "fx": 2, "fy": 2, "cx": 1.5, "cy": 1}})"),
            pinhole, why),
        0);
    EXPECT_EQ(pinhole.k1, 0.0);
    EXPECT_EQ(
        ozr::calibration::parseLens(nlohmann::json::parse(R"({"grayscale": {}})"), pinhole, why),
        kyr::status::NO_ENTRY);
}

TEST(LensCalibration, MalformedLensesAreRefusedWithTheReason) {
    const std::pair<const char*, const char*> cases[] = {
        {R"("lens": [1, 2])", "not an object"},
        {R"("lens": {"height": 240, "fx": 1, "fy": 1, "cx": 0, "cy": 0})", "\"width\""},
        {R"("lens": {"width": 320.5, "height": 240, "fx": 1, "fy": 1, "cx": 0, "cy": 0})",
         "\"width\""},
        {R"("lens": {"width": -1, "height": 240, "fx": 1, "fy": 1, "cx": 0, "cy": 0})",
         "\"width\""},
        {R"("lens": {"width": 0, "height": 240, "fx": 1, "fy": 1, "cx": 0, "cy": 0})",
         "image size"},
        {R"("lens": {"width": 320, "height": 240, "fy": 1, "cx": 0, "cy": 0})",
         "\"fx\" is missing"},
        {R"("lens": {"width": 320, "height": 240, "fx": "1", "fy": 1, "cx": 0, "cy": 0})",
         "\"fx\" is not a number"},
        {R"("lens": {"width": 320, "height": 240, "fx": 1, "fy": 0, "cx": 0, "cy": 0})",
         "positive"},
        {R"("lens": {"width": 320, "height": 240, "fx": 1, "fy": 1, "cx": 0, "cy": 0, "k1": null})",
         "\"k1\" is not a number"},
        {R"("lens": {"width": 320, "height": 240, "fx": 1e308, "fy": 1, "cx": 0, "cy": 0, "k2": -1e308})",
         ""},
    };
    for (const auto& [text, reason] : cases) {
        LensIntrinsics l;
        l.fx = 7;
        std::string why;
        const int r = ozr::calibration::parseLens(
            nlohmann::json::parse(std::string("{") + text + "}"), l, why);
        if (*reason == '\0') {
            EXPECT_EQ(r, 0) << text;  // large but finite values are the caller's to judge
            continue;
        }
        EXPECT_EQ(r, kyr::status::INVALID_ARGUMENT) << text;
        EXPECT_NE(why.find(reason), std::string::npos) << text << ": " << why;
        EXPECT_EQ(l.fx, 7.0) << "changed by a refused lens: " << text;
    }
}

TEST(LensModel, ScalingKeepsPixelEdgesInPlace) {
    const LensIntrinsics l = exampleLens();
    const LensIntrinsics twice = ozr::scaleIntrinsics(l, 640, 480);
    EXPECT_EQ(twice.fx, 580.0);
    EXPECT_EQ(twice.cx, 323.5);  // (161.5 + 0.5) x 2 - 0.5
    EXPECT_EQ(twice.cy, 235.5);
    EXPECT_EQ(twice.k1, l.k1);
    const LensIntrinsics back = ozr::scaleIntrinsics(twice, 320, 240);
    EXPECT_DOUBLE_EQ(back.cx, l.cx);
    EXPECT_DOUBLE_EQ(back.fy, l.fy);
}

// Each ray, distorted and projected again, lands on its own pixel; the ray
// through the principal point is the optical axis.
TEST(LensModel, RaysMapBackOntoTheirPixels) {
    const LensIntrinsics l = exampleLens();
    ozr::RayTable rays;
    ASSERT_EQ(rays.build(l, 160, 120), 0);  // half the calibrated size
    const LensIntrinsics s = ozr::scaleIntrinsics(l, 160, 120);
    double worst = 0;
    for (uint32_t y = 0; y < 120; y += 7) {
        for (uint32_t x = 0; x < 160; x += 3) {
            const size_t i = y * 160 + x;
            const double xn = rays.x()[i] / rays.z()[i], yn = rays.y()[i] / rays.z()[i];
            ASSERT_NEAR(std::hypot(std::hypot(rays.x()[i], rays.y()[i]), rays.z()[i]), 1.0, 1e-6);
            const double r2 = xn * xn + yn * yn;
            const double radial = 1 + r2 * (s.k1 + r2 * (s.k2 + r2 * s.k3));
            const double xd = xn * radial + 2 * s.p1 * xn * yn + s.p2 * (r2 + 2 * xn * xn);
            const double yd = yn * radial + s.p1 * (r2 + 2 * yn * yn) + 2 * s.p2 * xn * yn;
            worst =
                std::max({worst, std::abs(xd * s.fx + s.cx - x), std::abs(yd * s.fy + s.cy - y)});
        }
    }
    EXPECT_LT(worst, 1e-3);
    LensIntrinsics centred = l;
    centred.cx = 3, centred.cy = 2, centred.width = 8, centred.height = 6;
    ASSERT_EQ(rays.build(centred, 8, 6), 0);
    EXPECT_FLOAT_EQ(rays.z()[2 * 8 + 3], 1.0f);
}

TEST(LensModel, UnusableLensesAndRaysThatCannotBeInverted) {
    testsupport::LogCapture log;
    ozr::RayTable rays;
    LensIntrinsics bad = exampleLens();
    bad.fx = -1;
    EXPECT_EQ(rays.build(bad, 320, 240), kyr::status::INVALID_ARGUMENT);
    EXPECT_TRUE(rays.empty());
    EXPECT_EQ(
        log.count("Lens intrinsics cannot be used: the focal lengths fx and fy must be positive"),
        1u);
    EXPECT_EQ(rays.build(exampleLens(), 0, 240), kyr::status::INVALID_ARGUMENT);
    // A distortion that folds the image over: the outer rays have no inverse.
    LensIntrinsics folded = exampleLens();
    folded.k1 = -3.0;
    ASSERT_EQ(rays.build(folded, 32, 24), 0);
    EXPECT_TRUE(std::isnan(rays.x()[0]));
    EXPECT_FALSE(std::isnan(rays.x()[12 * 32 + 16]));
    std::vector<uint16_t> distance(32 * 24, 1000);
    std::vector<float> xyz;
    std::vector<uint32_t> pixels;
    ASSERT_EQ(ozr::toPointCloud(distance.data(), rays, xyz, ozr::CodedPixels::DROP, &pixels), 0);
    EXPECT_LT(pixels.size(), distance.size());
    for (float v : xyz) ASSERT_FALSE(std::isnan(v));
}

TEST(PointCloud, CodesBecomeNaNOrAreDropped) {
    ozr::RayTable rays;
    ASSERT_EQ(rays.build(exampleLens(), 4, 3), 0);
    const std::vector<uint16_t> distance = {1000, 64001, 2000, 0, 64006, 65535,
                                            3000, 1,     2,    3, 64000, 5};
    std::vector<float> xyz;
    std::vector<uint32_t> pixels;
    ASSERT_EQ(ozr::toPointCloud(distance.data(), rays, xyz, ozr::CodedPixels::NAN_POINTS, &pixels),
              0);
    ASSERT_EQ(xyz.size(), 36u);
    EXPECT_TRUE(std::isnan(xyz[3]) && std::isnan(xyz[30]));
    EXPECT_FLOAT_EQ(xyz[6 + 2], 2000.0f * rays.z()[2]);
    EXPECT_EQ(pixels.size(), 12u);
    std::vector<float> kept;
    ASSERT_EQ(ozr::toPointCloud(distance.data(), rays, kept, ozr::CodedPixels::DROP, &pixels), 0);
    EXPECT_EQ(pixels, (std::vector<uint32_t>{0, 2, 3, 6, 7, 8, 9, 11}));
    ASSERT_EQ(kept.size(), 3 * pixels.size());
    for (size_t j = 0; j < pixels.size(); ++j) {
        for (int c = 0; c < 3; ++c) EXPECT_EQ(kept[3 * j + c], xyz[3 * pixels[j] + c]);
    }
}

}  // namespace
