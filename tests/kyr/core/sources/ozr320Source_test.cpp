// OZR320Source on the virtual driver: the images against the scene's ground
// truth, distances from the published DCS images, HDR done by the driver,
// and frames that fail.
#include "kyr/sources/ozr320Source.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <vector>

#include "simSensorSource.h"
#include "support/log_capture.h"

namespace {

using ozr::AcquisitionMode;
using ozr::ControlID;
using testsupport::Collector;
using testsupport::LogCapture;

using Ozr320Sim = testsupport::SimSensorSource<OZR320Source>;

TEST_F(Ozr320Sim, ImagesKeepTheSceneLayout) {
    start(gradientScene());
    Collector got(*source, 4);
    stream(1);
    for (const auto& img : got.images) {
        ASSERT_TRUE(img);
        ASSERT_EQ(img->getWidth(), 320u);
        ASSERT_EQ(img->getHeight(), 240u);
    }
    const ozrsim::GroundTruth truth = ozrsim::lastTruth();
    const double hz = ozrsim::lastState().modulationHz;
    const auto r = testsupport::compareWithTruth(got.images, 0, truth, hz, 0.0);
    EXPECT_EQ(r.compared, size_t{320} * 240);
    EXPECT_EQ(r.outside, 0u);
    EXPECT_LT(r.maxErrorMm, 2.0);
}

TEST_F(Ozr320Sim, DcsImagesGiveTheTrueDistancesWithinTheNoise) {
    ozrsim::Config c = config();
    c.scene.name = "boxes";
    start(c);
    ASSERT_EQ(source->setControl(ControlID::MODULATION_FREQ_HZ, 20000000), 0);
    Collector got(*source, 4);
    stream(3);
    EXPECT_EQ(ozrsim::lastState().modulationHz, 20000000.0);
    expectTrueDistancesWithinTheNoise(got, 3);
}

TEST_F(Ozr320Sim, HdrIsTwelveImagesOfOneTriggeredFrame) {
    ozrsim::Config c = config();
    c.scene.name = "wall";
    c.scene.wallDistanceMm = 3000.0f;
    start(c);
    ASSERT_EQ(source->setControl(ControlID::HDR_INTEGRATION_TIME1_US, 200), 0);
    ASSERT_EQ(source->setControl(ControlID::HDR_INTEGRATION_TIME2_US, 600), 0);
    ASSERT_EQ(source->setControl(ControlID::HDR_INTEGRATION_TIME3_US, 1800), 0);
    ASSERT_EQ(source->setControl(ControlID::ACQUISITION_MODE,
                                 static_cast<int32_t>(AcquisitionMode::DIST_AMP_HDR)),
              0);
    // The driver keeps the HDR times and runs the HDR mode itself.
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::HDR_INTEGRATION_TIME1), 200);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::HDR_INTEGRATION_TIME2), 600);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::HDR_INTEGRATION_TIME3), 1800);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::ACQUISITION_MODE), OZR_ACQUISITION_TYPE_HDR);
    ASSERT_EQ(source->setControl(ControlID::EXPOSURE_US, 700), 0);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::EXPOSURE), 700);

    Collector got(*source, 12);
    stream(2);
    const ozrsim::Counters n = ozrsim::counters();
    EXPECT_EQ(n.triggers, 2u);
    EXPECT_EQ(n.frames, 2u);
    EXPECT_EQ(n.imagesDelivered, 24u);
    EXPECT_EQ(n.imagesDropped, 0u);
    EXPECT_EQ(got.arrivals.size(), 24u);
    const auto amp =
        testsupport::exposureAmplitudeMedians(got.images, ozrsim::lastState().modulationHz);
    EXPECT_NEAR(amp[1] / amp[0], 3.0, 0.1);
    EXPECT_NEAR(amp[2] / amp[1], 3.0, 0.1);
}

TEST_F(Ozr320Sim, FailedReadStopsTheFrame) {
    start(config());
    Collector got(*source, 4);
    ASSERT_NO_FATAL_FAILURE(failAfterFirstTrigger({VIDIOC_DQBUF, EIO, 2, 1}));
    LogCapture log;
    EXPECT_EQ(source->captureNext(true), -EIO);
    EXPECT_EQ(log.count("Failed to get next frame: -5"), 1u);
    EXPECT_EQ(got.arrivals, (std::vector<size_t>{0, 1}));
}

TEST_F(Ozr320Sim, StalledSensorTimesOutAfterASecond) {
    start(config());
    Collector got(*source, 4);
    ASSERT_NO_FATAL_FAILURE(stallAfterTrigger());
    LogCapture log;
    EXPECT_EQ(source->captureNext(false), -110);
    EXPECT_EQ(log.count("Failed to get next frame: -110"), 1u);
    EXPECT_TRUE(got.arrivals.empty());
}

TEST_F(Ozr320Sim, VanishedDeviceFailsTheStreamAndItsStop) {
    start(config());
    Collector got(*source, 4);
    ASSERT_EQ(source->setupStreaming(), 0);
    triggerFirst();
    ASSERT_EQ(source->captureNext(true), 0);
    ozrsim::disconnect();
    LogCapture log;
    EXPECT_LT(source->captureNext(true), 0);
    EXPECT_TRUE(log.contains("Failed to get next frame: -16") ||
                log.contains("Failed to get next frame: -1"));
    EXPECT_LT(source->stopStreaming(), 0);
}

}  // namespace
