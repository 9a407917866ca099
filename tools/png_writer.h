// ozr-capture: every image of a frame as a 16-bit PNG file, and previews.
#pragma once

#include <cstdint>
#include <string>

#include "frame_writer.h"

namespace capture {

class PngFrameWriter : public FrameWriter {
public:
    // Writes the files of every `every`-th frame (frames every, 2*every, ...
    // counted from the first captured one) into `dir`, which must exist.
    PngFrameWriter(std::string dir, ozr::AcquisitionMode mode, long every, bool preview);

    std::string write(const ozr::TOFFrame& frame) override;
    size_t filesWritten() const override { return files_; }

    // "DIR/frame-000012-distance.png"
    static std::string fileName(const std::string& dir, uint32_t frameNumber,
                                const std::string& image);

private:
    std::string dir_;
    ozr::AcquisitionMode mode_;
    long every_;
    bool preview_;
    long seen_ = 0;
    size_t files_ = 0;
};

}  // namespace capture
