// The camera's Video4Linux2 device: a capture node delivering frames through
// memory-mapped streaming buffers, and a sub-device node taking the sensor
// controls.
#pragma once

#include <linux/videodev2.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kyr/sensors/ozrDriver.h"
#include "kyr/videoDeviceIF.h"

class V4l2Sensor : public VideoDeviceIF {
public:
    // One memory-mapped driver buffer.
    struct Buffers {
        void* start = nullptr;  // null when unmapped
        size_t length = 0;      // bytes mapped
    };

    // Most streaming buffers the device takes.
    static constexpr size_t MAX_BUFFERS = VIDEO_MAX_FRAME;

    // Control -> driver control identifier. Controls not listed are not
    // device controls.
    static const std::map<ozr::ControlID, uint32_t> controlIdMap;
    // Mode -> value of the driver's acquisition mode control.
    static const std::map<ozr::AcquisitionMode, ozr_dev_acquisition_type> acquisitionModeMap;

    // Opens and initialises a device with `nBuffers` streaming buffers;
    // null (logged) on failure.
    static std::unique_ptr<V4l2Sensor> acquire(std::string videoPath, std::string subdevPath,
                                               size_t nBuffers);

    V4l2Sensor(std::string videoPath, std::string subdevPath);
    ~V4l2Sensor() override;

    // Opens both nodes: 0, or kyr::status::DEVICE_ERROR (logged) when either
    // fails; then neither stays open. Opening an open device does nothing.
    int open();
    // Closes both nodes and unmaps the buffers: 0, or
    // kyr::status::ALREADY_CLOSED when closed.
    int close();
    bool isOpened() const { return isOpen; }

    // Sets the default acquisition mode and the 16-bit pixel format for the
    // current size, and maps `nBuffers` buffers. 0 or a negative status.
    int initialize(size_t nBuffers);
    // Requests and maps `n` buffers (0 releases them). 0 or a negative status.
    int prepareBuffers(size_t n);
    // Unmaps the buffers and releases them in the driver.
    void cleanupBuffers();
    size_t bufferCount() const { return bufferList.size(); }

    // Hands every buffer to the driver. 0 or the first failing result.
    int queueAllBuffers();
    // Waits up to `timeout_ms` for a filled buffer and takes it: 0,
    // kyr::status::TIMED_OUT on time-out, kyr::status::BUSY when the node is
    // not readable, or the failing result.
    int dequeueBuffer(v4l2_buffer& buffer, uint32_t timeout_ms);
    // Gives a dequeued buffer back to the driver. 0 or the failing result.
    int enqueueBuffer(v4l2_buffer& buffer);

    int setControl(ozr::ControlID id, int32_t value) override;
    int getControl(ozr::ControlID id, int& value) override;
    int setFormat(const ozr::VideoFormat& format) override;
    int getFormat(ozr::VideoFormat& format) override;
    // Copies the next frame into `image`. A frame whose size differs from the
    // image's is refused with kyr::status::INVALID_ARGUMENT (the driver buffer
    // is queued again).
    int nextFrame(std::shared_ptr<Image<uint16_t>>& image, size_t timeout_ms) override;
    int setStreaming(bool on) override;

private:
    std::string videoDevPath;
    std::string videoSubDevPath;
    int fdVideoDev = -1;
    int fdVideoSubdev = -1;
    bool isOpen = false;
    std::vector<Buffers> bufferList;
};
