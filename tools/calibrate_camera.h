// ozr-calibrate: the camera as the calibration steps use it, through the
// public API: single captures at chosen settings, averaged per pixel, and
// the die temperature from the sensor's hwmon channel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ozr/tofcam.h"

namespace calib {

// Per-pixel averages of several distance/amplitude frames, from their DCS
// images: phase (turns, the library's convention), amplitude (counts) and
// whether a sample of the pixel clipped at 0 or 4095 in any frame.
struct PhaseImage {
    uint32_t width = 0, height = 0;
    uint32_t frames = 0;
    std::vector<double> phase;
    std::vector<double> amplitude;
    std::vector<uint8_t> clipped;
};

// Per-pixel mean of grayscale frames and the pixels that clipped.
struct GrayImage {
    uint32_t width = 0, height = 0;
    uint32_t frames = 0;
    std::vector<double> mean;
    std::vector<uint8_t> clipped;
};

class Rig {
public:
    // "auto", "ozr320" or "ozr310".
    explicit Rig(const std::string& model);
    ~Rig();
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    // Opens the camera; an empty string or what failed.
    std::string open();
    ozr::TOFCam& camera() { return *cam_; }

    // Sets a control; an empty string or what failed.
    std::string set(ozr::ControlID id, int value, const std::string& what);
    // Sets the modulation frequency; `actual` is the device's.
    std::string setFrequency(uint32_t hz, uint32_t& actual);

    // Streams until stopStream(); returns the camera's status.
    int startStream();
    void stopStream();
    // One frame. A capture that times out is tried again, up to three times
    // in all: a busy board misses the OZR310's short wait for an image now
    // and then, and a calibration should not fail for it. A late image ends
    // the camera's stream, so a streaming rig starts it again first. Returns
    // the camera's status.
    int capture(std::unique_ptr<ozr::TOFFrame>& frame);
    // `what` with the camera's logged errors behind it.
    std::string failure(const std::string& what, int code);

    // Averages `frames` single captures in distance/amplitude mode.
    std::string capturePhases(uint32_t frames, PhaseImage& out);
    // Averages `frames` single captures in grayscale mode, uncompensated.
    std::string captureGray(uint32_t frames, GrayImage& out);
    // Back to distance/amplitude mode.
    std::string distanceMode();

    // Die temperature in Celsius from the sensor's hwmon channel; NaN when
    // there is none.
    double temperature();

private:
    std::string modelName_;
    std::unique_ptr<ozr::TOFCam> cam_;
    int hwmonFd_ = -1;
    bool gray_ = false;
    bool streaming_ = false;
};

}  // namespace calib
