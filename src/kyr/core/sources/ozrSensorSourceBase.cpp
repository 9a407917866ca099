#include "kyr/sources/ozrSensorSourceBase.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "kyr/platform.h"
#include "kyr/status.h"

namespace {

// Images per frame in `mode`; false for a value that is no mode.
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

// True for a control value that names a mode.
bool isMode(int32_t value) {
    size_t count = 0;
    return value >= 0 && value <= UINT8_MAX &&
           imagesPerFrame(static_cast<ozr::AcquisitionMode>(value), count);
}

}  // namespace

OZRSensorSourceBase::OZRSensorSourceBase(std::unique_ptr<VideoDeviceIF> video,
                                         std::unique_ptr<TempSensorIF> temperature,
                                         uint8_t shiftBits)
    : tempDev(std::move(temperature)), tempSource(tempDev.get()), videoDev(std::move(video)) {
    for (size_t i = 0; i < MAX_STREAMS; ++i) {
        shifts[i].setShiftBits(shiftBits);
        shifts[i].input << out[i];
        nameStage(shifts[i], "Shift Stage %d", i);
    }
}

void OZRSensorSourceBase::nameStage(StageBase& stage, const char* pattern, size_t index) {
    char name[StageBase::NAME_LENGTH];
    std::snprintf(name, sizeof(name), pattern, static_cast<int>(index));
    stage.setName(name);
}

bool OZRSensorSourceBase::hasVideoDevice() const {
    if (!videoDev) {
        KYR_LOG_ERROR("No video device");
        return false;
    }
    return true;
}

int OZRSensorSourceBase::setAcquisitionMode(ozr::AcquisitionMode mode) {
    size_t count = 0;
    if (!imagesPerFrame(mode, count)) {
        KYR_LOG_ERROR("Invalid acquisition mode: %d", static_cast<int>(mode));
        return kyr::status::INVALID_ARGUMENT;
    }
    if (!hasVideoDevice()) {
        return kyr::status::INVALID_ARGUMENT;
    }
    const int r = videoDev->setControl(ozr::ControlID::ACQUISITION_MODE,
                                       static_cast<int32_t>(deviceMode(mode)));
    if (r < 0) {
        KYR_LOG_ERROR("Failed to set acquisition mode: %d", r);
        return r;
    }
    nStreams = count;
    currentMode = mode;
    return 0;
}

int OZRSensorSourceBase::setupStreaming() {
    if (!hasVideoDevice()) {
        return kyr::status::INVALID_ARGUMENT;
    }
    int r = videoDev->getFormat(currentFormat);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to get format: %d", r);
        return r;
    }
    // Logs its own failure.
    const ozr::AcquisitionMode mode = currentMode;
    r = setAcquisitionMode(mode);
    if (r < 0) {
        return r;
    }
    r = prepareStream(mode);
    if (r < 0) {
        return r;
    }
    r = videoDev->setStreaming(true);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to start streaming: %d", r);
        return r;
    }
    return 0;
}

int OZRSensorSourceBase::prepareStream(ozr::AcquisitionMode /*mode*/) {
    return 0;
}

int OZRSensorSourceBase::fetchNext() {
    if (!hasVideoDevice()) {
        return kyr::status::INVALID_ARGUMENT;
    }
    return videoDev->setControl(ozr::ControlID::TRIGGER_SHUTTER, 1);
}

int OZRSensorSourceBase::triggerFollowingFrame() {
    const int r = fetchNext();
    if (r < 0) {
        KYR_LOG_ERROR("Failed to trigger shutter: %d", r);
    }
    return r;
}

int OZRSensorSourceBase::stopStreaming() {
    if (!hasVideoDevice()) {
        return kyr::status::INVALID_ARGUMENT;
    }
    return videoDev->setStreaming(false);
}

int OZRSensorSourceBase::readImage(std::shared_ptr<Image<uint16_t>>& image) {
    image = Image<uint16_t>::createNewBuffer(currentFormat.width, currentFormat.height);
    if (!image) {
        KYR_LOG_ERROR("Failed to get next frame: %d", kyr::status::NO_MEMORY);
        return kyr::status::NO_MEMORY;
    }
    const int r = videoDev->nextFrame(image, imageTimeoutMs());
    if (r < 0) {
        KYR_LOG_ERROR("Failed to get next frame: %d", r);
        image.reset();
        return r;
    }
    return 0;
}

int OZRSensorSourceBase::publish(size_t index, std::shared_ptr<Image<uint16_t>>&& image) {
    const int r = out[index].fire(std::move(image));
    if (r != 0) {
        KYR_LOG_ERROR("Failed to fire DCS image: %s", kyr::status::text(r));
    }
    return r;
}

int OZRSensorSourceBase::captureNext(bool triggerNext) {
    if (!hasVideoDevice()) {
        return kyr::status::INVALID_ARGUMENT;
    }
    const int r = tempSource.captureNext();
    if (r < 0) {
        KYR_LOG_ERROR("Failed to capture temperature: %d", r);
        return r;
    }
    return captureFrame(currentMode, triggerNext);
}

int OZRSensorSourceBase::captureFrame(ozr::AcquisitionMode mode, bool triggerNext) {
    size_t count = 0;
    (void)imagesPerFrame(mode, count);
    for (size_t i = 0; i < count; ++i) {
        std::shared_ptr<Image<uint16_t>> image;
        int r = readImage(image);
        if (r < 0) {
            return r;
        }
        // The sensor acquires the next frame while this one is processed.
        if (triggerNext && i + 1 == count) {
            r = triggerFollowingFrame();
            if (r < 0) {
                return r;
            }
        }
        r = publish(i, std::move(image));
        if (r != 0) {
            return r;
        }
    }
    return 0;
}

int OZRSensorSourceBase::setControl(ozr::ControlID id, int32_t value) {
    if (id == ozr::ControlID::ACQUISITION_MODE) {
        if (!isMode(value)) {
            KYR_LOG_ERROR("Invalid acquisition mode: %d", value);
            return kyr::status::INVALID_ARGUMENT;
        }
        return setAcquisitionMode(static_cast<ozr::AcquisitionMode>(value));
    }
    if (!hasVideoDevice()) {
        return kyr::status::INVALID_ARGUMENT;
    }
    return videoDev->setControl(id, value);
}

int OZRSensorSourceBase::getControl(ozr::ControlID id, int& value) {
    if (id == ozr::ControlID::ACQUISITION_MODE) {
        value = static_cast<int>(currentMode.load());
        return 0;
    }
    if (!hasVideoDevice()) {
        return kyr::status::INVALID_ARGUMENT;
    }
    return videoDev->getControl(id, value);
}

int OZRSensorSourceBase::setFormat(const ozr::VideoFormat& format) {
    if (!hasVideoDevice()) {
        return kyr::status::INVALID_ARGUMENT;
    }
    return videoDev->setFormat(format);
}

int OZRSensorSourceBase::getFormat(ozr::VideoFormat& format) {
    if (!hasVideoDevice()) {
        return kyr::status::INVALID_ARGUMENT;
    }
    return videoDev->getFormat(format);
}

Source<Image<uint16_t>>* OZRSensorSourceBase::getDCSSource(size_t index) {
    const ozr::AcquisitionMode mode = currentMode;
    if (index < nStreams && mode != ozr::AcquisitionMode::GRAYSCALE &&
        mode != ozr::AcquisitionMode::TEST_PATTERN) {
        return &publishedOutput(index);
    }
    KYR_LOG_WARN("Current Mode: %d, Invalid DCS Source Index: %zu", static_cast<int>(mode), index);
    return nullptr;
}

Source<Image<uint16_t>>* OZRSensorSourceBase::getGrayscaleSource() {
    const ozr::AcquisitionMode mode = currentMode;
    if (mode == ozr::AcquisitionMode::GRAYSCALE || mode == ozr::AcquisitionMode::TEST_PATTERN) {
        return &publishedOutput(0);
    }
    KYR_LOG_WARN("Current Mode: %d, Grayscale Source not available", static_cast<int>(mode));
    return nullptr;
}

Source<float>* OZRSensorSourceBase::getTemperatureSource() {
    return &tempSource;
}
