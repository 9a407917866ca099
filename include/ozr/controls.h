// Control identifiers of the camera.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ozr/export.h"

namespace ozr {

// Integer controls of the camera. Boolean controls are on for any non-zero
// value and read back as 0 or 1; 16-bit controls keep the low 16 bits.
enum class ControlID : uint8_t {
    GAIN = 0,
    ACQUISITION_MODE = 1,
    MODULATION_FREQ_HZ = 2,
    TRIGGER_SHUTTER = 3,
    EXPOSURE_US = 4,
    HDR_INTEGRATION_TIME1_US = 5,
    HDR_INTEGRATION_TIME2_US = 6,
    HDR_INTEGRATION_TIME3_US = 7,
    ENABLE_HDR_ROLLING_MODE = 8,
    ENABLE_DCS_ROLLING_MODE = 9,
    ENABLE_PHASE_OFFSET_COMPENSATION = 10,
    ENABLE_PHASE_ERROR_COMPENSATION = 11,
    ENABLE_TEMPERATURE_COMPENSATION = 12,
    ENABLE_GRAYSCALE_DSNU_COMPENSATION = 13,
    ENABLE_GRAYSCALE_PRNU_COMPENSATION = 14,
    LED_DELAY_STEP = 15,
    MIN_AMPLITUDE = 16,
    INTERFERENCE_DETECTION_ENABLE = 17,
    INTERFERENCE_DETECTION_THRESHOLD = 18,
    INTERFERENCE_ENABLE_LATCHING = 19,
    AVERAGE_FILTER_ENABLE = 20,
    MEDIAN_FILTER_ENABLE = 21,
    TEMPORAL_FILTER_ENABLE = 22,
    TEMPORAL_FILTER_ALPHA = 23,
    TEMPORAL_FILTER_THRESHOLD = 24,
    KALMAN_FILTER_ENABLE = 25,
    KALMAN_FILTER_THRESHOLD = 26,
    KALMAN_FILTER_PROCESS_NOISE = 27,
    EDGE_FILTER_ENABLE = 28,
    EDGE_FILTER_THRESHOLD = 29,
};

inline constexpr size_t CONTROL_COUNT = 30;

// A control with its printable name.
struct ControlEntry {
    ControlID id;
    const char* name;
};

// One entry per control, in identifier order; the name is the identifier's
// own ("GAIN", "ACQUISITION_MODE", ...). For applications and tools.
OZR_API extern const ControlEntry controlNames[CONTROL_COUNT];

}  // namespace ozr
