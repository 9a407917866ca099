// ozr-view: the one camera all viewers share.
//
// The camera lives on a thread of its own, which captures frames, encodes
// each once into the message every viewer receives (view_frame.h) and
// publishes it with a sequence number. Viewers wait for a sequence newer than
// the one they sent last, so that a slow viewer skips frames and the camera
// never waits for anyone. Every other use of the camera (controls, mode,
// start and stop, recording) runs as a command on the same thread, since the
// camera's operations must not run concurrently.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "camera_recorder.h"
#include "frame_stats.h"
#include "hwmon_thermometer.h"
#include "ozr/pointCloud.h"
#include "ozr/tofcam.h"

namespace view {

// A delivered frame, encoded once.
struct Published {
    uint64_t sequence = 0;
    std::string message;
    std::shared_ptr<const ozr::TOFFrame> frame;
    capture::FrameStats stats;
    std::optional<float> temperatureC;
};

// The outcome of a command: `error` is empty on success, else what went
// wrong in words (the library's message when it gave one) and `status` the
// HTTP status that fits.
struct Outcome {
    int status = 200;
    std::string error;
    int value = 0;  // a control's value as the camera reads it back
    static Outcome ok(int value = 0) { return {200, {}, value}; }
    static Outcome failed(int status, std::string error) { return {status, std::move(error), 0}; }
};

struct ControlValue {
    std::string name;
    int value = 0;
    bool isSwitch = false;  // an on/off control
};

struct CameraStatus {
    ozr::AcquisitionMode mode = ozr::AcquisitionMode::DIST_AMP;
    bool running = false;
    bool recording = false;
    std::string recordingFile;  // name of the file in the recording directory
    uint64_t recordedFrames = 0;
    std::string lastError;  // of the last failed capture, empty when frames arrive
};

class CameraService {
public:
    struct Settings {
        std::string model = "auto";
        ozr::AcquisitionMode mode = ozr::AcquisitionMode::DIST_AMP;
        std::string recordDir = ".";
    };

    explicit CameraService(Settings settings);
    ~CameraService();

    CameraService(const CameraService&) = delete;
    CameraService& operator=(const CameraService&) = delete;

    // Opens the camera, selects the mode, starts streaming and the thread.
    // Returns an empty string, or what failed.
    std::string start();
    // Ends the thread, the recording and the stream, and wakes every waiting viewer.
    void stop();

    // The newest frame once its sequence is above `after`; null after
    // `timeout` without one, or when the service stops.
    std::shared_ptr<const Published> waitNewer(uint64_t after, std::chrono::milliseconds timeout);
    std::shared_ptr<const Published> latest() const;

    CameraStatus status() const;
    const std::optional<ozr::LensIntrinsics>& lens() const { return lens_; }

    // Commands, run on the camera's thread.
    std::vector<ControlValue> controls();
    Outcome setControl(const std::string& name, int value);
    Outcome setMode(ozr::AcquisitionMode mode);
    Outcome setRunning(bool running);
    Outcome startRecording();
    Outcome stopRecording();

private:
    void loop();
    void captureOne();
    void runCommands(std::unique_lock<std::mutex>& lock);
    Outcome call(std::function<Outcome()> command);
    Outcome cameraError(const std::string& what, int code);
    void finishRecording();

    Settings settings_;
    ozr::TOFCam camera_;
    std::optional<ozr::LensIntrinsics> lens_;
    std::unique_ptr<ozrrec::HwmonThermometer> thermometer_;
    std::thread thread_;

    // Camera thread only.
    std::unique_ptr<ozrrec::CameraRecorder> recorder_;
    std::deque<std::chrono::steady_clock::time_point> arrivals_;
    std::string message_;

    mutable std::mutex mutex_;
    std::condition_variable framesChanged_;  // a frame was published, or stopping
    std::condition_variable commandsChanged_;
    std::deque<std::function<void()>> commands_;
    bool stopping_ = false;
    bool started_ = false;
    std::shared_ptr<const Published> latest_;  // null until the mode's first frame
    uint64_t sequence_ = 0;                    // of the last frame published
    CameraStatus status_;
};

}  // namespace view
