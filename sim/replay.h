// Replay of a recording: the virtual sensor takes the model, format and
// device controls of the recording and, instead of rendering the scene,
// serves the recorded DCS images on each trigger, re-encoded into the
// driver's raw layout (12-bit value in the upper bits; for the OZR310 the
// two readout halves side by side), and the recorded temperature on the
// hwmon channel.
//
// A trigger serves one device frame: a recorded frame as a whole, except for
// OZR310 HDR recordings, whose twelve images the library acquired as three
// triggered four-DCS frames (one per exposure) and which are served the same
// way. An OZR320 HDR recording also serves its first exposure to a device in
// four-DCS acquisition; a grayscale acquisition, or HDR from a four-DCS
// recording, gets no images (and a message).
//
// At the end of the recording the sensor starts again from the first frame
// when looping; otherwise it reports the end once on standard error and
// produces no more frames, as a stalled sensor does (the application's
// captures time out).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "controls.h"
#include "ozrsim.h"
#include "recording_format.h"
#include "scene.h"

namespace ozrrec {
class RecordingReader;
}

namespace ozrsim {

class Replay {
public:
    // Opens and checks `config.replay.file` and brings `config` to the
    // recording: model, device format, a fixed temperature starting at the
    // first frame's. Null with a message in `error` when the file is refused
    // or holds no frame.
    static std::shared_ptr<Replay> open(Config& config, std::string& error);
    ~Replay();

    // Sets the device controls to those of the recording.
    void applyControls(ControlSet& controls) const;

    // The device frame the n-th acquired frame (from 0) serves, or nothing
    // after the end of a recording that does not loop.
    std::optional<uint64_t> frameFor(uint64_t n) const;
    float temperatureOf(uint64_t deviceFrame) const;

    // The images of a device frame for acquisition type `acq`, in raw
    // device layout. Empty (after a message) when they cannot be served.
    std::vector<std::vector<uint16_t>> images(uint64_t deviceFrame, AcqType acq);

    // Reports once that the recording has ended.
    void reportEnd();

private:
    Replay() = default;

    std::vector<uint16_t> encode(const uint16_t* image) const;
    void reportOnce(const std::string& message);

    std::unique_ptr<ozrrec::RecordingReader> reader_;
    Model model_ = Model::OZR320;
    bool loop_ = false;
    uint32_t width_ = 0;  // of a recorded (unfolded) image
    uint32_t height_ = 0;
    uint32_t imagesPerDeviceFrame_ = 4;
    uint32_t deviceFramesPerRecorded_ = 1;
    uint64_t deviceFrames_ = 0;
    std::vector<float> temperatures_;  // per recorded frame

    std::mutex mu_;  // the cache and the message below
    uint64_t cachedIndex_ = UINT64_MAX;
    ozrrec::RecordedFrame cached_;
    bool reported_ = false;
};

}  // namespace ozrsim
