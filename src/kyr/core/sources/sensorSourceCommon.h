// Steps shared by the sensor sources of both models.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "kyr/image.h"
#include "kyr/source.h"
#include "kyr/stage.h"
#include "kyr/videoDeviceIF.h"
#include "ozr/tofcam.h"

namespace sensor_source {

// Number of raw images the source publishes at most per frame.
inline constexpr size_t MAX_STREAMS = 12;

// Images per frame in `mode`; false for a value that is no mode.
bool imagesPerFrame(ozr::AcquisitionMode mode, size_t& count);

// True for a control value that names a mode.
bool isMode(int32_t value);

// Reads the next image of `format`'s size from `device` into `image`, waiting
// at most `timeoutMs`. 0, or the logged negative status.
int readImage(VideoDeviceIF& device, const ozr::VideoFormat& format, size_t timeoutMs,
              std::shared_ptr<Image<uint16_t>>& image);

// Publishes `image` on `out`. 0, or the logged nonzero status.
int publish(Source<Image<uint16_t>>& out, std::shared_ptr<Image<uint16_t>>&& image);

// Names `stage` after `pattern` ("Shift Stage %d") filled with `index`.
inline void nameStage(StageBase& stage, const char* pattern, size_t index) {
    char name[StageBase::NAME_LENGTH];
    std::snprintf(name, sizeof(name), pattern, static_cast<int>(index));
    stage.setName(name);
}

}  // namespace sensor_source
