// What the sensor's kernel driver defines: the identifiers of its controls
// on the sub-device node and the values of its acquisition mode control.
#pragma once

#include <linux/v4l2-controls.h>

#include <cstdint>

// Driver values of the ACQUISITION_MODE control.
enum ozr_dev_acquisition_type : int32_t {
    OZR_ACQUISITION_TYPE_4DCS = 0,       // a frame is four DCS images
    OZR_ACQUISITION_TYPE_GRAYSCALE = 1,  // a frame is one grayscale image
    OZR_ACQUISITION_TYPE_HDR = 2,        // three exposures of four DCS images (OZR320 only)
    OZR_ACQUISITION_TYPE_MAX = 3,        // number of types
};

// Control identifiers on the sub-device. Gain and exposure are the standard
// V4L2 controls; the others are the driver's own.
inline constexpr uint32_t OZR_CID_GAIN = V4L2_CID_GAIN;
inline constexpr uint32_t OZR_CID_EXPOSURE_US = V4L2_CID_EXPOSURE;
inline constexpr uint32_t OZR_CID_BASE = 0x981900;
inline constexpr uint32_t OZR_CID_TRIGGER_SHUTTER = OZR_CID_BASE + 0x01;
inline constexpr uint32_t OZR_CID_ACQUISITION_MODE = OZR_CID_BASE + 0x02;
inline constexpr uint32_t OZR_CID_MODULATION_FREQ_HZ = OZR_CID_BASE + 0x03;
inline constexpr uint32_t OZR_CID_HDR_INTEGRATION_TIME1_US = OZR_CID_BASE + 0x05;
inline constexpr uint32_t OZR_CID_HDR_INTEGRATION_TIME2_US = OZR_CID_BASE + 0x06;
inline constexpr uint32_t OZR_CID_HDR_INTEGRATION_TIME3_US = OZR_CID_BASE + 0x07;
inline constexpr uint32_t OZR_CID_LED_DELAY_STEP = OZR_CID_BASE + 0x09;

static_assert(OZR_CID_GAIN == 0x980913 && OZR_CID_EXPOSURE_US == 0x980911);
static_assert(OZR_CID_TRIGGER_SHUTTER == 0x981901 && OZR_CID_LED_DELAY_STEP == 0x981909);
