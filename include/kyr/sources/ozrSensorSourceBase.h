// What the sensor sources of both models share: the two devices, the
// temperature output, one shift stage per raw output, the acquisition mode
// with its image count, and the stream sequence. A model class names the
// output it publishes for each image, the mode its device is told and the
// time-out of an image, and may read some modes in its own way.
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
#include "kyr/stage.h"
#include "kyr/stages/shift.h"
#include "kyr/videoDeviceIF.h"

class OZRSensorSourceBase : public OZRSensorSourceIF {
public:
    // Raw outputs: twelve images per frame at most (HDR).
    static constexpr size_t MAX_STREAMS = 12;

    ~OZRSensorSourceBase() override = default;

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

protected:
    // Takes ownership of both devices; connects shift stage i to raw output i
    // and shifts by `shiftBits`. The model class sets the first mode once its
    // own stages are connected.
    OZRSensorSourceBase(std::unique_ptr<VideoDeviceIF> videoDev,
                        std::unique_ptr<TempSensorIF> tempDev, uint8_t shiftBits);

    // The output that publishes the i-th image of a frame (i < MAX_STREAMS).
    virtual Source<Image<uint16_t>>& publishedOutput(size_t index) = 0;
    // Milliseconds to wait for each image.
    virtual size_t imageTimeoutMs() const = 0;
    // The mode the device is told for `mode`.
    virtual ozr::AcquisitionMode deviceMode(ozr::AcquisitionMode mode) const { return mode; }
    // Step at the start of a stream between setting the mode and starting
    // the device. 0, or the logged negative status.
    virtual int prepareStream(ozr::AcquisitionMode mode);
    // Reads and publishes the images of one frame of `mode`, triggering the
    // following frame when `triggerNext`; by default the frame's images one
    // after the other on outputs 0, 1, ...
    virtual int captureFrame(ozr::AcquisitionMode mode, bool triggerNext);

    // Logs and returns false when the source has no video device.
    bool hasVideoDevice() const;
    // Reads the next image of the current format, waiting at most
    // imageTimeoutMs(). 0, or the logged negative status.
    int readImage(std::shared_ptr<Image<uint16_t>>& image);
    // Publishes `image` on raw output `index`. 0, or the logged nonzero status.
    int publish(size_t index, std::shared_ptr<Image<uint16_t>>&& image);
    // fetchNext() with its failure logged.
    int triggerFollowingFrame();
    // Names `stage` after `pattern` ("Shift Stage %d") filled with `index`.
    static void nameStage(StageBase& stage, const char* pattern, size_t index);

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
