#include "kyr/ozrSensorPipeline.h"

#include "kyr/platform.h"
#include "kyr/sources/ozrSensorSourceIF.h"
#include "kyr/status.h"

OZRSensorPipeline::~OZRSensorPipeline() {
    // Concrete pipelines stop in their own destructors; this only catches a
    // stream still running in one that does not.
    stopStream(true);
}

int OZRSensorPipeline::setFormat(const ozr::VideoFormat& format) {
    return sensorSource == nullptr ? kyr::status::INVALID_ARGUMENT
                                   : sensorSource->setFormat(format);
}

int OZRSensorPipeline::getFormat(ozr::VideoFormat& format) {
    return sensorSource == nullptr ? kyr::status::INVALID_ARGUMENT
                                   : sensorSource->getFormat(format);
}

void OZRSensorPipeline::streamingThread_cb(size_t nFrames) {
    if (sensorSource == nullptr) {
        return;  // isStreaming stays set until stopStream(true), as for a failed setup
    }
    int r = sensorSource->setupStreaming();
    if (r < 0) {
        KYR_LOG_ERROR("Error setting up streaming: %d", -r);
        return;
    }
    r = sensorSource->fetchNext();
    if (r < 0) {
        KYR_LOG_ERROR("Error fetching next frame: %d", -r);
        // Leave the device clean for the next start.
        r = sensorSource->stopStreaming();
        if (r < 0) {
            KYR_LOG_ERROR("Error stopping streaming: %d", -r);
        }
        return;
    }

    const bool endless = nFrames == 0;
    size_t count = 0;
    do {
        const bool triggerNext = endless || count + 1 < nFrames;
        ++count;
        r = sensorSource->captureNext(triggerNext);
        if (r < 0) {
            KYR_LOG_ERROR("Error capturing frame: %d", -r);
            break;
        }
    } while (isStreaming.load() && (endless || count < nFrames));

    if (!isStreaming.load()) {
        // A stop was requested after the next frame had been triggered:
        // read it so that the device holds nothing when it stops.
        (void)sensorSource->captureNext(false);
    }
    r = sensorSource->stopStreaming();
    if (r < 0) {
        KYR_LOG_ERROR("Error stopping streaming: %d", -r);
    }
    isStreaming.store(false);
}
