// ozr-view: one frame as the binary message every viewer receives.
//
// A message is a 64-byte header followed by the image planes, all numbers
// little-endian:
//
//   offset  size  field
//    0      4     magic "OZRV"
//    4      2     format version (1)
//    6      2     header size in bytes (64)
//    8      4     message size in bytes (header and planes)
//   12      1     acquisition mode (ozr::AcquisitionMode)
//   13      1     number of planes P (at most 4)
//   14      2     width W
//   16      2     height H
//   18      2     flags: bit 0 the temperature is known, bit 1 the frame is being recorded
//   20      4     frame number
//   24      8     timestamp, milliseconds since the Unix epoch (float64)
//   32      4     camera frame rate, frames per second (float32)
//   36      4     sensor temperature, degrees Celsius (float32)
//   40      4     valid pixels, percent (float32)
//   44      2     centre pixel's distance (raw: may be a pixel code)
//   46      2     median valid distance, mm (0: none)
//   48      2     median valid amplitude (0: none)
//   50      2     median grayscale
//   52      2+2   distance scale: near and far end (1st and 99th percentile)
//   56      2+2   amplitude scale: low and top end
//   60      4     plane kinds, one byte each: 1 distance, 2 amplitude,
//                 3 grayscale, 16 + N DCS image N; 0 unused
//   64      P x W x H x 2   the planes, 16-bit values row-major
//
// Modes dist-amp and hdr carry distance and amplitude, grayscale the
// grayscale image, dcs4 the four DCS images.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "frame_stats.h"
#include "ozr/tofcam.h"

namespace view {

inline constexpr uint16_t MESSAGE_VERSION = 1;
inline constexpr size_t HEADER_BYTES = 64;
inline constexpr size_t MAX_PLANES = 4;

enum PlaneKind : uint8_t {
    PLANE_DISTANCE = 1,
    PLANE_AMPLITUDE = 2,
    PLANE_GRAYSCALE = 3,
    PLANE_DCS0 = 16,
};

struct FrameInfo {
    float fps = 0.0f;
    bool temperatureKnown = false;
    float temperatureC = 0.0f;
    bool recording = false;
};

// Encodes `frame` (delivered in `mode`, with its statistics) into `message`,
// reusing its storage. An image the frame lacks is sent as zeros.
void encodeFrame(const ozr::TOFFrame& frame, const capture::FrameStats& stats,
                 const FrameInfo& info, std::string& message);

}  // namespace view
