// A pipeline fed by a sensor source, with the streaming loop.
//
// A concrete pipeline stops its stream (stopStream(true)) in its own
// destructor, before its graphs and the base classes are torn down, since
// the streaming thread calls into it through virtual functions.
#pragma once

#include "kyr/pipeline.h"

class OZRSensorSourceIF;

class OZRSensorPipeline : public Pipeline {
public:
    explicit OZRSensorPipeline(OZRSensorSourceIF* source) : sensorSource(source) {}
    ~OZRSensorPipeline() override;

    int setFormat(const ozr::VideoFormat& format) override;
    int getFormat(ozr::VideoFormat& format) override;

protected:
    // Sets the source up, triggers the first frame, then captures frames
    // (triggering the next one while the current one is read) until the
    // count is reached, a capture fails or a stop is requested; a frame
    // triggered before a stop is drained before the device stops.
    void streamingThread_cb(size_t nFrames) override;

    OZRSensorSourceIF* sensorSource;  // owned by the camera, outlives the pipeline
};
