// Scalar references of the temporal and Kalman filters for the benchmarks:
// the same per-pixel rules and the same output allocation per frame,
// compiled in a translation unit of their own without auto-vectorisation
// (see bench/CMakeLists.txt).
#pragma once

#include <cstdint>
#include <memory>

#include "kyr/image.h"

namespace scalarref {

// One enabled frame after the first: the new average of `in` and `average`.
std::shared_ptr<Image<uint16_t>> temporalFilter(const Image<uint16_t>& in,
                                                const Image<uint16_t>& average, float alpha,
                                                uint16_t threshold);

// One enabled frame after the first: the published image; `estimate` and
// `uncertainty` are updated in place.
std::shared_ptr<Image<uint16_t>> kalmanFilter(const Image<uint16_t>& distance,
                                              const Image<uint16_t>& amplitude,
                                              Image<uint16_t>& estimate,
                                              Image<uint16_t>& uncertainty, uint16_t processNoise,
                                              uint16_t uncertaintyThreshold);

}  // namespace scalarref
