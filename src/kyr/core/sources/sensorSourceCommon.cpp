#include "sensorSourceCommon.h"

#include <cstring>

#include "kyr/platform.h"

namespace sensor_source {

bool imagesPerFrame(ozr::AcquisitionMode mode, size_t& count) {
    switch (mode) {
        case ozr::AcquisitionMode::DIST_AMP:
        case ozr::AcquisitionMode::DCS4:
            count = 4;
            return true;
        case ozr::AcquisitionMode::GRAYSCALE:
        case ozr::AcquisitionMode::TEST_PATTERN:
            count = 1;
            return true;
        case ozr::AcquisitionMode::DIST_AMP_HDR:
            count = 12;
            return true;
    }
    return false;
}

bool isMode(int32_t value) {
    size_t count = 0;
    return value >= 0 && value <= UINT8_MAX &&
           imagesPerFrame(static_cast<ozr::AcquisitionMode>(value), count);
}

int readImage(VideoDeviceIF& device, const ozr::VideoFormat& format, size_t timeoutMs,
              std::shared_ptr<Image<uint16_t>>& image) {
    image = Image<uint16_t>::createNewBuffer(format.width, format.height);
    if (!image) {
        KYR_LOG_ERROR("Failed to get next frame: %d", 12);
        return -12;
    }
    const int r = device.nextFrame(image, timeoutMs);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to get next frame: %d", -r);
        image.reset();
        return r;
    }
    return 0;
}

int publish(Source<Image<uint16_t>>& out, std::shared_ptr<Image<uint16_t>>&& image) {
    const int r = out.fire(std::move(image));
    if (r != 0) {
        KYR_LOG_ERROR("Failed to fire DCS image: %s", std::strerror(r < 0 ? -r : r));
    }
    return r;
}

}  // namespace sensor_source
