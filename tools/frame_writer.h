// ozr-capture: what happens to each captured frame besides its statistics.
//
// Every output (PNG files, a recording, ...) is a FrameWriter: constructed
// with what it needs from the options and the camera before the stream
// starts, handed each frame in order, and finished once after the last one,
// also when the capture is interrupted or fails, so that its files are
// complete.
#pragma once

#include <string>

#include "ozr/tofcam.h"

namespace capture {

class FrameWriter {
public:
    virtual ~FrameWriter() = default;
    // Returns an empty string, or what went wrong (the capture then stops
    // with a failure).
    virtual std::string write(const ozr::TOFFrame& frame) = 0;
    virtual std::string finish() { return {}; }
    // Files written so far, for the closing report.
    virtual size_t filesWritten() const { return 0; }
};

}  // namespace capture
