// The video device through which a sensor source reaches the camera.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "ozr/controls.h"
#include "ozr/tofcam.h"

class VideoDeviceIF {
public:
    VideoDeviceIF() = default;
    virtual ~VideoDeviceIF() = default;

    VideoDeviceIF(const VideoDeviceIF&) = delete;
    VideoDeviceIF& operator=(const VideoDeviceIF&) = delete;

    // Device controls; 0 or a negative status.
    virtual int setControl(ozr::ControlID id, int32_t value) = 0;
    virtual int getControl(ozr::ControlID id, int& value) = 0;

    // Frame geometry; 0 or a negative status.
    virtual int setFormat(const ozr::VideoFormat& format) = 0;
    virtual int getFormat(ozr::VideoFormat& format) = 0;

    // Copies the next frame into `image`, which the caller sizes from the
    // current format, waiting at most `timeout_ms`. 0 or a negative status
    // (kyr::status::TIMED_OUT when no frame came in time).
    virtual int nextFrame(std::shared_ptr<Image<uint16_t>>& image, size_t timeout_ms) = 0;

    // Starts or stops streaming; 0 or a negative status.
    virtual int setStreaming(bool on) = 0;
};
