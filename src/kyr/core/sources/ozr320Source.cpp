#include "kyr/sources/ozr320Source.h"

#include <utility>

#include "kyr/platform.h"
#include "sensorSourceCommon.h"

OZR320Source::OZR320Source(std::unique_ptr<VideoDeviceIF> video,
                           std::unique_ptr<TempSensorIF> temperature, uint8_t shiftBits)
    : tempDev(std::move(temperature)), tempSource(tempDev.get()), videoDev(std::move(video)) {
    for (size_t i = 0; i < MAX_STREAMS; ++i) {
        shifts[i].setShiftBits(shiftBits);
        shifts[i].input << out[i];
        sensor_source::nameStage(shifts[i], "Shift Stage %d", i);
    }
    // A device that refuses the mode now is told again at the start of the
    // stream, where a refusal ends the stream.
    (void)setAcquisitionMode(ozr::AcquisitionMode::DIST_AMP);
}

bool OZR320Source::hasVideoDevice() const {
    if (!videoDev) {
        KYR_LOG_ERROR("No video device");
        return false;
    }
    return true;
}

int OZR320Source::setAcquisitionMode(ozr::AcquisitionMode mode) {
    size_t count = 0;
    if (!sensor_source::imagesPerFrame(mode, count)) {
        KYR_LOG_ERROR("Invalid acquisition mode: %d", static_cast<int>(mode));
        return -22;
    }
    if (!hasVideoDevice()) {
        return -22;
    }
    const int r =
        videoDev->setControl(ozr::ControlID::ACQUISITION_MODE, static_cast<int32_t>(mode));
    if (r < 0) {
        KYR_LOG_ERROR("Failed to set acquisition mode: %d", -r);
        return r;
    }
    nStreams = count;
    currentMode = mode;
    return 0;
}

int OZR320Source::setupStreaming() {
    if (!hasVideoDevice()) {
        return -22;
    }
    int r = videoDev->getFormat(currentFormat);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to get format: %d", -r);
        return r;
    }
    // Logs its own failure.
    r = setAcquisitionMode(currentMode);
    if (r < 0) {
        return r;
    }
    r = videoDev->setStreaming(true);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to start streaming: %d", -r);
        return r;
    }
    return 0;
}

int OZR320Source::fetchNext() {
    if (!hasVideoDevice()) {
        return -22;
    }
    return videoDev->setControl(ozr::ControlID::TRIGGER_SHUTTER, 1);
}

int OZR320Source::stopStreaming() {
    if (!hasVideoDevice()) {
        return -22;
    }
    return videoDev->setStreaming(false);
}

int OZR320Source::captureNext(bool triggerNext) {
    if (!hasVideoDevice()) {
        return -22;
    }
    int r = tempSource.captureNext();
    if (r < 0) {
        KYR_LOG_ERROR("Failed to capture temperature: %d", -r);
        return r;
    }
    size_t count = 0;
    (void)sensor_source::imagesPerFrame(currentMode, count);
    for (size_t i = 0; i < count; ++i) {
        std::shared_ptr<Image<uint16_t>> image;
        r = sensor_source::readImage(*videoDev, currentFormat, TIMEOUT_MS, image);
        if (r < 0) {
            return r;
        }
        // The sensor acquires the next frame while this one is processed.
        if (triggerNext && i + 1 == count) {
            r = fetchNext();
            if (r < 0) {
                KYR_LOG_ERROR("Failed to trigger shutter: %d", -r);
                return r;
            }
        }
        r = sensor_source::publish(out[i], std::move(image));
        if (r != 0) {
            return r;
        }
    }
    return 0;
}

int OZR320Source::setControl(ozr::ControlID id, int32_t value) {
    if (id == ozr::ControlID::ACQUISITION_MODE) {
        if (!sensor_source::isMode(value)) {
            KYR_LOG_ERROR("Invalid acquisition mode: %d", value);
            return -22;
        }
        return setAcquisitionMode(static_cast<ozr::AcquisitionMode>(value));
    }
    // The HDR times and the exposure go to the driver, which applies them.
    if (!hasVideoDevice()) {
        return -22;
    }
    return videoDev->setControl(id, value);
}

int OZR320Source::getControl(ozr::ControlID id, int& value) {
    if (id == ozr::ControlID::ACQUISITION_MODE) {
        value = static_cast<int>(currentMode.load());
        return 0;
    }
    if (!hasVideoDevice()) {
        return -22;
    }
    return videoDev->getControl(id, value);
}

int OZR320Source::setFormat(const ozr::VideoFormat& format) {
    if (!hasVideoDevice()) {
        return -22;
    }
    return videoDev->setFormat(format);
}

int OZR320Source::getFormat(ozr::VideoFormat& format) {
    if (!hasVideoDevice()) {
        return -22;
    }
    return videoDev->getFormat(format);
}

Source<Image<uint16_t>>* OZR320Source::getDCSSource(size_t index) {
    const ozr::AcquisitionMode mode = currentMode;
    if (index < nStreams && mode != ozr::AcquisitionMode::GRAYSCALE &&
        mode != ozr::AcquisitionMode::TEST_PATTERN) {
        return &shifts[index];
    }
    KYR_LOG_WARN("Current Mode: %d, Invalid DCS Source Index: %zu", static_cast<int>(mode), index);
    return nullptr;
}

Source<Image<uint16_t>>* OZR320Source::getGrayscaleSource() {
    const ozr::AcquisitionMode mode = currentMode;
    if (mode == ozr::AcquisitionMode::GRAYSCALE || mode == ozr::AcquisitionMode::TEST_PATTERN) {
        return &shifts[0];
    }
    KYR_LOG_WARN("Current Mode: %d, Grayscale Source not available", static_cast<int>(mode));
    return nullptr;
}

Source<float>* OZR320Source::getTemperatureSource() {
    return &tempSource;
}
