// ozr-capture: statistics of one frame, as a text line or a JSON object.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ozr/tofcam.h"

namespace capture {

// In 16-bit distance and amplitude images every value from this one up is
// a pixel code, not a measurement.
inline constexpr uint16_t FIRST_PIXEL_CODE = 64000;
// The largest sample of a 12-bit DCS or grayscale image.
inline constexpr uint16_t MAX_RAW_SAMPLE = 4095;

struct FrameStats {
    ozr::AcquisitionMode mode = ozr::AcquisitionMode::DIST_AMP;
    uint32_t frameNumber = 0;
    uint64_t timestampMs = 0;
    double fps = 0.0;  // over the last frames; 0 for the first one
    uint16_t width = 0;
    uint16_t height = 0;
    // Distance modes: pixels without a code. Grayscale and DCS: samples
    // strictly inside the 12-bit range (neither 0 nor 4095).
    double validPercent = 0.0;
    // Distance modes, over the valid pixels (none: no value).
    std::optional<uint16_t> medianDistanceMm;
    std::optional<uint16_t> medianAmplitude;
    uint16_t centreDistanceMm = 0;  // raw value of the centre pixel (may be a code)
    uint16_t centreAmplitude = 0;
    // Grayscale mode.
    uint16_t medianGrayscale = 0;
    double meanGrayscale = 0.0;
    // DCS images (DCS4 mode), each over all its pixels.
    std::vector<uint16_t> dcsMedian;
    std::vector<double> dcsMean;
};

FrameStats computeStats(const ozr::TOFFrame& frame, ozr::AcquisitionMode mode);

std::string formatLine(const FrameStats& stats);
// The line without frame number and rate.
std::string formatMeasures(const FrameStats& stats);
nlohmann::json toJson(const FrameStats& stats);

// The acquisition modes by the names the tools give them (command lines,
// JSON, the viewer's page).
inline constexpr std::pair<const char*, ozr::AcquisitionMode> MODE_NAMES[] = {
    {"dist-amp", ozr::AcquisitionMode::DIST_AMP},
    {"hdr", ozr::AcquisitionMode::DIST_AMP_HDR},
    {"grayscale", ozr::AcquisitionMode::GRAYSCALE},
    {"dcs4", ozr::AcquisitionMode::DCS4},
};
// The mode's name; "?" for modes without one.
const char* modeName(ozr::AcquisitionMode mode);
// The mode of `name`; false for an unknown name.
bool modeFromName(const std::string& name, ozr::AcquisitionMode& mode);

// The images of a frame, by file-name stem ("distance", "dcs3", ...), in
// the order they are written; DCS images of every index the mode delivers.
struct FrameImage {
    std::string name;
    const uint16_t* data16 = nullptr;  // 16-bit images
    const float* phase = nullptr;      // the phase in radians
};
std::vector<FrameImage> frameImages(const ozr::TOFFrame& frame, ozr::AcquisitionMode mode);

}  // namespace capture
