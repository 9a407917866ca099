// Public interface of the Time-of-Flight camera library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "kyr/platform.h"
#include "ozr/controls.h"
#include "ozr/export.h"

namespace ozr {

struct LensIntrinsics;

// Which pipeline the camera runs and what a frame carries.
enum class AcquisitionMode : uint8_t {
    DIST_AMP = 0,      // distance, amplitude, phase, DCS 0-3
    GRAYSCALE = 1,     // grayscale
    DIST_AMP_HDR = 2,  // distance, amplitude, phase, DCS 0-11
    TEST_PATTERN = 3,  // refused by the camera
    DCS4 = 4,          // DCS 0-3
};

// Selects an image of a frame.
enum class FrameType : uint8_t {
    DCS = 0,
    AMPLITUDE = 1,
    DISTANCE = 2,
    PHASE = 3,
    GRAYSCALE = 4,
};

// The sensor model given to the camera.
enum class TOFSensor : uint8_t {
    autodetect = 0,
    ozr320 = 1,
    ozr310 = 2,
};

// A region of interest of the video device.
struct VideoFormat {
    uint32_t left;
    uint32_t top;
    uint32_t width;
    uint32_t height;
    uint32_t pitch;
};

struct TOFMetadata {
    uint32_t frameNumber;  // counts delivered frames from 1 after each camera construction
    uint64_t timestamp;    // wall-clock delivery time, milliseconds since the Unix epoch
};

// One delivered frame. The images stay valid and unchanged while the frame
// lives, whatever the camera does afterwards.
class OZR_API TOFFrame {
public:
    struct Impl;

    TOFFrame(std::unique_ptr<Impl> impl, uint16_t width, uint16_t height);
    ~TOFFrame();

    TOFFrame(const TOFFrame&) = delete;
    TOFFrame& operator=(const TOFFrame&) = delete;
    TOFFrame(TOFFrame&&) noexcept;
    TOFFrame& operator=(TOFFrame&&) noexcept;

    uint16_t getWidth() const { return width; }
    uint16_t getHeight() const { return height; }
    TOFMetadata getMetadata() const;

    // Read-only pointer to the first pixel (row-major, width x height) of the
    // requested image, or nullptr when the frame has no such image.
    // `index` selects the DCS image and is ignored for the other types.
    // Available for T = uint16_t (DCS, AMPLITUDE, DISTANCE, GRAYSCALE) and
    // T = float (PHASE, in radians).
    template <typename T>
    const T* getData(FrameType type, size_t index = 0) const;

private:
    std::unique_ptr<Impl> pImpl;
    uint16_t height;
    uint16_t width;
};

// The camera: one object per sensor. Construct it with the sensor model
// (or autodetect), open() it, choose the acquisition mode and the settings
// with setControl, then either startStream() and captureFrame() repeatedly,
// or captureFrame() alone, which then captures one frame on demand:
//
//     ozr::TOFCam cam(ozr::TOFSensor::autodetect);
//     cam.open();
//     cam.startStream();
//     std::unique_ptr<ozr::TOFFrame> frame;
//     if (cam.captureFrame(frame) == 0) {
//         const uint16_t* mm = frame->getData<uint16_t>(ozr::FrameType::DISTANCE);
//     }
//
// One camera is used from one thread: its operations take no lock and must
// not be called concurrently on the same camera (processing runs on the
// camera's own streaming thread; frames, once delivered, may be read from
// any thread). Results are 0 on success and a negated errno value on
// failure, each failure logged: -22 (EINVAL) camera not open or invalid
// argument, -11 (EAGAIN) no pipeline or a failed single capture, -16 (EBUSY)
// already streaming, -110 (ETIMEDOUT) no frame within 1000 ms, -1 a control
// that no layer of the active mode handles.
class OZR_API TOFCam {
public:
    class Impl;

    // Loads the calibration (falling back to none), detects the sensor model
    // when asked to, and checks the installed driver's version. Problems are
    // logged; construction itself never fails.
    explicit TOFCam(TOFSensor sensor);
    // Closes the camera.
    ~TOFCam();

    TOFCam(const TOFCam&) = delete;
    TOFCam& operator=(const TOFCam&) = delete;
    // A moved-from camera can only be destroyed, assigned to or closed; its
    // other operations return -22.
    TOFCam(TOFCam&&) noexcept;
    TOFCam& operator=(TOFCam&&) noexcept;

    // Acquires the device and the temperature sensor and assembles the
    // distance/amplitude pipeline (mode DIST_AMP); does not start streaming.
    // On an open camera the old pipeline and device are released first.
    int open();
    // Stops streaming and releases everything open() acquired. Always 0.
    int close();
    // Starts continuous streaming; -16 when already streaming.
    int startStream();
    // Stops streaming and waits for the streaming thread to end.
    int stopStream();
    // The camera's streaming flag: set by startStream, cleared by stopStream
    // and close. A mode switch leaves it set but starts no stream.
    bool isStreaming() const;

    // ACQUISITION_MODE switches the pipeline (settings of the previous
    // mode's processing are lost; those of the sensor persist). Any other
    // control is applied with the stream stopped and restarted around it.
    int setControl(ControlID id, int value);
    int setControl(ControlID id, AcquisitionMode mode);
    // Reads a control from the layer that holds it; does not stop the stream.
    int getControl(ControlID id, int& value);

    // Replaces `frame` with the newest frame of the current mode, waiting up
    // to 1000 ms; when not streaming, first captures one frame. On failure
    // `frame` is left as it was.
    int captureFrame(std::unique_ptr<TOFFrame>& frame);

    // The camera's lens model from its calibration, for the image size the
    // calibration states (scale it with scaleIntrinsics, or let toPointCloud
    // do it; both in ozr/pointCloud.h). Returns 0, or -2 (ENOENT) when the
    // calibration describes no lens.
    int getLensIntrinsics(LensIntrinsics& lens) const;

private:
    std::unique_ptr<Impl> pImpl;
};

template <>
OZR_API const uint16_t* TOFFrame::getData<uint16_t>(FrameType type, size_t index) const;
template <>
OZR_API const float* TOFFrame::getData<float>(FrameType type, size_t index) const;

}  // namespace ozr
