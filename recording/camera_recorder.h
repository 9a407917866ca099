// Records what a camera delivers: the DCS images of its frames (modes DCS4
// and DIST_AMP_HDR) appended to a recording with the frame number, the
// timestamp and the sensor temperature read from the hwmon channel as the
// camera reads it. Used by ozr-capture --record and the Python module.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "hwmon_thermometer.h"
#include "ozr/tofcam.h"
#include "recording_format.h"
#include "recording_writer.h"

namespace ozrrec {

// The model a camera constructed for `requested` ("auto", "ozr310" or
// "ozr320") works with: the one named, or the one the camera's autodetection
// finds (the OZR320 first); the OZR320 when nothing is found.
Model cameraModel(const std::string& requested);

// The recording mode of an acquisition mode; false for the modes whose
// frames carry no DCS images of their own to record.
bool recordingMode(ozr::AcquisitionMode acquisition, Mode& mode);

class CameraRecorder {
public:
    // Takes the camera's settings now, before the stream starts; the file is
    // created at the first frame, which gives the image size.
    CameraRecorder(std::string path, Model model, Mode mode, ozr::TOFCam& camera);

    CameraRecorder(const CameraRecorder&) = delete;
    CameraRecorder& operator=(const CameraRecorder&) = delete;

    // Appends the frame; a message on failure, else empty.
    std::string write(const ozr::TOFFrame& frame);
    // Flushes and closes the file; a message on failure, else empty.
    std::string finish();

    bool started() const { return writer_ != nullptr; }
    uint64_t framesWritten() const { return writer_ ? writer_->frameCount() : 0; }

private:
    std::string path_;
    RecordingInfo info_;
    std::unique_ptr<HwmonThermometer> thermometer_;
    std::unique_ptr<RecordingWriter> writer_;
    RecordedFrame frame_;
};

}  // namespace ozrrec
