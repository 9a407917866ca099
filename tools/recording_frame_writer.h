// ozr-capture --record FILE: the DCS images of every frame (modes dcs4 and
// hdr) appended to an HDF5 recording, with the frame number, the timestamp
// and the sensor temperature read from the hwmon channel as the camera reads
// it. ozr-sim --replay serves such a file as the sensor.
#pragma once

#include <memory>
#include <string>

#include "frame_writer.h"
#include "hwmon_thermometer.h"
#include "ozr/tofcam.h"
#include "recording_format.h"
#include "recording_writer.h"

namespace capture {

class RecordingFrameWriter : public FrameWriter {
public:
    // Takes the camera's settings now, before the stream starts; the file is
    // created at the first frame, which gives the image size.
    RecordingFrameWriter(std::string path, ozrrec::Model model, ozrrec::Mode mode,
                         ozr::TOFCam& camera);

    std::string write(const ozr::TOFFrame& frame) override;
    std::string finish() override;
    size_t filesWritten() const override { return writer_ ? 1 : 0; }

private:
    std::string path_;
    ozrrec::RecordingInfo info_;
    std::unique_ptr<ozrrec::HwmonThermometer> thermometer_;
    std::unique_ptr<ozrrec::RecordingWriter> writer_;
    ozrrec::RecordedFrame frame_;
};

}  // namespace capture
