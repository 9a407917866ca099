// Sensor source of the OZR320. Each raw image is shifted into range and
// published as it is; in HDR the driver delivers the twelve images of the
// three exposures itself.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/sensorDeviceIF.h"
#include "kyr/source.h"
#include "kyr/sources/ozrSensorSourceIF.h"
#include "kyr/sources/temperatureSource.h"
#include "kyr/stages/shift.h"
#include "kyr/videoDeviceIF.h"

class OZR320Source : public OZRSensorSourceIF {
public:
    // Milliseconds to wait for each image.
    static constexpr size_t TIMEOUT_MS = 1000;
    // Raw outputs: twelve images per frame at most (HDR).
    static constexpr size_t MAX_STREAMS = 12;

    // Takes ownership of both devices; raw samples are shifted right by
    // `shiftBits`. Starts in DIST_AMP.
    OZR320Source(std::unique_ptr<VideoDeviceIF> videoDev, std::unique_ptr<TempSensorIF> tempDev,
                 uint8_t shiftBits);
    ~OZR320Source() override = default;

    int setupStreaming() override;
    int fetchNext() override;
    int captureNext(bool triggerNext) override;
    int stopStreaming() override;

    int setControl(ozr::ControlID id, int32_t value) override;
    int getControl(ozr::ControlID id, int& value) override;
    int setFormat(const ozr::VideoFormat& format) override;
    int getFormat(ozr::VideoFormat& format) override;

    Source<Image<uint16_t>>* getDCSSource(size_t index) override;
    Source<Image<uint16_t>>* getGrayscaleSource() override;
    Source<float>* getTemperatureSource() override;

    // Sets the device's mode and the images per frame. 0, or a negative
    // status with nothing changed.
    int setAcquisitionMode(ozr::AcquisitionMode mode);

private:
    bool hasVideoDevice() const;

    std::unique_ptr<TempSensorIF> tempDev;
    TemperatureSource tempSource;
    std::unique_ptr<VideoDeviceIF> videoDev;
    Shift<uint16_t> shifts[MAX_STREAMS];
    // Mode and image count are set from the application's thread while the
    // streaming thread reads them.
    std::atomic<ozr::AcquisitionMode> currentMode{ozr::AcquisitionMode::DIST_AMP};
    Source<Image<uint16_t>> out[MAX_STREAMS];
    ozr::VideoFormat currentFormat{};
    std::atomic<size_t> nStreams{4};
};
