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
//
// The recording is read with the HDF5 library, which brings a long chain of
// libraries of its own (network, TLS, p11-kit). The emulation stands for the
// kernel and is loaded into every program run against it, so it does not
// link them: the reader lives in the module libozrsim_replay.so, next to
// libozrsim.so, which is loaded only when a recording is served.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controls.h"
#include "ozrsim.h"

namespace ozrrec {
class RecordingReader;
}

namespace ozrsim {

class Replay {
public:
    // Loads the replay module and opens `config.replay.file` with it (see
    // openRecording). Null with a message in `error` when the module cannot
    // be loaded or the file is refused.
    static std::shared_ptr<Replay> open(Config& config, std::string& error);

    // Opens and checks `config.replay.file` and brings `config` to the
    // recording: model, device format, a fixed temperature starting at the
    // first frame's. Null with a message in `error` when the file is refused
    // or holds no frame. Defined in the replay module (and in the launcher,
    // which checks recordings itself).
    static std::unique_ptr<Replay> openRecording(Config& config, std::string& error);

    // The same for a recording already open (from a file or from memory);
    // messages name the reader's path. Defined alongside openRecording.
    static std::unique_ptr<Replay> fromReader(std::unique_ptr<ozrrec::RecordingReader> reader,
                                              Config& config, std::string& error);

    virtual ~Replay() = default;

    // Sets the device controls to those of the recording.
    virtual void applyControls(ControlSet& controls) const = 0;

    // The device frame the n-th acquired frame (from 0) serves, or nothing
    // after the end of a recording that does not loop.
    virtual std::optional<uint64_t> frameFor(uint64_t n) const = 0;
    virtual float temperatureOf(uint64_t deviceFrame) const = 0;

    // The images of a device frame for acquisition type `acq`, in raw
    // device layout. Empty (after a message) when they cannot be served.
    virtual std::vector<std::vector<uint16_t>> images(uint64_t deviceFrame, AcqType acq) = 0;

    // Reports once that the recording has ended.
    virtual void reportEnd() = 0;
};

}  // namespace ozrsim

// The replay module's entry point, looked up by name: openRecording.
extern "C" ozrsim::Replay* ozrsim_open_recording(ozrsim::Config* config, std::string* error);
