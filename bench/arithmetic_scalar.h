// Scalar references of the arithmetic stages for the benchmarks: the same
// per-pixel rules and the same output allocation, compiled in a translation
// unit of their own without auto-vectorisation (see bench/CMakeLists.txt).
#pragma once

#include <cstdint>
#include <memory>

#include "kyr/image.h"
#include "kyr/phaseType.h"

namespace scalarref {

std::shared_ptr<Image<int16_t>> subtract(const Image<uint16_t>& minuend,
                                         const Image<uint16_t>& subtrahend);
std::shared_ptr<Image<uint16_t>> amplitude(const Image<int16_t>& diff0,
                                           const Image<int16_t>& diff1);
std::shared_ptr<Image<PhaseType<uint16_t>>> atan2Cordic(const Image<int16_t>& nominator,
                                                        const Image<int16_t>& denominator);
std::shared_ptr<Image<PhaseType<uint16_t>>> atan2Cordic(const Image<float>& nominator,
                                                        const Image<float>& denominator);

}  // namespace scalarref
