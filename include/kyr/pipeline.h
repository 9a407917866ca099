// A pipeline: the unit the camera starts, stops and configures. It owns the
// graphs of one acquisition mode and runs one streaming thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "kyr/kyrThread.h"
#include "kyr/stage.h"
#include "ozr/controls.h"
#include "ozr/tofcam.h"

class Pipeline {
public:
    Pipeline() = default;
    virtual ~Pipeline();

    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    virtual int setControl(ozr::ControlID id, int32_t value) = 0;
    virtual int getControl(ozr::ControlID id, int& value) = 0;
    virtual int setFormat(const ozr::VideoFormat& format) = 0;
    virtual int getFormat(ozr::VideoFormat& format) = 0;

    // Starts the streaming thread: nFrames = 0 streams until stopped, more
    // captures that many frames. kyr::status::BUSY while a stream runs.
    int startStream(size_t nFrames);
    // With `stop`, asks a running stream to end; then waits for the thread.
    int stopStream(bool stop);
    // One frame, synchronously: when it returns the frame has passed through
    // the whole graph (or the thread has logged why not).
    int singleCapture();

    bool streaming() const { return isStreaming.load(); }

protected:
    // The body of the streaming thread.
    virtual void streamingThread_cb(size_t nFrames) = 0;

    // Set while a stream runs or has been asked to run; cleared to ask the
    // streaming loop to stop, and by the loop when it ends.
    std::atomic<bool> isStreaming{false};
    const StageBase* stageList = nullptr;
    size_t numStages = 0;
    KyrThread streamingThread;
};
