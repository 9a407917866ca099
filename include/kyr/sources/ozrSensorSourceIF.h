// A sensor source turns the video device of one sensor model into dataflow
// sources: raw DCS images, a grayscale image and the sensor temperature.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kyr/image.h"
#include "kyr/sensors/ozrDriver.h"
#include "kyr/source.h"
#include "ozr/controls.h"
#include "ozr/tofcam.h"

class OZRSensorSourceIF {
public:
    OZRSensorSourceIF() = default;
    virtual ~OZRSensorSourceIF() = default;

    OZRSensorSourceIF(const OZRSensorSourceIF&) = delete;
    OZRSensorSourceIF& operator=(const OZRSensorSourceIF&) = delete;

    // Start of a stream: reads the format, sets the mode, starts the device.
    virtual int setupStreaming() = 0;
    // Triggers the acquisition of the next frame.
    virtual int fetchNext() = 0;
    // Publishes the temperature and every image of the triggered frame;
    // with `triggerNext` the following frame is triggered once this one has
    // been read.
    virtual int captureNext(bool triggerNext) = 0;
    // End of a stream: stops the device.
    virtual int stopStreaming() = 0;

    virtual int setControl(ozr::ControlID id, int32_t value) = 0;
    virtual int getControl(ozr::ControlID id, int& value) = 0;
    virtual int setFormat(const ozr::VideoFormat& format) = 0;
    virtual int getFormat(ozr::VideoFormat& format) = 0;

    // Outputs of the current mode; null (with a warning) when the mode has
    // no such output.
    virtual Source<Image<uint16_t>>* getDCSSource(size_t index) = 0;
    virtual Source<Image<uint16_t>>* getGrayscaleSource() = 0;
    virtual Source<float>* getTemperatureSource() = 0;
};

// Fixed device paths and settings of one sensor model. The camera tells the
// models apart by which of the two instances it holds.
struct OZRSensorConfig {
    const char* videoPath;          // video capture node
    const char* tempPath;           // hwmon label of the temperature channel
    const char* subdevPath;         // sub-device node
    const char* driverVersionPath;  // version file of the kernel driver
    const size_t nVideoBuffers;     // streaming buffers to request
};

inline constexpr OZRSensorConfig ozr310Paths{
    kyr::platform::OZR310_DEVICE.videoPath,
    kyr::platform::OZR310_DEVICE.hwmonLabel,
    kyr::platform::OZR310_DEVICE.subdevPath,
    kyr::platform::OZR310_DEVICE.driverVersionPath,
    4,
};

inline constexpr OZRSensorConfig ozr320Paths{
    kyr::platform::OZR320_DEVICE.videoPath,
    kyr::platform::OZR320_DEVICE.hwmonLabel,
    kyr::platform::OZR320_DEVICE.subdevPath,
    kyr::platform::OZR320_DEVICE.driverVersionPath,
    12,
};
