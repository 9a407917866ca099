#include "kyr/sources/ozr310Source.h"

#include <utility>

#include "kyr/platform.h"
#include "sensorSourceCommon.h"

OZR310Source::OZR310Source(std::unique_ptr<VideoDeviceIF> video,
                           std::unique_ptr<TempSensorIF> temperature, uint8_t shiftBits)
    : tempDev(std::move(temperature)), tempSource(tempDev.get()), videoDev(std::move(video)) {
    for (size_t i = 0; i < MAX_STREAMS; ++i) {
        shifts[i].setShiftBits(shiftBits);
        shifts[i].input << out[i];
        splitStack[i].input << shifts[i];
        sensor_source::nameStage(shifts[i], "Shift Stage %d", i);
        sensor_source::nameStage(splitStack[i], "SplitStack Stage %d", i);
    }
    // A device that refuses the mode now is told again at the start of the
    // stream, where a refusal ends the stream.
    (void)setAcquisitionMode(ozr::AcquisitionMode::DIST_AMP);
}

bool OZR310Source::hasVideoDevice() const {
    if (!videoDev) {
        KYR_LOG_ERROR("No video device");
        return false;
    }
    return true;
}

int OZR310Source::setAcquisitionMode(ozr::AcquisitionMode mode) {
    size_t count = 0;
    if (!sensor_source::imagesPerFrame(mode, count)) {
        KYR_LOG_ERROR("Invalid acquisition mode: %d", static_cast<int>(mode));
        return -22;
    }
    if (!hasVideoDevice()) {
        return -22;
    }
    // HDR is made of ordinary four-DCS frames.
    const ozr::AcquisitionMode deviceMode =
        mode == ozr::AcquisitionMode::DIST_AMP_HDR ? ozr::AcquisitionMode::DIST_AMP : mode;
    const int r =
        videoDev->setControl(ozr::ControlID::ACQUISITION_MODE, static_cast<int32_t>(deviceMode));
    if (r < 0) {
        KYR_LOG_ERROR("Failed to set acquisition mode: %d", -r);
        return r;
    }
    nStreams = count;
    currentMode = mode;
    return 0;
}

int OZR310Source::setupStreaming() {
    if (!hasVideoDevice()) {
        return -22;
    }
    int r = videoDev->getFormat(currentFormat);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to get format: %d", -r);
        return r;
    }
    // Logs its own failure.
    const ozr::AcquisitionMode mode = currentMode;
    r = setAcquisitionMode(mode);
    if (r < 0) {
        return r;
    }
    if (mode == ozr::AcquisitionMode::DIST_AMP_HDR) {
        r = videoDev->setControl(ozr::ControlID::EXPOSURE_US, hdrIntTimes[0]);
        if (r < 0) {
            KYR_LOG_ERROR("Failed to set HDR integration time 1: %d", -r);
            return r;
        }
    }
    r = videoDev->setStreaming(true);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to start streaming: %d", -r);
        return r;
    }
    return 0;
}

int OZR310Source::fetchNext() {
    if (!hasVideoDevice()) {
        return -22;
    }
    return videoDev->setControl(ozr::ControlID::TRIGGER_SHUTTER, 1);
}

int OZR310Source::stopStreaming() {
    if (!hasVideoDevice()) {
        return -22;
    }
    return videoDev->setStreaming(false);
}

int OZR310Source::captureNext(bool triggerNext) {
    if (!hasVideoDevice()) {
        return -22;
    }
    int r = tempSource.captureNext();
    if (r < 0) {
        KYR_LOG_ERROR("Failed to capture temperature: %d", -r);
        return r;
    }
    const ozr::AcquisitionMode mode = currentMode;
    if (mode == ozr::AcquisitionMode::DIST_AMP_HDR) {
        return captureHDRFrames(triggerNext);
    }
    size_t count = 0;
    (void)sensor_source::imagesPerFrame(mode, count);
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

int OZR310Source::captureHDRFrames(bool triggerNext) {
    for (size_t k = 0; k < 3; ++k) {
        for (size_t j = 0; j < 4; ++j) {
            std::shared_ptr<Image<uint16_t>> image;
            int r = sensor_source::readImage(*videoDev, currentFormat, TIMEOUT_MS, image);
            if (r < 0) {
                return r;
            }
            r = sensor_source::publish(out[4 * k + j], std::move(image));
            if (r != 0) {
                return r;
            }
        }
        // After the third exposure this restores the first one for the next
        // HDR frame.
        const size_t next = (k + 1) % 3;
        int r = videoDev->setControl(ozr::ControlID::EXPOSURE_US, hdrIntTimes[next]);
        if (r < 0) {
            KYR_LOG_ERROR("Failed to set HDR integration time %zu: %d", next + 1, -r);
            return r;
        }
        if (k == 2 && !triggerNext) {
            return 0;
        }
        r = fetchNext();
        if (r < 0) {
            KYR_LOG_ERROR("Failed to trigger shutter: %d", -r);
            return r;
        }
    }
    return 0;
}

int OZR310Source::setControl(ozr::ControlID id, int32_t value) {
    switch (id) {
        case ozr::ControlID::ACQUISITION_MODE:
            if (!sensor_source::isMode(value)) {
                KYR_LOG_ERROR("Invalid acquisition mode: %d", value);
                return -22;
            }
            return setAcquisitionMode(static_cast<ozr::AcquisitionMode>(value));
        case ozr::ControlID::EXPOSURE_US:
            // In HDR the exposure is switched from the HDR times.
            if (currentMode == ozr::AcquisitionMode::DIST_AMP_HDR) {
                return 0;
            }
            break;
        case ozr::ControlID::HDR_INTEGRATION_TIME1_US:
            hdrIntTimes[0] = value;
            return 0;
        case ozr::ControlID::HDR_INTEGRATION_TIME2_US:
            hdrIntTimes[1] = value;
            return 0;
        case ozr::ControlID::HDR_INTEGRATION_TIME3_US:
            hdrIntTimes[2] = value;
            return 0;
        default:
            break;
    }
    if (!hasVideoDevice()) {
        return -22;
    }
    return videoDev->setControl(id, value);
}

int OZR310Source::getControl(ozr::ControlID id, int& value) {
    if (id == ozr::ControlID::ACQUISITION_MODE) {
        value = static_cast<int>(currentMode.load());
        return 0;
    }
    if (!hasVideoDevice()) {
        return -22;
    }
    return videoDev->getControl(id, value);
}

int OZR310Source::setFormat(const ozr::VideoFormat& format) {
    if (!hasVideoDevice()) {
        return -22;
    }
    return videoDev->setFormat(format);
}

int OZR310Source::getFormat(ozr::VideoFormat& format) {
    if (!hasVideoDevice()) {
        return -22;
    }
    return videoDev->getFormat(format);
}

Source<Image<uint16_t>>* OZR310Source::getDCSSource(size_t index) {
    const ozr::AcquisitionMode mode = currentMode;
    if (index < nStreams && mode != ozr::AcquisitionMode::GRAYSCALE &&
        mode != ozr::AcquisitionMode::TEST_PATTERN) {
        return &splitStack[index];
    }
    KYR_LOG_WARN("Current Mode: %d, Invalid DCS Source Index: %zu", static_cast<int>(mode), index);
    return nullptr;
}

Source<Image<uint16_t>>* OZR310Source::getGrayscaleSource() {
    const ozr::AcquisitionMode mode = currentMode;
    if (mode == ozr::AcquisitionMode::GRAYSCALE || mode == ozr::AcquisitionMode::TEST_PATTERN) {
        return &splitStack[0];
    }
    KYR_LOG_WARN("Current Mode: %d, Grayscale Source not available", static_cast<int>(mode));
    return nullptr;
}

Source<float>* OZR310Source::getTemperatureSource() {
    return &tempSource;
}
