// Public interface of the Time-of-Flight camera library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "kyr/platform.h"
#include "ozr/controls.h"
#include "ozr/export.h"

namespace ozr {

// Which pipeline the camera runs and what a frame carries.
enum class AcquisitionMode : uint8_t {
    DIST_AMP = 0,      // distance, amplitude, phase, DCS 0-3
    GRAYSCALE = 1,     // grayscale
    DIST_AMP_HDR = 2,  // distance, amplitude, phase, DCS 0-11
    TEST_PATTERN = 3,  // refused by the camera
    DCS4 = 4,          // DCS 0-3
};

// Selects an image of a frame.
enum class FrameType : uint8_t {
    DCS = 0,
    AMPLITUDE = 1,
    DISTANCE = 2,
    PHASE = 3,
    GRAYSCALE = 4,
};

// The sensor model given to the camera.
enum class TOFSensor : uint8_t {
    autodetect = 0,
    ozr320 = 1,
    ozr310 = 2,
};

// A region of interest of the video device.
struct VideoFormat {
    uint32_t left;
    uint32_t top;
    uint32_t width;
    uint32_t height;
    uint32_t pitch;
};

struct TOFMetadata {
    uint32_t frameNumber;  // counts delivered frames from 1 after each camera construction
    uint64_t timestamp;    // wall-clock delivery time, milliseconds since the Unix epoch
};

// One delivered frame. The images stay valid and unchanged while the frame
// lives, whatever the camera does afterwards.
class OZR_API TOFFrame {
public:
    struct Impl;

    TOFFrame(std::unique_ptr<Impl> impl, uint16_t width, uint16_t height);
    ~TOFFrame();

    TOFFrame(const TOFFrame&) = delete;
    TOFFrame& operator=(const TOFFrame&) = delete;
    TOFFrame(TOFFrame&&) noexcept;
    TOFFrame& operator=(TOFFrame&&) noexcept;

    uint16_t getWidth() const { return width; }
    uint16_t getHeight() const { return height; }
    TOFMetadata getMetadata() const;

    // Read-only pointer to the first pixel (row-major, width x height) of the
    // requested image, or nullptr when the frame has no such image.
    // `index` selects the DCS image and is ignored for the other types.
    // Available for T = uint16_t (DCS, AMPLITUDE, DISTANCE, GRAYSCALE) and
    // T = float (PHASE, in radians).
    template <typename T>
    const T* getData(FrameType type, size_t index = 0) const;

private:
    std::unique_ptr<Impl> pImpl;
    uint16_t height;
    uint16_t width;
};

template <>
OZR_API const uint16_t* TOFFrame::getData<uint16_t>(FrameType type, size_t index) const;
template <>
OZR_API const float* TOFFrame::getData<float>(FrameType type, size_t index) const;

}  // namespace ozr
