// ozrtofcam.LensIntrinsics and the point clouds of frames.
#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <optional>

#include "ozr/pointCloud.h"
#include "ozr/tofcam.h"

namespace ozrpy {

// The points of a frame's distance image through `lens`: (height, width, 3)
// float32 with NaN points for pixel codes when `organized`, else (n, 3) of
// the measured pixels only. Raises ValueError when the frame has no distance
// image, ozrtofcam.Error for intrinsics that cannot be used.
pybind11::object framePoints(const ozr::TOFFrame& frame, const ozr::LensIntrinsics& lens,
                             bool organized);

void definePoints(pybind11::module_& module);

}  // namespace ozrpy
