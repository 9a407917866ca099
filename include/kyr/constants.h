// Numeric constants shared by the processing core.
#pragma once

#include <cstdint>

namespace kyr {

// 2*pi as the nearest single-precision value; phase conversions use it as is.
inline constexpr float TWO_PI_F = 6.2831855f;

// Full scale of a 16-bit phase: raw 65535 stands for 2*pi.
inline constexpr float PHASE_FULL_SCALE_F = 65535.0f;

// pi and 4*pi as the nearest single-precision values.
inline constexpr float PI_F = 3.1415927f;
inline constexpr float FOUR_PI_F = 12.566371f;

// Speed of light in mm/s: 299792458 m/s held as a float (299792448) and
// multiplied by 1000 in float arithmetic, which gives 299792433152.
inline constexpr float SPEED_OF_LIGHT_MM_PER_S_F = 299792458.0f * 1000.0f;
static_assert(SPEED_OF_LIGHT_MM_PER_S_F == 299792433152.0f);

}  // namespace kyr
