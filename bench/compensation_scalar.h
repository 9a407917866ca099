// Scalar references of the phase compensation and distance stages for the
// benchmarks: the same per-pixel rules and the same output allocation,
// compiled in a translation unit of their own without auto-vectorisation
// (see bench/CMakeLists.txt).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/phaseType.h"

namespace scalarref {

using PhaseImage = Image<PhaseType<uint16_t>>;

std::shared_ptr<PhaseImage> phaseErrorLut(const PhaseImage& in, const uint16_t* lut, size_t size);
std::shared_ptr<PhaseImage> phaseOffset(const PhaseImage& in, const PhaseImage& offset);
std::shared_ptr<PhaseImage> temperatureShift(const PhaseImage& in, float temperature_C,
                                             float calibrationTemp_C, float slope_mm_K,
                                             uint32_t frequency_Hz);
std::shared_ptr<Image<uint16_t>> phaseToDistance(const PhaseImage& in, float scale);

}  // namespace scalarref
