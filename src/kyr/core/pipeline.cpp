#include "kyr/pipeline.h"

#include "kyr/platform.h"
#include "kyr/status.h"

Pipeline::~Pipeline() {
    stopStream(true);
}

int Pipeline::startStream(size_t nFrames) {
    if (isStreaming.load()) {
        return kyr::status::BUSY;
    }
    // A stream that ended by itself leaves its thread to be joined.
    if (streamingThread.joinable()) {
        streamingThread.join();
    }
    isStreaming.store(true);
    streamingThread.start(this, &Pipeline::streamingThread_cb, nFrames);
    return 0;
}

int Pipeline::stopStream(bool stop) {
    if (isStreaming.load()) {
        if (stop) {
            isStreaming.store(false);
        }
        if (!streamingThread.joinable()) {
            KYR_LOG_ERROR("Streaming thread not joinable while streaming was active");
            return kyr::status::FAILED;
        }
    } else if (!streamingThread.joinable()) {
        return 0;
    }
    streamingThread.join();
    return 0;
}

int Pipeline::singleCapture() {
    int r = startStream(1);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to start stream for single frame capture: %d", r);
        return kyr::status::FAILED;
    }
    r = stopStream(false);
    if (r < 0) {
        KYR_LOG_ERROR("Failed to stop stream after single frame capture: %d", r);
        return kyr::status::FAILED;
    }
    return 0;
}
