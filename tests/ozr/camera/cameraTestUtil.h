// The camera on the virtual sensor driver, used as an application uses it:
// through the public headers and the shared library only.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <numeric>
#include <string>
#include <vector>

#include "ozr/tofcam.h"
#include "ozrsim.h"
#include "support/log_capture.h"
#include "support/sim_config.h"

namespace camtest {

inline const char* modelName(const ::testing::TestParamInfo<ozrsim::Model>& info) {
    return info.param == ozrsim::Model::OZR310 ? "OZR310" : "OZR320";
}

inline constexpr double DEFAULT_MODULATION_HZ = 24000000;  // the driver's default

class CameraOnSim : public ::testing::TestWithParam<ozrsim::Model> {
protected:
    // Fast frames, a die temperature that stays put, no systematic errors.
    ozrsim::Config config() const {
        ozrsim::Config c = testsupport::fastSimConfig(GetParam());
        c.scene.systematicErrors = false;
        return c;
    }
    void start(const ozrsim::Config& c) {
        cfg = c;
        ASSERT_EQ(ozrsim::configure(c), 0);
    }
    ozr::TOFSensor sensor() const {
        return GetParam() == ozrsim::Model::OZR310 ? ozr::TOFSensor::ozr310
                                                   : ozr::TOFSensor::ozr320;
    }
    // Starts the driver with `c` and opens a camera of its model.
    void openCamera(const ozrsim::Config& c) {
        start(c);
        cam = std::make_unique<ozr::TOFCam>(sensor());
        ASSERT_EQ(cam->open(), 0);
        warmUp();
    }
    // The first frame after configuration also sets up the scene, which
    // under the sanitizers may take longer than an image time-out: one frame
    // is rendered (and dropped, nothing streams) before the camera's first.
    void warmUp() {
        const int fd =
            ::open(cfg.model == ozrsim::Model::OZR310 ? "/run/ozr310/subdev" : "/run/ozr320/subdev",
                   O_RDWR);
        ASSERT_GE(fd, 0);
        v4l2_control trigger{ozrsim::cid::TRIGGER_SHUTTER, 1};
        EXPECT_EQ(::ioctl(fd, VIDIOC_S_CTRL, &trigger), 0);
        ::close(fd);
        ASSERT_TRUE(ozrsim::waitIdle(std::chrono::seconds(20)));
    }
    void TearDown() override {
        cam.reset();
        ozrsim::reset();
    }

    // Size of the images the camera delivers (the OZR310 unfolds its halves).
    void publishedSize(uint32_t& w, uint32_t& h) const {
        uint32_t dw = cfg.width, dh = cfg.height;
        if (dw == 0 || dh == 0) {
            ozrsim::defaultFormat(cfg.model, dw, dh);
        }
        ASSERT_TRUE(ozrsim::processedSize(cfg.model, dw, dh, w, h));
    }

    ozrsim::Config cfg;
    std::unique_ptr<ozr::TOFCam> cam;
    testsupport::LogCapture log;
};

// Distance in mm and amplitude of pixel i from the four DCS images dcs[0..3]
// by the four-phase formulas, for a modulation frequency of hz.
struct DistAmp {
    double distanceMm;
    double amplitude;
};

inline DistAmp fourPhase(const uint16_t* const* dcs, size_t i, double hz) {
    const double x = double(dcs[2][i]) - dcs[0][i];
    const double y = double(dcs[3][i]) - dcs[1][i];
    double phase = std::atan2(y, x);
    if (phase < 0) {
        phase += 2 * std::numbers::pi;
    }
    return {phase * ozrsim::kSpeedOfLightMps * 1000.0 / (4 * std::numbers::pi * hz),
            0.5 * std::hypot(x, y)};
}

// Signed difference of two distances modulo the unambiguous range c / 2f.
inline double wrappedErrorMm(double measured, double truth, double hz) {
    return std::remainder(measured - truth, ozrsim::kSpeedOfLightMps * 1000.0 / (2.0 * hz));
}

// Mean, sample standard deviation and largest magnitude of a set of errors.
struct Spread {
    double mean = 0, std = 0, worst = 0;
    size_t n = 0;
};
inline Spread spreadOf(const std::vector<double>& v) {
    Spread s;
    s.n = v.size();
    if (v.empty()) return s;
    s.mean = std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
    double ss = 0;
    for (const double x : v) {
        ss += (x - s.mean) * (x - s.mean);
        s.worst = std::max(s.worst, std::abs(x));
    }
    s.std = std::sqrt(ss / static_cast<double>(std::max<size_t>(v.size() - 1, 1)));
    return s;
}

}  // namespace camtest
