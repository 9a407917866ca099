// Sensor source of the OZR320. Each raw image is shifted into range and
// published as it is; in HDR the driver delivers the twelve images of the
// three exposures itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "kyr/sources/ozrSensorSourceBase.h"

class OZR320Source : public OZRSensorSourceBase {
public:
    // Milliseconds to wait for each image.
    static constexpr size_t TIMEOUT_MS = 1000;

    // Takes ownership of both devices; raw samples are shifted right by
    // `shiftBits`. Starts in DIST_AMP.
    OZR320Source(std::unique_ptr<VideoDeviceIF> videoDev, std::unique_ptr<TempSensorIF> tempDev,
                 uint8_t shiftBits);

protected:
    Source<Image<uint16_t>>& publishedOutput(size_t index) override { return shifts[index]; }
    size_t imageTimeoutMs() const override { return TIMEOUT_MS; }
};
