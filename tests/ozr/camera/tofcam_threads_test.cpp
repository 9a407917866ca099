// The camera streaming on the virtual sensor driver, through the public API:
// the frames of every mode, controls and mode switches while streaming,
// frame numbering and the temperature stand-in.
#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

#include "cameraTestUtil.h"

namespace {

using ozr::AcquisitionMode;
using ozr::ControlID;
using ozr::FrameType;
using ozrsim::Model;

constexpr uint16_t LIMIT_VALID_VALUE = 64000;
constexpr uint16_t LOW_AMPLITUDE = 64001;
constexpr double MIN_AMPLITUDE = 100;  // the filter graph's default
constexpr double HZ = camtest::DEFAULT_MODULATION_HZ;

class CameraStreaming : public camtest::CameraOnSim {
protected:
    std::unique_ptr<ozr::TOFFrame> capture() {
        std::unique_ptr<ozr::TOFFrame> frame;
        EXPECT_EQ(cam->captureFrame(frame), 0);
        return frame;
    }

    // What a frame of a mode carries; every absent image is null with its
    // message, phase as float in [0, 2 pi] only.
    void expectContents(const ozr::TOFFrame& f, size_t dcsCount, bool distAmp, bool gray) {
        uint32_t w = 0, h = 0;
        publishedSize(w, h);
        EXPECT_EQ(f.getWidth(), w);
        EXPECT_EQ(f.getHeight(), h);
        log.clear();
        for (size_t i = 0; i < 12; ++i) {
            EXPECT_EQ(f.getData<uint16_t>(FrameType::DCS, i) != nullptr, i < dcsCount) << i;
        }
        EXPECT_EQ(log.count("DCS image " + std::to_string(dcsCount) +
                            " not available in this acquisition mode"),
                  dcsCount < 12 ? 1u : 0u);
        EXPECT_EQ(f.getData<uint16_t>(FrameType::DCS, 12), nullptr);  // no message
        EXPECT_EQ(f.getData<uint16_t>(FrameType::PHASE), nullptr);    // no message
        const std::pair<bool, const char*> images[] = {
            {f.getData<uint16_t>(FrameType::DISTANCE) != nullptr, "Distance"},
            {f.getData<uint16_t>(FrameType::AMPLITUDE) != nullptr, "Amplitude"},
            {f.getData<float>(FrameType::PHASE, 7) != nullptr, "Phase"},
            {f.getData<uint16_t>(FrameType::GRAYSCALE) != nullptr, "Grayscale"}};
        for (size_t k = 0; k < 4; ++k) {
            const bool want = k < 3 ? distAmp : gray;
            EXPECT_EQ(images[k].first, want) << images[k].second;
            EXPECT_EQ(log.count(std::string(images[k].second) +
                                " image not available in this acquisition mode"),
                      want ? 0u : 1u);
        }
        EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR),
                  (12 - dcsCount) + (distAmp ? 0u : 3u) + (gray ? 0u : 1u));
        if (distAmp) {
            const float* phase = f.getData<float>(FrameType::PHASE);
            const auto [lo, hi] = std::minmax_element(phase, phase + size_t{w} * h);
            EXPECT_GE(*lo, 0.0f);
            EXPECT_LE(*hi, 6.2831855f);
        }
    }

    static std::array<const uint16_t*, 4> dcsOf(const ozr::TOFFrame& f, size_t exposure) {
        std::array<const uint16_t*, 4> d;
        for (size_t k = 0; k < 4; ++k) d[k] = f.getData<uint16_t>(FrameType::DCS, 4 * exposure + k);
        return d;
    }
    static uint16_t clipCode(const std::array<const uint16_t*, 4>& d, size_t i) {
        uint16_t code = 0;
        for (const uint16_t* img : d) {
            code = std::max<uint16_t>(code, img[i] == 0 ? 64003 : img[i] == 4095 ? 64002 : 0);
        }
        return code;
    }

    // Distance and amplitude of a frame against those computed here from
    // its own DCS images: per pixel the exposure with the largest amplitude
    // among those without a sample at 0 or 4095 (else the first, with its
    // code), the four-phase formulas and the minimum amplitude. Returns how
    // many pixels came from each exposure.
    std::vector<size_t> expectMergedDistances(const ozr::TOFFrame& f, size_t exposures) {
        const uint16_t* dist = f.getData<uint16_t>(FrameType::DISTANCE);
        const uint16_t* amp = f.getData<uint16_t>(FrameType::AMPLITUDE);
        std::vector<size_t> chosen(exposures);
        size_t bad = 0;
        for (size_t i = 0; i < size_t{f.getWidth()} * f.getHeight(); ++i) {
            size_t best = 0;
            double bestAmp = -1;
            for (size_t e = 0; e < exposures; ++e) {
                const double a = camtest::fourPhase(dcsOf(f, e).data(), i, HZ).amplitude;
                if (clipCode(dcsOf(f, e), i) == 0 && a > bestAmp) best = e, bestAmp = a;
            }
            ++chosen[best];
            const uint16_t code = clipCode(dcsOf(f, best), i);
            const camtest::DistAmp want = camtest::fourPhase(dcsOf(f, best).data(), i, HZ);
            // The amplitude is truncated: at the threshold either is right.
            const bool ampOk = std::abs(amp[i] - want.amplitude) <= 1.0;
            bool ok;
            if (code != 0) {
                ok = amp[i] == code && dist[i] == code;
            } else if (dist[i] >= LIMIT_VALID_VALUE) {
                ok = ampOk && dist[i] == LOW_AMPLITUDE && want.amplitude < MIN_AMPLITUDE + 0.5;
            } else {
                ok = ampOk && want.amplitude > MIN_AMPLITUDE - 0.5 &&
                     std::abs(camtest::wrappedErrorMm(dist[i], want.distanceMm, HZ)) <= 2.0;
            }
            if (!ok && bad++ < 5) {
                ADD_FAILURE() << "pixel " << i << ": " << dist[i] << " mm, amplitude " << amp[i]
                              << "; expected " << want.distanceMm << " / " << want.amplitude
                              << " code " << code << " from exposure " << best;
            }
        }
        EXPECT_EQ(bad, 0u);
        return chosen;
    }
};

TEST_P(CameraStreaming, EveryModeDeliversItsImages) {
    ozrsim::Config c = config();
    c.scene.name = "boxes";  // its reflective patch saturates at 500 us
    openCamera(c);
    const int hdrTimes[3] = {100, 500, 2000};
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(cam->setControl(static_cast<ControlID>(5 + k), hdrTimes[k]), 0);
    }
    struct Case {
        AcquisitionMode mode;
        size_t dcs;
        bool distAmp, gray;
    };
    const Case cases[] = {{AcquisitionMode::DIST_AMP, 4, true, false},
                          {AcquisitionMode::GRAYSCALE, 0, false, true},
                          {AcquisitionMode::DIST_AMP_HDR, 12, true, false},
                          {AcquisitionMode::DCS4, 4, false, false}};
    uint32_t number = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(static_cast<int>(k.mode));
        ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, k.mode), 0);
        // A single capture, then one while streaming.
        for (int i = 0; i < 2; ++i) {
            if (i == 1) {
                ASSERT_EQ(cam->startStream(), 0);
            }
            const auto f = capture();
            ASSERT_TRUE(f);
            EXPECT_EQ(f->getMetadata().frameNumber, ++number);
            expectContents(*f, k.dcs, k.distAmp, k.gray);
            if (!k.distAmp) continue;
            const std::vector<size_t> from = expectMergedDistances(*f, k.dcs / 4);
            if (k.mode != AcquisitionMode::DIST_AMP_HDR) continue;
            // Merged: most pixels from the longest exposure, the patch from
            // the shortest.
            EXPECT_GT(from[2], from[0] + from[1]);
            EXPECT_GT(from[0], 100u);
            // Each exposure was taken with its own time: the amplitudes
            // scale with it (on the OZR310 by switching the exposure).
            std::array<double, 3> median;
            for (size_t e = 0; e < 3; ++e) {
                std::vector<double> a;
                for (size_t p = 0; p < size_t{f->getWidth()} * f->getHeight(); p += 7) {
                    a.push_back(camtest::fourPhase(dcsOf(*f, e).data(), p, HZ).amplitude);
                }
                std::nth_element(a.begin(), a.begin() + a.size() / 2, a.end());
                median[e] = a[a.size() / 2];
            }
            EXPECT_NEAR(median[1] / median[0], 5.0, 0.5);
            EXPECT_NEAR(median[2] / median[1], 4.0, 0.4);
        }
        ASSERT_EQ(cam->stopStream(), 0);
    }
}

TEST_P(CameraStreaming, ControlsWhileStreamingRestartTheStream) {
    openCamera(config());
    ASSERT_EQ(cam->startStream(), 0);
    ASSERT_TRUE(capture());
    // In the end every filter and mask is on, and frames still come.
    const std::pair<ControlID, int> cases[] = {{ControlID::MEDIAN_FILTER_ENABLE, 0},
                                               {ControlID::GAIN, 0},
                                               {ControlID::ENABLE_GRAYSCALE_PRNU_COMPENSATION, -1},
                                               {ControlID::AVERAGE_FILTER_ENABLE, 0},
                                               {ControlID::TEMPORAL_FILTER_ENABLE, 0},
                                               {ControlID::KALMAN_FILTER_ENABLE, 0},
                                               {ControlID::EDGE_FILTER_ENABLE, 0},
                                               {ControlID::INTERFERENCE_DETECTION_ENABLE, 0},
                                               {ControlID::INTERFERENCE_ENABLE_LATCHING, 0}};
    for (const auto& [id, result] : cases) {
        SCOPED_TRACE(static_cast<int>(id));
        log.clear();
        const uint64_t streamOns = ozrsim::counters().streamOns;
        EXPECT_EQ(cam->setControl(id, 1), result);
        EXPECT_EQ(log.count("Stopping streaming to set control"), 1u);
        EXPECT_TRUE(cam->isStreaming());
        const auto a = capture();
        const auto b = capture();
        ASSERT_TRUE(a && b);
        EXPECT_EQ(b->getMetadata().frameNumber, a->getMetadata().frameNumber + 1);
        EXPECT_EQ(ozrsim::counters().streamOns, streamOns + 1);
        int value = -1;
        EXPECT_EQ(cam->getControl(id, value), result);
        EXPECT_EQ(value, result == 0 ? 1 : -1);
    }
    EXPECT_EQ(cam->stopStream(), 0);
    EXPECT_FALSE(cam->isStreaming());
}

TEST_P(CameraStreaming, ModeSwitchWhileStreamingWaitsForStartStream) {
    openCamera(config());
    // A raw frame first: from then on only the active mode's sink listens,
    // so the DCS sink gets nothing while other modes stream.
    ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::DCS4), 0);
    ASSERT_TRUE(capture());
    ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::DIST_AMP), 0);
    ASSERT_EQ(cam->startStream(), 0);
    struct Case {
        AcquisitionMode mode;
        const char *switched, *timeout;
        // The sink still holds a frame of its mode nobody took: the one
        // the first stream drained when it stopped.
        bool heldFrame;
    };
    const Case cases[] = {
        {AcquisitionMode::GRAYSCALE, "Grayscale", "grayscale", false},
        {AcquisitionMode::DIST_AMP_HDR, "HDR", "distance/amplitude", false},
        {AcquisitionMode::DCS4, "DCS4", "DCS", false},
        {AcquisitionMode::DIST_AMP, "Distance/Amplitude", "distance/amplitude", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.switched);
        auto frame = capture();
        log.clear();
        ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, c.mode), 0);
        EXPECT_EQ(log.count(std::string("Switched to ") + c.switched + " pipeline"), 1u);
        // The old thread is joined and the device stopped; the flag stays.
        EXPECT_FALSE(ozrsim::counters().streaming);
        EXPECT_TRUE(cam->isStreaming());
        if (c.heldFrame) frame = capture();
        const ozr::TOFFrame* kept = frame.get();
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(cam->captureFrame(frame), -110);
        EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(990));
        EXPECT_EQ(frame.get(), kept);
        EXPECT_EQ(log.count(std::string("Timeout waiting for ") + c.timeout + " frame"), 1u);
        EXPECT_EQ(cam->startStream(), 0);
        ASSERT_TRUE(capture());
    }
    // An invalid mode stops the stream too and leaves no pipeline.
    EXPECT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, 3), -22);
    EXPECT_FALSE(ozrsim::counters().streaming);
    std::unique_ptr<ozr::TOFFrame> frame;
    EXPECT_EQ(cam->captureFrame(frame), -11);
    EXPECT_EQ(cam->startStream(), -11);
    EXPECT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::DIST_AMP), 0);
    EXPECT_EQ(cam->startStream(), 0);
    EXPECT_TRUE(capture());
}

TEST_P(CameraStreaming, StartTwiceIsBusyAndCloseStopsTheStream) {
    openCamera(config());
    EXPECT_EQ(cam->startStream(), 0);
    EXPECT_EQ(cam->startStream(), -16);
    EXPECT_TRUE(cam->isStreaming());
    const auto f = capture();
    ASSERT_TRUE(f);
    EXPECT_EQ(cam->close(), 0);
    EXPECT_FALSE(cam->isStreaming());
    const ozrsim::Counters n = ozrsim::counters();
    EXPECT_FALSE(n.streaming);
    EXPECT_EQ(n.openVideo + n.mappings, 0);
    // A frame outlives the camera's pipeline and device.
    EXPECT_NE(f->getData<uint16_t>(FrameType::DISTANCE), nullptr);
    ASSERT_EQ(cam->open(), 0);
    EXPECT_EQ(cam->startStream(), 0);
    EXPECT_TRUE(capture());
}

TEST_P(CameraStreaming, FrameNumbersRestartWithEachCamera) {
    openCamera(config());
    const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    for (uint32_t n = 1; n <= 2; ++n) {
        const auto f = capture();
        ASSERT_TRUE(f);
        EXPECT_EQ(f->getMetadata().frameNumber, n);
        EXPECT_NEAR(static_cast<double>(f->getMetadata().timestamp), now, 60000.0);
    }
    // One counter per process: a second camera restarts it for both.
    auto second = std::make_unique<ozr::TOFCam>(sensor());
    EXPECT_EQ(capture()->getMetadata().frameNumber, 1u);
    cam = std::move(second);  // the first camera closes
    ASSERT_EQ(cam->open(), 0);
    EXPECT_EQ(capture()->getMetadata().frameNumber, 2u);
}

// Without an hwmon channel the camera compensates for 25 degrees Celsius:
// with the die at 30 degrees, where it was calibrated, the distances move
// by the calibrated drift of 22 mm/K times 5 K.
TEST_P(CameraStreaming, MissingHwmonChannelCompensatesForTwentyFiveDegrees) {
    double median[2] = {};
    for (int hwmon = 1; hwmon >= 0; --hwmon) {
        ozrsim::Config c = config();
        c.hwmon = hwmon != 0;
        c.calibration = ozrsim::Calibration::Synthetic;
        c.scene.systematicErrors = true;
        c.temperature.startC = ozrsim::kCalibrationTempC;
        cam.reset();
        ozrsim::reset();
        log.clear();
        openCamera(c);
        EXPECT_EQ(log.count("Falling back to FakeTempSensor with default temperature value of "
                            "25.0°C"),
                  hwmon ? 0u : 1u);
        ASSERT_EQ(cam->setControl(ControlID::MODULATION_FREQ_HZ, 20000000), 0);
        const auto f = capture();
        ASSERT_TRUE(f);
        const ozrsim::GroundTruth truth = ozrsim::lastTruth();
        const uint16_t* dist = f->getData<uint16_t>(FrameType::DISTANCE);
        std::vector<double> err;
        for (size_t i = 0; i < truth.distanceMm.size(); ++i) {
            if (dist[i] < LIMIT_VALID_VALUE) {
                err.push_back(camtest::wrappedErrorMm(dist[i], truth.distanceMm[i], 20e6));
            }
        }
        ASSERT_GT(err.size(), truth.distanceMm.size() / 2);
        std::nth_element(err.begin(), err.begin() + err.size() / 2, err.end());
        median[hwmon] = err[err.size() / 2];
    }
    EXPECT_NEAR(median[1], 0.0, 5.0);
    EXPECT_NEAR(std::abs(median[0]), 5 * ozrsim::kTempDriftMmPerK, 10.0);
}

INSTANTIATE_TEST_SUITE_P(Models, CameraStreaming, testing::Values(Model::OZR310, Model::OZR320),
                         camtest::modelName);

}  // namespace
