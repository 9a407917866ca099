// Numeric constants shared by the processing core.
#pragma once

#include <cstdint>

namespace kyr {

// 2*pi as the nearest single-precision value; phase conversions use it as is.
inline constexpr float TWO_PI_F = 6.2831855f;

// Full scale of a 16-bit phase: raw 65535 stands for 2*pi.
inline constexpr float PHASE_FULL_SCALE_F = 65535.0f;

}  // namespace kyr
