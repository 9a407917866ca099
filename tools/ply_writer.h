// ozr-capture --ply: the points of each written frame (every K-th, as the
// PNG files) as frame-NNNNNN-points.ply, binary little-endian PLY with
// x, y, z (float32, millimetres, camera frame: x right, y down, z forward)
// and the amplitude (uint16) of every pixel that holds a distance.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame_writer.h"
#include "ozr/pointCloud.h"
#include "ozr/tofcam.h"

namespace capture {

class PlyFrameWriter : public FrameWriter {
public:
    PlyFrameWriter(std::string dir, long every, const ozr::LensIntrinsics& lens);

    std::string write(const ozr::TOFFrame& frame) override;
    size_t filesWritten() const override { return files_; }

    // Writes points (3 floats each) with one amplitude each to `path`.
    static std::string writePly(const std::string& path, const std::vector<float>& xyz,
                                const std::vector<uint16_t>& amplitude);
    // The file's bytes (header and records); xyz holds 3 floats per amplitude.
    static std::string plyBytes(const std::vector<float>& xyz,
                                const std::vector<uint16_t>& amplitude);

private:
    std::string dir_;
    long every_;
    ozr::LensIntrinsics lens_;
    long seen_ = 0;
    size_t files_ = 0;
    std::vector<float> xyz_;
    std::vector<uint32_t> pixels_;
    std::vector<uint16_t> amplitude_;
};

}  // namespace capture
