// OZR320Source on the virtual driver: the images against the scene's ground
// truth, distances from the published DCS images, HDR done by the driver,
// and frames that fail.
#include "kyr/sources/ozr320Source.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "simSensorSource.h"
#include "support/log_capture.h"

namespace {

using ozr::AcquisitionMode;
using ozr::ControlID;
using testsupport::Collector;
using testsupport::LogCapture;

class Ozr320Sim : public testsupport::SimSensorSource<OZR320Source> {
protected:
    void TearDown() override {
        SimSensorSource::TearDown();
        if (!depthFile.empty()) {
            std::filesystem::remove(depthFile);
        }
    }
    std::filesystem::path depthFile;
};

TEST_F(Ozr320Sim, ImagesKeepTheSceneLayout) {
    ozrsim::Config c = config();
    c.scene.noiseScale = 0.0f;
    c.scene.reflectivity = 1.0f;
    depthFile = std::filesystem::temp_directory_path() /
                ("ozr320_layout_" + std::to_string(::getpid()) + ".pgm");
    testsupport::writeDepthMap(depthFile, 320, 240,
                               [](uint32_t x, uint32_t y) { return 1200 + 2 * x + 3 * y; });
    c.scene.name = "file:" + depthFile.string();
    start(c);
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
    const ozrsim::GroundTruth truth = ozrsim::lastTruth();
    const double hz = ozrsim::lastState().modulationHz;
    EXPECT_EQ(hz, 20000000.0);
    const auto r = testsupport::compareWithTruth(got.images, 0, truth, hz, 1.0);
    RecordProperty("compared", static_cast<int>(r.compared));
    RecordProperty("meanZ", std::to_string(r.meanZ));
    RecordProperty("rmsZ", std::to_string(r.rmsZ));
    RecordProperty("maxErrorMm", std::to_string(r.maxErrorMm));
    EXPECT_GT(r.compared, truth.distanceMm.size() * 9 / 10);
    EXPECT_EQ(r.outside, 0u);
    // Errors scaled by their predicted sigma: unbiased and of unit spread
    // (over some 75000 pixels the standard errors are about 0.004).
    EXPECT_LT(std::abs(r.meanZ), 0.02);
    EXPECT_GT(r.rmsZ, 0.95);
    EXPECT_LT(r.rmsZ, 1.05);
    ASSERT_EQ(got.temperatures.size(), 3u);
    EXPECT_NEAR(got.temperatures.back(), ozrsim::temperature(), 0.001);
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
    const double hz = ozrsim::lastState().modulationHz;
    std::vector<double> amp[3];
    for (size_t i = 0; i < got.images[0]->pixelCount(); i += 7) {
        for (int k = 0; k < 3; ++k) {
            amp[k].push_back(testsupport::fourPhase(got.images, 4 * k, i, hz).amplitude);
        }
    }
    const auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    EXPECT_NEAR(median(amp[1]) / median(amp[0]), 3.0, 0.1);
    EXPECT_NEAR(median(amp[2]) / median(amp[1]), 3.0, 0.1);
}

TEST_F(Ozr320Sim, FailedTriggerStopsTheFrameBeforeItsLastImage) {
    start(config());
    Collector got(*source, 4);
    ASSERT_EQ(source->setupStreaming(), 0);
    triggerFirst();
    ozrsim::FaultConfig f;
    f.ioctls.push_back({VIDIOC_S_CTRL, EIO, 0, 0});
    ozrsim::setFaults(f);
    LogCapture log;
    EXPECT_EQ(source->captureNext(true), -1);
    EXPECT_EQ(log.count("Failed to set control 3: " + std::string(std::strerror(EIO))), 1u);
    EXPECT_EQ(log.count("Failed to trigger shutter: 1"), 1u);
    EXPECT_EQ(got.arrivals, (std::vector<size_t>{0, 1, 2}));
}

TEST_F(Ozr320Sim, FailedReadStopsTheFrame) {
    start(config());
    Collector got(*source, 4);
    ASSERT_EQ(source->setupStreaming(), 0);
    triggerFirst();
    ozrsim::FaultConfig f;
    f.ioctls.push_back({VIDIOC_DQBUF, EIO, 2, 1});
    ozrsim::setFaults(f);
    LogCapture log;
    EXPECT_EQ(source->captureNext(true), -1);
    EXPECT_EQ(log.count("Failed to get next frame: 1"), 1u);
    EXPECT_EQ(got.arrivals, (std::vector<size_t>{0, 1}));
}

TEST_F(Ozr320Sim, StalledSensorTimesOutAfterASecond) {
    start(config());
    Collector got(*source, 4);
    ASSERT_EQ(source->setupStreaming(), 0);
    ozrsim::FaultConfig f;
    f.stall = true;
    ozrsim::setFaults(f);
    ASSERT_EQ(source->fetchNext(), 0);
    LogCapture log;
    EXPECT_EQ(source->captureNext(false), -110);
    EXPECT_EQ(log.count("Failed to get next frame: 110"), 1u);
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
    EXPECT_TRUE(log.contains("Failed to get next frame: 16") ||
                log.contains("Failed to get next frame: 1"));
    EXPECT_LT(source->stopStreaming(), 0);
}

}  // namespace
