#include "calibrate_camera.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <numbers>

#include "camera_log.h"
#include "kyr/sensors/ozrDriver.h"

namespace calib {

namespace {

ozr::TOFSensor sensorOf(const std::string& model) {
    if (model == "ozr310") return ozr::TOFSensor::ozr310;
    if (model == "ozr320") return ozr::TOFSensor::ozr320;
    return ozr::TOFSensor::autodetect;
}

const kyr::platform::OzrDeviceFiles* deviceOf(const std::string& model) {
    if (model == "ozr310") return &kyr::platform::OZR310_DEVICE;
    if (model == "ozr320") return &kyr::platform::OZR320_DEVICE;
    return kyr::platform::detectOzrDevice();
}

}  // namespace

Rig::Rig(const std::string& model) : modelName_(model) {}

Rig::~Rig() {
    cam_.reset();
    if (hwmonFd_ >= 0) ::close(hwmonFd_);
}

std::string Rig::failure(const std::string& what, int code) {
    std::string why = capture::log::takeErrors();
    if (why.empty()) why = std::strerror(code < 0 ? -code : code);
    return what + ": " + why + " (" + std::to_string(code) + ")";
}

int Rig::startStream() {
    const int rc = cam_->startStream();
    streaming_ = rc == 0;
    return rc;
}

void Rig::stopStream() {
    if (streaming_) cam_->stopStream();
    streaming_ = false;
}

int Rig::capture(std::unique_ptr<ozr::TOFFrame>& frame) {
    constexpr int ATTEMPTS = 3;
    int rc = 0;
    for (int attempt = 1; attempt <= ATTEMPTS; ++attempt) {
        rc = cam_->captureFrame(frame);
        if (rc != -ETIMEDOUT || attempt == ATTEMPTS) break;
        // The time-out's errors belong to this attempt only.
        (void)capture::log::takeErrors();
        if (streaming_) {
            (void)cam_->stopStream();
            if (const int again = startStream(); again != 0) return again;
        }
    }
    return rc;
}

std::string Rig::open() {
    cam_ = std::make_unique<ozr::TOFCam>(sensorOf(modelName_));
    if (const int rc = cam_->open(); rc != 0) return failure("cannot open the camera", rc);
    if (const kyr::platform::OzrDeviceFiles* device = deviceOf(modelName_)) {
        hwmonFd_ = kyr::platform::openHwmonChannel(kyr::platform::HWMON_ROOT, device->hwmonLabel);
    }
    // The calibration steps look at the sensor's own values: nothing of an
    // installed calibration or of the filters may change them.
    for (ozr::ControlID id :
         {ozr::ControlID::ENABLE_PHASE_OFFSET_COMPENSATION,
          ozr::ControlID::ENABLE_PHASE_ERROR_COMPENSATION,
          ozr::ControlID::ENABLE_TEMPERATURE_COMPENSATION, ozr::ControlID::LED_DELAY_STEP}) {
        if (std::string e = set(id, 0, "turn off a compensation"); !e.empty()) return e;
    }
    return {};
}

std::string Rig::set(ozr::ControlID id, int value, const std::string& what) {
    if (const int rc = cam_->setControl(id, value); rc != 0) return failure("cannot " + what, rc);
    return {};
}

std::string Rig::setFrequency(uint32_t hz, uint32_t& actual) {
    if (std::string e = set(ozr::ControlID::MODULATION_FREQ_HZ, static_cast<int>(hz),
                            "set the modulation frequency " + std::to_string(hz) + " Hz");
        !e.empty()) {
        return e;
    }
    int value = 0;
    if (const int rc = cam_->getControl(ozr::ControlID::MODULATION_FREQ_HZ, value); rc != 0) {
        return failure("cannot read the modulation frequency", rc);
    }
    actual = static_cast<uint32_t>(value);
    return {};
}

std::string Rig::distanceMode() {
    if (!gray_) return {};
    if (const int rc =
            cam_->setControl(ozr::ControlID::ACQUISITION_MODE, ozr::AcquisitionMode::DIST_AMP);
        rc != 0) {
        return failure("cannot switch to distance/amplitude mode", rc);
    }
    gray_ = false;
    return {};
}

std::string Rig::capturePhases(uint32_t frames, PhaseImage& out) {
    if (std::string e = distanceMode(); !e.empty()) return e;
    std::vector<double> sx, sy;
    for (uint32_t k = 0; k < frames; ++k) {
        std::unique_ptr<ozr::TOFFrame> frame;
        if (const int rc = capture(frame); rc != 0) {
            return failure("cannot capture a frame", rc);
        }
        const uint16_t* dcs[4];
        for (size_t j = 0; j < 4; ++j) {
            dcs[j] = frame->getData<uint16_t>(ozr::FrameType::DCS, j);
            if (!dcs[j]) return "the camera delivered a frame without DCS images";
        }
        const size_t n = static_cast<size_t>(frame->getWidth()) * frame->getHeight();
        if (k == 0) {
            out.width = frame->getWidth();
            out.height = frame->getHeight();
            sx.assign(n, 0.0);
            sy.assign(n, 0.0);
            out.clipped.assign(n, 0);
        } else if (frame->getWidth() != out.width || frame->getHeight() != out.height) {
            return "the image size changed during a capture";
        }
        for (size_t i = 0; i < n; ++i) {
            bool clip = false;
            for (const uint16_t* d : dcs) clip = clip || d[i] == 0 || d[i] >= 4095;
            out.clipped[i] |= clip;
            sx[i] += static_cast<double>(dcs[2][i]) - dcs[0][i];
            sy[i] += static_cast<double>(dcs[3][i]) - dcs[1][i];
        }
    }
    const size_t n = sx.size();
    out.frames = frames;
    out.phase.resize(n);
    out.amplitude.resize(n);
    for (size_t i = 0; i < n; ++i) {
        const double turns = std::atan2(sy[i], sx[i]) / (2.0 * std::numbers::pi);
        out.phase[i] = turns - std::floor(turns);
        out.amplitude[i] = 0.5 * std::hypot(sx[i], sy[i]) / frames;
    }
    return {};
}

std::string Rig::captureGray(uint32_t frames, GrayImage& out) {
    if (!gray_) {
        if (const int rc =
                cam_->setControl(ozr::ControlID::ACQUISITION_MODE, ozr::AcquisitionMode::GRAYSCALE);
            rc != 0) {
            return failure("cannot switch to grayscale mode", rc);
        }
        gray_ = true;
        for (ozr::ControlID id : {ozr::ControlID::ENABLE_GRAYSCALE_DSNU_COMPENSATION,
                                  ozr::ControlID::ENABLE_GRAYSCALE_PRNU_COMPENSATION}) {
            if (std::string e = set(id, 0, "turn off a grayscale compensation"); !e.empty()) {
                return e;
            }
        }
    }
    std::vector<double> sum;
    for (uint32_t k = 0; k < frames; ++k) {
        std::unique_ptr<ozr::TOFFrame> frame;
        if (const int rc = capture(frame); rc != 0) {
            return failure("cannot capture a frame", rc);
        }
        const uint16_t* g = frame->getData<uint16_t>(ozr::FrameType::GRAYSCALE);
        if (!g) return "the camera delivered a frame without a grayscale image";
        const size_t n = static_cast<size_t>(frame->getWidth()) * frame->getHeight();
        if (k == 0) {
            out.width = frame->getWidth();
            out.height = frame->getHeight();
            sum.assign(n, 0.0);
            out.clipped.assign(n, 0);
        } else if (frame->getWidth() != out.width || frame->getHeight() != out.height) {
            return "the image size changed during a capture";
        }
        for (size_t i = 0; i < n; ++i) {
            sum[i] += g[i];
            out.clipped[i] |= g[i] == 0 || g[i] >= 4095;
        }
    }
    out.frames = frames;
    out.mean.resize(sum.size());
    for (size_t i = 0; i < sum.size(); ++i) out.mean[i] = sum[i] / frames;
    return {};
}

double Rig::temperature() {
    if (hwmonFd_ < 0) return NAN;
    char text[32];
    const ssize_t n = ::pread(hwmonFd_, text, sizeof(text) - 1, 0);
    if (n < 1) return NAN;
    long long milli = 0;
    const auto [next, ec] = std::from_chars(text, text + n, milli, 10);
    if (ec != std::errc() || next == text) return NAN;
    return static_cast<double>(milli) / 1000.0;
}

}  // namespace calib
