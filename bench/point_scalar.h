// Scalar reference of the point cloud kernel, compiled without
// auto-vectorisation (point_scalar.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace benchref {

void pointsFromDistance(const uint16_t* distance, const float* rayX, const float* rayY,
                        const float* rayZ, float* xyz, size_t count);

}  // namespace benchref
