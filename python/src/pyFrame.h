// ozrtofcam.Frame: one captured frame whose images are numpy views.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <memory>
#include <optional>

#include "ozr/pointCloud.h"
#include "ozr/tofcam.h"

namespace ozrpy {

// The arrays are read-only views of the frame's own images; each keeps the
// frame's images alive through a shared reference, so an array may outlive
// the Frame object and the camera. Images the frame does not carry are None.
class Frame {
public:
    // `lens`: the capturing camera's lens, for points().
    explicit Frame(std::unique_ptr<ozr::TOFFrame> frame,
                   std::optional<ozr::LensIntrinsics> lens = std::nullopt);

    uint32_t number() const { return metadata.frameNumber; }
    uint64_t timestamp() const { return metadata.timestamp; }
    pybind11::object datetime() const;
    int width() const { return frame->getWidth(); }
    int height() const { return frame->getHeight(); }
    size_t dcsCount() const { return dcsImages; }

    pybind11::object distance();
    pybind11::object amplitude();
    pybind11::object grayscale();
    pybind11::object phase();
    // DCS images i of the frame, each a view.
    pybind11::tuple dcsViews();
    // The DCS images stacked as (k, height, width): the library keeps each in
    // a buffer of its own, so the stack is a copy, made once.
    pybind11::object dcs();
    // The points of the distance image through `lens`, or the camera's lens
    // when None.
    pybind11::object points(bool organized, pybind11::object lens);

    // Address of the first pixel of an image ("distance", "amplitude",
    // "grayscale", "phase", "dcs" with index), 0 when missing.
    uintptr_t imageAddress(const std::string& kind, size_t index) const;

    std::string repr() const;

    static void define(pybind11::module_& module);

private:
    pybind11::object view16(const uint16_t* data, pybind11::object& cache);

    std::shared_ptr<const ozr::TOFFrame> frame;
    std::optional<ozr::LensIntrinsics> cameraLens;
    ozr::TOFMetadata metadata;
    const uint16_t* distanceData = nullptr;
    const uint16_t* amplitudeData = nullptr;
    const uint16_t* grayscaleData = nullptr;
    const float* phaseData = nullptr;
    const uint16_t* dcsData[12] = {};
    size_t dcsImages = 0;

    pybind11::object distanceArray, amplitudeArray, grayscaleArray, phaseArray, dcsArray;
    pybind11::object dcsTuple;
};

}  // namespace ozrpy
