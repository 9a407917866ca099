// The camera streaming on the virtual sensor driver, through the public API:
// the frames of every mode, controls and mode switches while streaming, and
// frame numbering.
#include <algorithm>
#include <chrono>
#include <vector>

#include "cameraTestUtil.h"

namespace {

using ozr::AcquisitionMode;
using ozr::ControlID;
using ozr::FrameType;
using ozrsim::Model;
using Clock = std::chrono::steady_clock;

constexpr uint16_t LIMIT_VALID_VALUE = 64000;
constexpr uint16_t LOW_AMPLITUDE = 64001;
constexpr uint16_t ADC_OVERFLOW = 64002;
constexpr uint16_t SATURATION = 64003;
constexpr uint16_t MIN_AMPLITUDE = 100;  // the filter graph's default

class CameraStreaming : public camtest::CameraOnSim {
protected:
    // Captures a frame, failing the test when there is none.
    std::unique_ptr<ozr::TOFFrame> capture() {
        std::unique_ptr<ozr::TOFFrame> frame;
        EXPECT_EQ(cam->captureFrame(frame), 0);
        return frame;
    }

    // The image of each DCS index a frame of `mode` carries, its distance,
    // amplitude and phase (float) images, checked against what the mode
    // promises; absent images give null with their message.
    void expectContents(const ozr::TOFFrame& f, size_t dcsCount, bool distAmp, bool gray) {
        uint32_t w = 0, h = 0;
        publishedSize(w, h);
        EXPECT_EQ(f.getWidth(), w);
        EXPECT_EQ(f.getHeight(), h);
        log.clear();
        for (size_t i = 0; i < 12; ++i) {
            EXPECT_EQ(f.getData<uint16_t>(FrameType::DCS, i) != nullptr, i < dcsCount) << i;
        }
        EXPECT_EQ(f.getData<uint16_t>(FrameType::DCS, 12), nullptr);
        if (dcsCount < 12) {
            EXPECT_EQ(log.count("DCS image " + std::to_string(dcsCount) +
                                " not available in this acquisition mode"),
                      1u);
        }
        EXPECT_EQ(f.getData<uint16_t>(FrameType::DISTANCE) != nullptr, distAmp);
        EXPECT_EQ(f.getData<uint16_t>(FrameType::AMPLITUDE) != nullptr, distAmp);
        EXPECT_EQ(f.getData<float>(FrameType::PHASE, 7) != nullptr, distAmp);
        EXPECT_EQ(f.getData<uint16_t>(FrameType::GRAYSCALE) != nullptr, gray);
        EXPECT_EQ(f.getData<uint16_t>(FrameType::PHASE), nullptr);
        EXPECT_EQ(f.getData<float>(FrameType::DISTANCE), nullptr);
        const char* missing[] = {"Distance", "Amplitude", "Phase", "Grayscale"};
        for (size_t k = 0; k < 4; ++k) {
            const bool present = k < 3 ? distAmp : gray;
            EXPECT_EQ(log.count(std::string(missing[k]) +
                                " image not available in this acquisition mode"),
                      present ? 0u : 1u)
                << missing[k];
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

    // Distance and amplitude of a distance frame against those computed
    // here from its own DCS images: per pixel the exposure with the largest
    // amplitude among those without a sample at 0 or 4095 (the first when
    // all clip), then the four-phase formulas, the saturation codes and the
    // minimum amplitude. Returns how many pixels came from each exposure.
    std::vector<size_t> expectMergedDistances(const ozr::TOFFrame& f, size_t exposures) {
        const size_t n = size_t{f.getWidth()} * f.getHeight();
        const uint16_t* dist = f.getData<uint16_t>(FrameType::DISTANCE);
        const uint16_t* amp = f.getData<uint16_t>(FrameType::AMPLITUDE);
        std::vector<size_t> chosen(exposures);
        size_t bad = 0;
        for (size_t i = 0; i < n; ++i) {
            size_t best = 0;
            bool bestValid = false;
            double bestAmp = -1;
            uint16_t code = 0;
            for (size_t e = 0; e < exposures; ++e) {
                const uint16_t* d[4];
                uint16_t worst = 0;
                for (size_t k = 0; k < 4; ++k) {
                    d[k] = f.getData<uint16_t>(FrameType::DCS, 4 * e + k);
                    worst = std::max<uint16_t>(worst, d[k][i] == 0      ? SATURATION
                                                      : d[k][i] == 4095 ? ADC_OVERFLOW
                                                                        : 0);
                }
                const double a = camtest::fourPhase(d, i, DEFAULT_MODULATION_HZ).amplitude;
                if (worst == 0 && (!bestValid || a > bestAmp)) {
                    best = e, bestAmp = a, bestValid = true;
                } else if (e == 0) {
                    bestAmp = a, code = worst;
                }
            }
            if (bestValid) {
                code = 0;
            }
            ++chosen[best];
            const uint16_t* d[4];
            for (size_t k = 0; k < 4; ++k) {
                d[k] = f.getData<uint16_t>(FrameType::DCS, 4 * best + k);
            }
            const camtest::DistAmp want = camtest::fourPhase(d, i, DEFAULT_MODULATION_HZ);
            // The amplitude is truncated: near the threshold either is right.
            const bool weak = want.amplitude < MIN_AMPLITUDE - 0.5;
            const bool strong = want.amplitude > MIN_AMPLITUDE + 0.5;
            bool ok;
            if (code != 0) {
                ok = amp[i] == code && dist[i] == code;
            } else if (dist[i] >= LIMIT_VALID_VALUE) {
                ok =
                    std::abs(amp[i] - want.amplitude) <= 1.0 && dist[i] == LOW_AMPLITUDE && !strong;
            } else {
                ok = std::abs(amp[i] - want.amplitude) <= 1.0 && !weak &&
                     std::abs(camtest::wrappedErrorMm(dist[i], want.distanceMm,
                                                      DEFAULT_MODULATION_HZ)) <= 2.0;
            }
            if (!ok && bad++ < 5) {
                ADD_FAILURE() << "pixel " << i << ": distance " << dist[i] << " amplitude "
                              << amp[i] << ", expected " << want.distanceMm << " / "
                              << want.amplitude << " code " << code << " from exposure " << best;
            }
        }
        EXPECT_EQ(bad, 0u);
        return chosen;
    }
};

TEST_P(CameraStreaming, EveryModeDeliversItsImages) {
    ozrsim::Config c = config();
    c.scene.name = "boxes";
    openCamera(c);
    // Three exposures: the reflective patch saturates at 500 us, the dark
    // patch is weak below 2000 us.
    const int hdrTimes[3] = {100, 500, 2000};
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(cam->setControl(static_cast<ControlID>(5 + k), hdrTimes[k]), 0);
    }
    struct Case {
        AcquisitionMode mode;
        size_t dcs;
        bool distAmp;
        bool gray;
    };
    const Case cases[] = {{AcquisitionMode::DIST_AMP, 4, true, false},
                          {AcquisitionMode::GRAYSCALE, 0, false, true},
                          {AcquisitionMode::DIST_AMP_HDR, 12, true, false},
                          {AcquisitionMode::DCS4, 4, false, false}};
    uint32_t number = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(static_cast<int>(k.mode));
        ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, k.mode), 0);
        // Two single captures, then two while streaming.
        for (int i = 0; i < 4; ++i) {
            if (i == 2) {
                ASSERT_EQ(cam->startStream(), 0);
            }
            const auto f = capture();
            ASSERT_TRUE(f);
            EXPECT_EQ(f->getMetadata().frameNumber, ++number);
            expectContents(*f, k.dcs, k.distAmp, k.gray);
            if (k.distAmp && (i == 1 || i == 3)) {
                const std::vector<size_t> from = expectMergedDistances(*f, k.dcs / 4);
                if (k.mode == AcquisitionMode::DIST_AMP_HDR) {
                    // Merged: most pixels from the longest exposure, the
                    // reflective patch from the shortest.
                    EXPECT_GT(from[2], from[0] + from[1]);
                    EXPECT_GT(from[0], 100u);
                }
            }
            if (k.mode == AcquisitionMode::DIST_AMP_HDR && i == 0) {
                // Each exposure's images carry its own exposure time: the
                // amplitude scales with it.
                std::vector<double> medians;
                for (size_t e = 0; e < 3; ++e) {
                    const uint16_t* d[4];
                    for (size_t j = 0; j < 4; ++j) {
                        d[j] = f->getData<uint16_t>(FrameType::DCS, 4 * e + j);
                    }
                    std::vector<double> a;
                    for (size_t p = 0; p < size_t{f->getWidth()} * f->getHeight(); p += 7) {
                        a.push_back(camtest::fourPhase(d, p, DEFAULT_MODULATION_HZ).amplitude);
                    }
                    std::nth_element(a.begin(), a.begin() + a.size() / 2, a.end());
                    medians.push_back(a[a.size() / 2]);
                }
                EXPECT_NEAR(medians[1] / medians[0], 5.0, 0.5);
                EXPECT_NEAR(medians[2] / medians[1], 4.0, 0.4);
            }
        }
        ASSERT_EQ(cam->stopStream(), 0);
    }
}

TEST_P(CameraStreaming, ControlsWhileStreamingRestartTheStream) {
    openCamera(config());
    ASSERT_EQ(cam->startStream(), 0);
    ASSERT_TRUE(capture());
    struct Case {
        ControlID id;
        int value;
        int result;
    };
    // In the end every filter and mask is on, and frames still come.
    const Case cases[] = {{ControlID::MEDIAN_FILTER_ENABLE, 1, 0},
                          {ControlID::GAIN, 2, 0},
                          {ControlID::ENABLE_GRAYSCALE_PRNU_COMPENSATION, 1, -1},
                          {ControlID::AVERAGE_FILTER_ENABLE, 1, 0},
                          {ControlID::TEMPORAL_FILTER_ENABLE, 1, 0},
                          {ControlID::KALMAN_FILTER_ENABLE, 1, 0},
                          {ControlID::EDGE_FILTER_ENABLE, 1, 0},
                          {ControlID::INTERFERENCE_DETECTION_ENABLE, 1, 0},
                          {ControlID::INTERFERENCE_ENABLE_LATCHING, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.id));
        log.clear();
        const uint64_t streamOns = ozrsim::counters().streamOns;
        EXPECT_EQ(cam->setControl(c.id, c.value), c.result);
        EXPECT_EQ(log.count("Stopping streaming to set control"), 1u);
        EXPECT_TRUE(cam->isStreaming());
        // The stream runs again: new frames keep coming.
        const auto a = capture();
        const auto b = capture();
        ASSERT_TRUE(a && b);
        EXPECT_EQ(b->getMetadata().frameNumber, a->getMetadata().frameNumber + 1);
        EXPECT_EQ(ozrsim::counters().streamOns, streamOns + 1);
        int value = -1;
        if (c.result == 0) {
            EXPECT_EQ(cam->getControl(c.id, value), 0);
            EXPECT_EQ(value, c.value);
        }
    }
    EXPECT_EQ(cam->stopStream(), 0);
    EXPECT_FALSE(cam->isStreaming());
}

TEST_P(CameraStreaming, ModeSwitchWhileStreamingWaitsForStartStream) {
    openCamera(config());
    // A raw frame taken first: from then on only the sink of the active
    // mode listens, so the DCS sink gets nothing while other modes stream.
    ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::DCS4), 0);
    ASSERT_TRUE(capture());
    ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, AcquisitionMode::DIST_AMP), 0);
    ASSERT_EQ(cam->startStream(), 0);
    struct Case {
        AcquisitionMode mode;
        const char* switched;
        const char* timeout;
        // The sink still holds a frame of this mode that nobody took: the
        // one the first stream drained when it stopped.
        bool heldFrame;
    };
    const Case cases[] = {
        {AcquisitionMode::GRAYSCALE, "Switched to Grayscale pipeline",
         "Timeout waiting for grayscale frame", false},
        {AcquisitionMode::DIST_AMP_HDR, "Switched to HDR pipeline",
         "Timeout waiting for distance/amplitude frame", false},
        {AcquisitionMode::DCS4, "Switched to DCS4 pipeline", "Timeout waiting for DCS frame",
         false},
        {AcquisitionMode::DIST_AMP, "Switched to Distance/Amplitude pipeline",
         "Timeout waiting for distance/amplitude frame", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.switched);
        auto frame = capture();
        const ozr::TOFFrame* kept = frame.get();
        log.clear();
        ASSERT_EQ(cam->setControl(ControlID::ACQUISITION_MODE, c.mode), 0);
        EXPECT_EQ(log.count(c.switched), 1u);
        // The old thread is joined and the device stopped; the flag stays.
        EXPECT_FALSE(ozrsim::counters().streaming);
        EXPECT_TRUE(cam->isStreaming());
        if (c.heldFrame) {
            frame = capture();
            kept = frame.get();
        }
        const auto t0 = Clock::now();
        EXPECT_EQ(cam->captureFrame(frame), -110);
        EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(990));
        EXPECT_EQ(frame.get(), kept);
        EXPECT_EQ(log.count(c.timeout), 1u);
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
    EXPECT_EQ(cam->close(), 0);
    EXPECT_FALSE(cam->isStreaming());
    const ozrsim::Counters n = ozrsim::counters();
    EXPECT_FALSE(n.streaming);
    EXPECT_EQ(n.openVideo, 0);
    EXPECT_EQ(n.mappings, 0);
    // A frame outlives the camera's pipeline and device.
    EXPECT_NE(f->getData<uint16_t>(FrameType::DISTANCE), nullptr);
    // Open after close streams again.
    ASSERT_EQ(cam->open(), 0);
    EXPECT_EQ(cam->startStream(), 0);
    EXPECT_TRUE(capture());
}

TEST_P(CameraStreaming, FrameNumbersRestartWithEachCamera) {
    openCamera(config());
    const uint64_t before =
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count());
    for (uint32_t n = 1; n <= 2; ++n) {
        const auto f = capture();
        ASSERT_TRUE(f);
        EXPECT_EQ(f->getMetadata().frameNumber, n);
        EXPECT_GE(f->getMetadata().timestamp, before);
        EXPECT_LE(f->getMetadata().timestamp, before + 60000);
    }
    // The counter is one per process: a second camera restarts it for both.
    auto second = std::make_unique<ozr::TOFCam>(sensor());
    EXPECT_EQ(capture()->getMetadata().frameNumber, 1u);
    cam = std::move(second);  // the first camera closes
    ASSERT_EQ(cam->open(), 0);
    EXPECT_EQ(capture()->getMetadata().frameNumber, 2u);
}

// Without an hwmon channel the camera compensates for 25 degrees Celsius:
// with the driver's die at 30 degrees, where it was calibrated, the
// distances move by the calibrated drift of 22 mm/K times 5 K.
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
        openCamera(c);
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
    EXPECT_NEAR(std::abs(median[0] - median[1]), 5 * ozrsim::kTempDriftMmPerK, 10.0);
}

INSTANTIATE_TEST_SUITE_P(Models, CameraStreaming, testing::Values(Model::OZR310, Model::OZR320),
                         camtest::modelName);

}  // namespace
