// OZR310Source on the virtual driver: the unfolding against the scene's
// ground truth, distances from the published DCS images, HDR built from
// three triggered frames, and frames that fail.
#include "kyr/sources/ozr310Source.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "simSensorSource.h"
#include "support/log_capture.h"

namespace {

using ozr::AcquisitionMode;
using ozr::ControlID;
using testsupport::Collector;
using testsupport::LogCapture;

using Ozr310Sim = testsupport::SimSensorSource<OZR310Source>;

TEST_F(Ozr310Sim, UnfoldingReproducesTheSceneLayout) {
    // The scene at the size of the unfolded image.
    start(gradientScene());
    Collector got(*source, 4);
    stream(1);
    uint32_t w = 0, h = 0;
    publishedSize(w, h);
    ASSERT_EQ(w, 320u);
    ASSERT_EQ(h, 240u);
    for (const auto& img : got.images) {
        ASSERT_TRUE(img);
        ASSERT_EQ(img->getWidth(), w);
        ASSERT_EQ(img->getHeight(), h);
    }
    const ozrsim::GroundTruth truth = ozrsim::lastTruth();
    ASSERT_EQ(truth.width, w);
    ASSERT_EQ(truth.height, h);
    const double hz = ozrsim::lastState().modulationHz;
    const auto r = testsupport::compareWithTruth(got.images, 0, truth, hz, 0.0);
    EXPECT_EQ(r.compared, size_t{w} * h);  // nothing clips at 1.2 m to 2.6 m
    EXPECT_EQ(r.outside, 0u);
    // Rounding to whole counts alone: within 2 mm, a row apart is 3 mm.
    EXPECT_LT(r.maxErrorMm, 2.0);
    // The corners, named: the left half of device row 0 is the row just
    // below the middle, the right half of device row 0 the row just above.
    const auto d = [&](uint32_t x, uint32_t y) {
        return testsupport::fourPhase(got.images, 0, size_t{y} * w + x, hz).distanceMm;
    };
    EXPECT_NEAR(d(0, 0), 1200, 2);
    EXPECT_NEAR(d(319, 239), 1200 + 638 + 717, 2);
    EXPECT_NEAR(d(0, 120), 1200 + 360, 2);
    EXPECT_NEAR(d(5, 119), 1200 + 10 + 357, 2);
}

TEST_F(Ozr310Sim, DcsImagesGiveTheTrueDistancesWithinTheNoise) {
    ozrsim::Config c = config();
    c.scene.name = "boxes";
    start(c);
    Collector got(*source, 4);
    stream(3);
    expectTrueDistancesWithinTheNoise(got, 3);
}

TEST_F(Ozr310Sim, TemperatureFollowsTheDie) {
    start(config());
    Collector got(*source, 4);
    ASSERT_EQ(source->setupStreaming(), 0);
    ozrsim::setTemperature(41.25f);
    triggerFirst();
    ASSERT_EQ(source->captureNext(false), 0);
    ASSERT_EQ(got.temperatures.size(), 1u);
    EXPECT_FLOAT_EQ(got.temperatures[0], 41.25f);
}

TEST_F(Ozr310Sim, HdrIsThreeTriggeredFramesWithTheExposureSwitched) {
    ozrsim::Config c = config();
    c.scene.name = "wall";
    c.scene.wallDistanceMm = 3000.0f;
    start(c);
    const int times[3] = {100, 500, 2000};
    ASSERT_EQ(source->setControl(ControlID::HDR_INTEGRATION_TIME1_US, times[0]), 0);
    ASSERT_EQ(source->setControl(ControlID::HDR_INTEGRATION_TIME2_US, times[1]), 0);
    ASSERT_EQ(source->setControl(ControlID::HDR_INTEGRATION_TIME3_US, times[2]), 0);
    ASSERT_EQ(source->setControl(ControlID::ACQUISITION_MODE,
                                 static_cast<int32_t>(AcquisitionMode::DIST_AMP_HDR)),
              0);
    // The HDR times stay in the source, which reads them back; the device is
    // a plain 4DCS device.
    int readBack = -1;
    EXPECT_EQ(source->getControl(ControlID::HDR_INTEGRATION_TIME2_US, readBack), 0);
    EXPECT_EQ(readBack, times[1]);
    EXPECT_EQ(source->setControl(ControlID::HDR_INTEGRATION_TIME3_US, 1999), 0);
    EXPECT_EQ(source->getControl(ControlID::HDR_INTEGRATION_TIME3_US, readBack), 0);
    EXPECT_EQ(readBack, 1999) << "not the device's 2000";
    ASSERT_EQ(source->setControl(ControlID::HDR_INTEGRATION_TIME3_US, times[2]), 0);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::HDR_INTEGRATION_TIME1), 100);  // its default
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::HDR_INTEGRATION_TIME3), 2000);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::ACQUISITION_MODE), OZR_ACQUISITION_TYPE_4DCS);

    // What the device rendered when the first image of each exposure arrived.
    struct Probe : Sink<Image<uint16_t>> {
        int action() override {
            const ozrsim::SensorState s = ozrsim::lastState();
            seen.push_back({s.exposureUs, s.frameIndex});
            return 0;
        }
        std::vector<std::pair<int, uint64_t>> seen;
    } probe[3];
    for (int k = 0; k < 3; ++k) {
        probe[k] << *source->getDCSSource(4 * k);
    }
    Collector got(*source, 12);
    stream(2);

    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(probe[k].seen.size(), 2u) << k;
        for (int f = 0; f < 2; ++f) {
            EXPECT_EQ(probe[k].seen[f].first, times[k]) << k << " " << f;
            EXPECT_EQ(probe[k].seen[f].second, uint64_t(3 * f + k)) << k << " " << f;
        }
    }
    const ozrsim::Counters n = ozrsim::counters();
    // First trigger, then per HDR frame the triggers of exposures 2 and 3,
    // and after the first frame the trigger of the next.
    EXPECT_EQ(n.triggers, 1u + 3u + 2u);
    EXPECT_EQ(n.frames, 6u);
    EXPECT_EQ(n.imagesDelivered, 24u);
    EXPECT_EQ(n.imagesDropped, 0u);
    // After the last exposure the first exposure time is set again.
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::EXPOSURE), times[0]);
    EXPECT_EQ(got.temperatures.size(), 2u);
    for (size_t i = 0; i < 12; ++i) {
        ASSERT_TRUE(got.images[i]) << i;
        EXPECT_EQ(got.images[i]->getWidth(), 320u);
        EXPECT_EQ(got.images[i]->getHeight(), 240u);
    }

    // Each exposure's images carry that exposure's amplitude.
    const auto amp =
        testsupport::exposureAmplitudeMedians(got.images, ozrsim::lastState().modulationHz);
    EXPECT_NEAR(amp[1] / amp[0], 5.0, 0.25);
    EXPECT_NEAR(amp[2] / amp[1], 4.0, 0.1);
}

TEST_F(Ozr310Sim, ExposureIsTheSourcesWhileInHdr) {
    start(config());
    ASSERT_EQ(source->setControl(ControlID::EXPOSURE_US, 800), 0);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::EXPOSURE), 800);
    ASSERT_EQ(source->setControl(ControlID::ACQUISITION_MODE,
                                 static_cast<int32_t>(AcquisitionMode::DIST_AMP_HDR)),
              0);
    EXPECT_EQ(source->setControl(ControlID::EXPOSURE_US, 1200), 0);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::EXPOSURE), 800);
}

TEST_F(Ozr310Sim, GrayscaleIsOneUnfoldedImage) {
    start(config());
    ASSERT_EQ(source->setControl(ControlID::ACQUISITION_MODE,
                                 static_cast<int32_t>(AcquisitionMode::GRAYSCALE)),
              0);
    EXPECT_EQ(ozrsim::controlValue(ozrsim::cid::ACQUISITION_MODE), OZR_ACQUISITION_TYPE_GRAYSCALE);
    Collector got(*source, 1, true);
    stream(2);
    ASSERT_TRUE(got.images[0]);
    EXPECT_EQ(got.images[0]->getWidth(), 320u);
    EXPECT_EQ(got.images[0]->getHeight(), 240u);
    EXPECT_EQ(got.arrivals.size(), 2u);
    EXPECT_EQ(ozrsim::counters().triggers, 2u);
}

TEST_F(Ozr310Sim, FailedReadStopsTheFrame) {
    start(config());
    Collector got(*source, 4);
    ASSERT_NO_FATAL_FAILURE(failAfterFirstTrigger({VIDIOC_DQBUF, EIO, 1, 1}));
    LogCapture log;
    EXPECT_EQ(source->captureNext(true), -EIO);
    EXPECT_EQ(log.count("Failed to dequeue buffer: -5"), 2u);
    EXPECT_EQ(log.count("Failed to get next frame: -5"), 1u);
    EXPECT_EQ(got.arrivals, std::vector<size_t>{0});
    EXPECT_EQ(ozrsim::counters().triggers, 1u);  // no trigger for a failed frame
}

TEST_F(Ozr310Sim, StalledSensorTimesOutAfter200Ms) {
    start(config());
    Collector got(*source, 4);
    ASSERT_NO_FATAL_FAILURE(stallAfterTrigger());
    LogCapture log;
    EXPECT_EQ(source->captureNext(true), -110);
    EXPECT_EQ(log.count("Failed to dequeue buffer: -110"), 1u);
    EXPECT_EQ(log.count("Failed to get next frame: -110"), 1u);
    EXPECT_TRUE(got.arrivals.empty());
    EXPECT_EQ(got.temperatures.size(), 1u);  // published before the images
}

TEST_F(Ozr310Sim, FrameOfTheWrongSizeIsRefused) {
    start(config());
    Collector got(*source, 4);
    ASSERT_EQ(source->setupStreaming(), 0);
    ozrsim::FaultConfig f;
    f.bytesusedDelta = 64;
    ozrsim::setFaults(f);
    triggerFirst();
    LogCapture log;
    EXPECT_EQ(source->captureNext(true), -22);
    EXPECT_EQ(log.count("Failed to get next frame: -22"), 1u);
    EXPECT_TRUE(got.arrivals.empty());
}

}  // namespace
