#include "kyr/sensors/v4l2Sensor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "kyr/platform.h"
#include "kyr/status.h"

namespace {

// An ioctl that is restarted when a signal interrupts it.
// A request, repeated when a signal interrupts it: 0, or the negated errno of
// the failure (errno keeps it as well, for the message).
int xioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r == -1 && errno == EINTR);
    return r < 0 ? -errno : 0;
}

}  // namespace

const std::map<ozr::ControlID, uint32_t> V4l2Sensor::controlIdMap = {
    {ozr::ControlID::GAIN, OZR_CID_GAIN},
    {ozr::ControlID::EXPOSURE_US, OZR_CID_EXPOSURE_US},
    {ozr::ControlID::TRIGGER_SHUTTER, OZR_CID_TRIGGER_SHUTTER},
    {ozr::ControlID::ACQUISITION_MODE, OZR_CID_ACQUISITION_MODE},
    {ozr::ControlID::MODULATION_FREQ_HZ, OZR_CID_MODULATION_FREQ_HZ},
    {ozr::ControlID::HDR_INTEGRATION_TIME1_US, OZR_CID_HDR_INTEGRATION_TIME1_US},
    {ozr::ControlID::HDR_INTEGRATION_TIME2_US, OZR_CID_HDR_INTEGRATION_TIME2_US},
    {ozr::ControlID::HDR_INTEGRATION_TIME3_US, OZR_CID_HDR_INTEGRATION_TIME3_US},
    {ozr::ControlID::LED_DELAY_STEP, OZR_CID_LED_DELAY_STEP},
};

const std::map<ozr::AcquisitionMode, ozr_dev_acquisition_type> V4l2Sensor::acquisitionModeMap = {
    {ozr::AcquisitionMode::DIST_AMP, OZR_ACQUISITION_TYPE_4DCS},
    {ozr::AcquisitionMode::GRAYSCALE, OZR_ACQUISITION_TYPE_GRAYSCALE},
    {ozr::AcquisitionMode::DIST_AMP_HDR, OZR_ACQUISITION_TYPE_HDR},
    {ozr::AcquisitionMode::DCS4, OZR_ACQUISITION_TYPE_4DCS},
};

std::unique_ptr<V4l2Sensor> V4l2Sensor::acquire(std::string videoPath, std::string subdevPath,
                                                size_t nBuffers) {
    auto sensor = std::make_unique<V4l2Sensor>(std::move(videoPath), std::move(subdevPath));
    int r = sensor->open();
    if (r < 0) {
        KYR_LOG_ERROR("Failed to open sensor device: %s", kyr::status::text(r));
        return nullptr;
    }
    r = sensor->initialize(nBuffers);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to initialize sensor device: %s", kyr::status::text(r));
        return nullptr;
    }
    return sensor;
}

V4l2Sensor::V4l2Sensor(std::string videoPath, std::string subdevPath)
    : videoDevPath(std::move(videoPath)), videoSubDevPath(std::move(subdevPath)) {}

V4l2Sensor::~V4l2Sensor() {
    (void)close();
}

int V4l2Sensor::open() {
    if (isOpen) {
        return 0;
    }
    fdVideoDev = ::open(videoDevPath.c_str(), O_RDWR | O_CLOEXEC);
    fdVideoSubdev = ::open(videoSubDevPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fdVideoDev < 0 || fdVideoSubdev < 0) {
        KYR_LOG_ERROR("Failed to open video device or subdevice");
        // Half an open device is no device: let go of the node that did open.
        for (int* fd : {&fdVideoDev, &fdVideoSubdev}) {
            if (*fd >= 0) {
                ::close(*fd);
            }
            *fd = -1;
        }
        return kyr::status::DEVICE_ERROR;
    }
    isOpen = true;
    return 0;
}

int V4l2Sensor::close() {
    if (!isOpen) {
        return kyr::status::ALREADY_CLOSED;
    }
    for (int* fd : {&fdVideoDev, &fdVideoSubdev}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    cleanupBuffers();
    isOpen = false;
    return 0;
}

int V4l2Sensor::initialize(size_t nBuffers) {
    if (!isOpen && open() < 0) {
        KYR_LOG_ERROR("Failed to open devices during initialization");
        return kyr::status::DEVICE_ERROR;
    }
    int r = setControl(ozr::ControlID::ACQUISITION_MODE,
                       static_cast<int32_t>(ozr::AcquisitionMode::DIST_AMP));
    if (r < 0) {
        KYR_LOG_ERROR("Failed to set acquisition mode: %s", kyr::status::text(r));
        return r;
    }
    // Drivers refuse a format change while buffers exist: release those of
    // an earlier initialisation first.
    cleanupBuffers();
    bufferList.clear();
    ozr::VideoFormat format{};
    r = getFormat(format);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to get format: %s", kyr::status::text(r));
        return r;
    }
    KYR_LOG_INFO("Current format: width=%u, height=%u, pitch=%u", format.width, format.height,
                 format.pitch);
    r = setFormat(format);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to set format: %s", kyr::status::text(r));
        return r;
    }
    r = prepareBuffers(nBuffers);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to prepare buffers: %s", kyr::status::text(r));
        return r;
    }
    return 0;
}

int V4l2Sensor::prepareBuffers(size_t n) {
    if (n > MAX_BUFFERS) {
        KYR_LOG_ERROR("Invalid number of buffers: %zu (at most %zu)", n, MAX_BUFFERS);
        return kyr::status::INVALID_ARGUMENT;
    }
    cleanupBuffers();
    bufferList.assign(n, Buffers{});

    v4l2_requestbuffers req{};
    req.count = static_cast<uint32_t>(n);
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (const int r = xioctl(fdVideoDev, VIDIOC_REQBUFS, &req); r < 0) {
        KYR_LOG_ERROR("Failed to request buffers: %s", kyr::status::text(r));
        return r;
    }
    if (n == 0) {
        return 0;
    }
    for (size_t i = 0; i < n; ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = static_cast<uint32_t>(i);
        if (const int r = xioctl(fdVideoDev, VIDIOC_QUERYBUF, &buf); r < 0) {
            KYR_LOG_ERROR("Failed to query buffer %d: %s", static_cast<int>(i),
                          kyr::status::text(r));
            return r;
        }
        void* start = ::mmap(nullptr, buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, fdVideoDev,
                             static_cast<off_t>(buf.m.offset));
        if (start == MAP_FAILED) {
            const int err = errno;
            KYR_LOG_ERROR("Failed to mmap buffer %d: %s", static_cast<int>(i),
                          kyr::status::text(err));
            return -err;
        }
        bufferList[i].start = start;
        bufferList[i].length = buf.length;
    }
    return 0;
}

void V4l2Sensor::cleanupBuffers() {
    for (Buffers& b : bufferList) {
        if (b.start != nullptr && b.start != MAP_FAILED) {
            ::munmap(b.start, b.length);
        }
        b = Buffers{};
    }
    if (!bufferList.empty() && fdVideoDev >= 0) {
        v4l2_requestbuffers req{};
        req.count = 0;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        if (xioctl(fdVideoDev, VIDIOC_REQBUFS, &req) < 0) {
            KYR_LOG_ERROR("Failed to release buffers: %s", kyr::status::text(errno));
        }
    }
}

int V4l2Sensor::queueAllBuffers() {
    for (size_t i = 0; i < bufferList.size(); ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = static_cast<uint32_t>(i);
        const int r = xioctl(fdVideoDev, VIDIOC_QBUF, &buf);
        if (r < 0) {
            KYR_LOG_ERROR("Failed to queue buffer %d: %s", static_cast<int>(i),
                          kyr::status::text(errno));
            return r;
        }
    }
    return 0;
}

int V4l2Sensor::setStreaming(bool on) {
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (on) {
        int r = queueAllBuffers();
        if (r < 0) {
            KYR_LOG_ERROR("Failed to queue buffers before starting stream: %s",
                          kyr::status::text(r));
            return r;
        }
        r = xioctl(fdVideoDev, VIDIOC_STREAMON, &type);
        if (r < 0) {
            KYR_LOG_ERROR("Failed to start streaming: %s", kyr::status::text(errno));
            return r;
        }
    } else {
        const int r = xioctl(fdVideoDev, VIDIOC_STREAMOFF, &type);
        if (r < 0) {
            KYR_LOG_ERROR("Failed to stop streaming: %s", kyr::status::text(errno));
            return r;
        }
    }
    return 0;
}

int V4l2Sensor::dequeueBuffer(v4l2_buffer& buffer, uint32_t timeout_ms) {
    pollfd pfd{};
    pfd.fd = fdVideoDev;
    pfd.events = POLLIN;
    const int timeout = static_cast<int>(std::min<uint32_t>(timeout_ms, INT_MAX));
    if (::poll(&pfd, 1, timeout) < 1) {
        return kyr::status::TIMED_OUT;
    }
    if ((pfd.revents & POLLIN) == 0) {
        return kyr::status::BUSY;
    }
    buffer = v4l2_buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    const int r = xioctl(fdVideoDev, VIDIOC_DQBUF, &buffer);
    if (r == 0) {
        return 0;
    }
    if (errno == EAGAIN) {
        KYR_LOG_ERROR("No buffer available to dequeue (EAGAIN)");
    } else {
        KYR_LOG_ERROR("Failed to dequeue buffer: %d", r);
    }
    return r;
}

int V4l2Sensor::enqueueBuffer(v4l2_buffer& buffer) {
    const int r = xioctl(fdVideoDev, VIDIOC_QBUF, &buffer);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to enqueue buffer: %s", kyr::status::text(errno));
        return r;
    }
    return 0;
}

int V4l2Sensor::nextFrame(std::shared_ptr<Image<uint16_t>>& image, size_t timeout_ms) {
    if (!image) {
        return kyr::status::INVALID_ARGUMENT;
    }
    v4l2_buffer buffer{};
    int r = dequeueBuffer(buffer, static_cast<uint32_t>(std::min<size_t>(timeout_ms, UINT32_MAX)));
    if (r < 0) {
        KYR_LOG_ERROR("Failed to dequeue buffer: %d", r);
        return r;
    }

    // Only a frame that fills the image exactly is taken: a longer one would
    // run past the image, a shorter one would leave part of it undefined.
    int status = 0;
    if (buffer.index >= bufferList.size() || bufferList[buffer.index].start == nullptr) {
        KYR_LOG_ERROR("Driver returned buffer %u, but only %zu buffers are mapped", buffer.index,
                      bufferList.size());
        status = kyr::status::INVALID_ARGUMENT;
    } else if (buffer.bytesused != image->size() ||
               buffer.bytesused > bufferList[buffer.index].length) {
        KYR_LOG_ERROR("Frame of %u bytes does not fit an image of %zu bytes; frame dropped",
                      buffer.bytesused, image->size());
        status = kyr::status::INVALID_ARGUMENT;
    } else if (buffer.bytesused != 0) {
        std::memcpy(image->getData(), bufferList[buffer.index].start, buffer.bytesused);
    }

    r = enqueueBuffer(buffer);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to enqueue buffer: %d", r);
        return r;
    }
    return status;
}

int V4l2Sensor::getFormat(ozr::VideoFormat& format) {
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    const int r = xioctl(fdVideoDev, VIDIOC_G_FMT, &fmt);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to get format: %s", kyr::status::text(errno));
        return r;
    }
    format.width = fmt.fmt.pix.width;
    format.height = fmt.fmt.pix.height;
    format.pitch = fmt.fmt.pix.bytesperline;
    return 0;
}

int V4l2Sensor::setFormat(const ozr::VideoFormat& format) {
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    int r = xioctl(fdVideoDev, VIDIOC_G_FMT, &fmt);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to get format: %s", kyr::status::text(errno));
        return r;
    }
    fmt.fmt.pix.width = format.width;
    fmt.fmt.pix.height = format.height;
    fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_Y16;
    r = xioctl(fdVideoDev, VIDIOC_S_FMT, &fmt);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to set format: %s", kyr::status::text(errno));
        return r;
    }
    return 0;
}

int V4l2Sensor::getControl(ozr::ControlID id, int& value) {
    const auto entry = controlIdMap.find(id);
    if (entry == controlIdMap.end()) {
        KYR_LOG_ERROR("Invalid control ID: %d", static_cast<int>(id));
        return kyr::status::INVALID_ARGUMENT;
    }
    v4l2_control ctrl{};
    ctrl.id = entry->second;
    const int r = xioctl(fdVideoSubdev, VIDIOC_G_CTRL, &ctrl);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to get control %d: %s", static_cast<int>(id),
                      kyr::status::text(errno));
        return r;
    }
    if (id != ozr::ControlID::ACQUISITION_MODE) {
        value = ctrl.value;
        return 0;
    }
    // The map is ordered by mode, so the first match is the lowest mode:
    // driver value 0 reads back as DIST_AMP, not DCS4.
    for (const auto& [mode, type] : acquisitionModeMap) {
        if (type == ctrl.value) {
            value = static_cast<int>(mode);
            return 0;
        }
    }
    KYR_LOG_ERROR("Unknown acquisition type %d reported by the driver", ctrl.value);
    return kyr::status::INVALID_ARGUMENT;
}

int V4l2Sensor::setControl(ozr::ControlID id, int32_t value) {
    const auto entry = controlIdMap.find(id);
    if (entry == controlIdMap.end()) {
        return kyr::status::INVALID_ARGUMENT;
    }
    if (id == ozr::ControlID::ACQUISITION_MODE) {
        const auto mode = (value >= 0 && value <= UINT8_MAX)
                              ? acquisitionModeMap.find(static_cast<ozr::AcquisitionMode>(value))
                              : acquisitionModeMap.end();
        if (mode == acquisitionModeMap.end()) {
            KYR_LOG_ERROR("Acquisition mode %d is not supported by the device", value);
            return kyr::status::INVALID_ARGUMENT;
        }
        value = mode->second;
    }
    v4l2_control ctrl{};
    ctrl.id = entry->second;
    ctrl.value = value;
    const int r = xioctl(fdVideoSubdev, VIDIOC_S_CTRL, &ctrl);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to set control %d: %s", static_cast<int>(id), kyr::status::text(r));
        // A value the driver refuses (out of its range, or not one it takes)
        // is a refused device control; other failures keep their errno.
        return r == -ERANGE ? kyr::status::INVALID_ARGUMENT : r;
    }
    return 0;
}
