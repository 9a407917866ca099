#include "kyr/sources/ozr310Source.h"

#include <utility>

#include "kyr/platform.h"

OZR310Source::OZR310Source(std::unique_ptr<VideoDeviceIF> video,
                           std::unique_ptr<TempSensorIF> temperature, uint8_t shiftBits)
    : OZRSensorSourceBase(std::move(video), std::move(temperature), shiftBits) {
    for (size_t i = 0; i < MAX_STREAMS; ++i) {
        splitStack[i].input << shifts[i];
        nameStage(splitStack[i], "SplitStack Stage %d", i);
    }
    // A device that refuses the mode now is told again at the start of the
    // stream, where a refusal ends the stream.
    (void)setAcquisitionMode(ozr::AcquisitionMode::DIST_AMP);
}

ozr::AcquisitionMode OZR310Source::deviceMode(ozr::AcquisitionMode mode) const {
    return mode == ozr::AcquisitionMode::DIST_AMP_HDR ? ozr::AcquisitionMode::DIST_AMP : mode;
}

int OZR310Source::prepareStream(ozr::AcquisitionMode mode) {
    if (mode != ozr::AcquisitionMode::DIST_AMP_HDR) {
        return 0;
    }
    const int r = videoDev->setControl(ozr::ControlID::EXPOSURE_US, hdrIntTimes[0]);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to set HDR integration time 1: %d", r);
        return r;
    }
    return 0;
}

int OZR310Source::captureFrame(ozr::AcquisitionMode mode, bool triggerNext) {
    if (mode == ozr::AcquisitionMode::DIST_AMP_HDR) {
        return captureHDRFrames(triggerNext);
    }
    return OZRSensorSourceBase::captureFrame(mode, triggerNext);
}

int OZR310Source::captureHDRFrames(bool triggerNext) {
    for (size_t k = 0; k < 3; ++k) {
        for (size_t j = 0; j < 4; ++j) {
            std::shared_ptr<Image<uint16_t>> image;
            int r = readImage(image);
            if (r < 0) {
                return r;
            }
            r = publish(4 * k + j, std::move(image));
            if (r != 0) {
                return r;
            }
        }
        // After the third exposure this restores the first one for the next
        // HDR frame.
        const size_t next = (k + 1) % 3;
        int r = videoDev->setControl(ozr::ControlID::EXPOSURE_US, hdrIntTimes[next]);
        if (r < 0) {
            KYR_LOG_ERROR("Failed to set HDR integration time %zu: %d", next + 1, r);
            return r;
        }
        if (k == 2 && !triggerNext) {
            return 0;
        }
        r = triggerFollowingFrame();
        if (r < 0) {
            return r;
        }
    }
    return 0;
}

int OZR310Source::setControl(ozr::ControlID id, int32_t value) {
    switch (id) {
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
    return OZRSensorSourceBase::setControl(id, value);
}

int OZR310Source::getControl(ozr::ControlID id, int& value) {
    // The device never sees these times: what it holds is not what the
    // source exposes with.
    switch (id) {
        case ozr::ControlID::HDR_INTEGRATION_TIME1_US:
            value = hdrIntTimes[0];
            return 0;
        case ozr::ControlID::HDR_INTEGRATION_TIME2_US:
            value = hdrIntTimes[1];
            return 0;
        case ozr::ControlID::HDR_INTEGRATION_TIME3_US:
            value = hdrIntTimes[2];
            return 0;
        default:
            return OZRSensorSourceBase::getControl(id, value);
    }
}
