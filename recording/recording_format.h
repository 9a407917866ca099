// What a recording holds: the camera's settings (file attributes) and, per
// frame, the DCS images exactly as the sensor delivered them (12-bit values),
// the frame number, the timestamp and the sensor temperature.
//
// HDF5 layout (format version 1):
//   attributes of the root group
//     "format_version"            int32, 1
//     "model"                     string, "ozr310" | "ozr320"
//     "mode"                      string, "DCS4" | "DIST_AMP_HDR"
//     "width", "height"           uint32, size of one DCS image as delivered
//                                 (the OZR310's halves already unfolded)
//     "dcs_per_frame"             uint32, 4 (DCS4) | 12 (DIST_AMP_HDR)
//     "modulation_frequency_hz"   int32
//     "exposure_us", "gain"       int32
//     "hdr_integration_times_us"  int32[3]
//     "library_version"           string, e.g. "1.4.0"
//   datasets, one entry per frame along the first (extendible) dimension
//     "dcs"            uint16 [frames][dcs_per_frame][height][width],
//                      one chunk per frame
//     "frame_number"   uint32 [frames]
//     "timestamp_ms"   uint64 [frames], milliseconds since the Unix epoch
//     "temperature_c"  float32 [frames], degrees Celsius
// Frames are appended one at a time and the file is flushed after each, so a
// recording cut short holds every frame completed before; its length is the
// shortest of the four datasets.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ozrrec {

inline constexpr int32_t FORMAT_VERSION = 1;

// Bounds the reader enforces before it reads anything.
inline constexpr uint32_t MAX_IMAGE_SIDE = 4096;
inline constexpr uint64_t MAX_FRAMES = uint64_t{1} << 31;

// The largest DCS value a 12-bit sensor delivers.
inline constexpr uint16_t MAX_DCS_VALUE = 4095;

namespace names {
inline constexpr const char* FORMAT_VERSION = "format_version";
inline constexpr const char* MODEL = "model";
inline constexpr const char* MODE = "mode";
inline constexpr const char* WIDTH = "width";
inline constexpr const char* HEIGHT = "height";
inline constexpr const char* DCS_PER_FRAME = "dcs_per_frame";
inline constexpr const char* MODULATION_FREQUENCY = "modulation_frequency_hz";
inline constexpr const char* EXPOSURE = "exposure_us";
inline constexpr const char* GAIN = "gain";
inline constexpr const char* HDR_TIMES = "hdr_integration_times_us";
inline constexpr const char* LIBRARY_VERSION = "library_version";
inline constexpr const char* DCS = "dcs";
inline constexpr const char* FRAME_NUMBER = "frame_number";
inline constexpr const char* TIMESTAMP = "timestamp_ms";
inline constexpr const char* TEMPERATURE = "temperature_c";
}  // namespace names

enum class Model { OZR310, OZR320 };
enum class Mode { DCS4, DIST_AMP_HDR };

const char* modelName(Model model);  // "ozr310" | "ozr320"
const char* modeName(Mode mode);     // "DCS4" | "DIST_AMP_HDR"
bool parseModel(const std::string& text, Model& model);
bool parseMode(const std::string& text, Mode& mode);
constexpr uint32_t dcsPerFrame(Mode mode) {
    return mode == Mode::DCS4 ? 4 : 12;
}

struct RecordingInfo {
    Model model = Model::OZR320;
    Mode mode = Mode::DCS4;
    uint32_t width = 0;  // of one DCS image as delivered by the camera
    uint32_t height = 0;
    int32_t modulationFrequencyHz = 0;
    int32_t exposureUs = 0;
    int32_t gain = 0;
    std::array<int32_t, 3> hdrIntegrationTimesUs{};
    std::string libraryVersion;
    int32_t formatVersion = FORMAT_VERSION;

    uint32_t dcsCount() const { return dcsPerFrame(mode); }
    size_t frameValues() const { return size_t{dcsCount()} * width * height; }
};

struct RecordedFrame {
    uint32_t frameNumber = 0;
    uint64_t timestampMs = 0;
    float temperatureC = 0.0f;
    // dcsCount() images of width x height, one after the other, row-major.
    std::vector<uint16_t> dcs;
};

// The version of the camera library these tools were built with.
const char* builtLibraryVersion();

}  // namespace ozrrec
