// ozr-capture --record FILE: the DCS images of every frame (modes dcs4 and
// hdr) appended to an HDF5 recording. ozr-sim --replay serves such a file as
// the sensor.
#pragma once

#include <string>

#include "camera_recorder.h"
#include "frame_writer.h"
#include "ozr/tofcam.h"

namespace capture {

class RecordingFrameWriter : public FrameWriter {
public:
    RecordingFrameWriter(std::string path, ozrrec::Model model, ozrrec::Mode mode,
                         ozr::TOFCam& camera)
        : recorder_(std::move(path), model, mode, camera) {}

    std::string write(const ozr::TOFFrame& frame) override { return recorder_.write(frame); }
    std::string finish() override { return recorder_.finish(); }
    size_t filesWritten() const override { return recorder_.started() ? 1 : 0; }

private:
    ozrrec::CameraRecorder recorder_;
};

}  // namespace capture
