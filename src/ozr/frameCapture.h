// Building application frames from the application sinks: the body of
// TOFCam::captureFrame for each kind of sink.
#pragma once

#include <memory>

#include "kyr/pipeline.h"
#include "kyr/sinks/appSink.h"
#include "ozr/tofcam.h"

namespace ozr::capture {

// Each capture: when `streaming` is false, first has `pipeline` capture one
// frame; then waits up to 1000 ms for the sink's next frame and, on success,
// replaces `frame` with a new frame sharing the sink's images. Returns 0,
// kyr::status::FAILED when the single capture failed or kyr::status::TIMED_OUT
// on time-out (each logged); `frame` is untouched on failure.
int captureDistAmp(DistAmpSink<4>& sink, Pipeline& pipeline, bool streaming,
                   std::unique_ptr<TOFFrame>& frame);
int captureDistAmp(DistAmpSink<12>& sink, Pipeline& pipeline, bool streaming,
                   std::unique_ptr<TOFFrame>& frame);
int captureGrayscale(GrayscaleSink& sink, Pipeline& pipeline, bool streaming,
                     std::unique_ptr<TOFFrame>& frame);
int captureDcs(DcsSink<4>& sink, Pipeline& pipeline, bool streaming,
               std::unique_ptr<TOFFrame>& frame);

// Restarts the frame numbering: the next delivered frame is number 1.
void resetFrameCounter();

constexpr size_t CAPTURE_TIMEOUT_MS = 1000;

}  // namespace ozr::capture
