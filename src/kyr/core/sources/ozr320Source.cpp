#include "kyr/sources/ozr320Source.h"

#include <utility>

// The HDR times and the exposure go to the driver, which applies them, and
// the driver runs the HDR mode itself: everything is the common source's.
OZR320Source::OZR320Source(std::unique_ptr<VideoDeviceIF> video,
                           std::unique_ptr<TempSensorIF> temperature, uint8_t shiftBits)
    : OZRSensorSourceBase(std::move(video), std::move(temperature), shiftBits) {
    // A device that refuses the mode now is told again at the start of the
    // stream, where a refusal ends the stream.
    (void)setAcquisitionMode(ozr::AcquisitionMode::DIST_AMP);
}
