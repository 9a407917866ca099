// Per-pixel rule of the point cloud: a distance along a pixel's unit ray
// becomes a point, a pixel code becomes a point of three NaNs.
//
// The inline function is the per-pixel rule; pointsFromDistance applies it to
// a whole image with explicit SIMD (the best instruction set of the running
// CPU chosen at run time) and gives bit-identical results: one float product
// per coordinate, no fused operations.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace kyr::kernels {

// Distances at and above this are pixel codes, not measurements.
inline constexpr uint16_t POINT_CODE_LIMIT = 64000;

// The one NaN the rule writes (a quiet NaN, positive).
inline float pointNaN() {
    return std::bit_cast<float>(uint32_t{0x7FC00000});
}

// out[0..2] = distance x (rayX, rayY, rayZ), or three NaNs for a code.
inline void pointPixel(uint16_t distance, float rayX, float rayY, float rayZ, float* out) {
    if (distance >= POINT_CODE_LIMIT) {
        out[0] = out[1] = out[2] = pointNaN();
        return;
    }
    const float d = static_cast<float>(distance);
    out[0] = d * rayX;
    out[1] = d * rayY;
    out[2] = d * rayZ;
}

// pointPixel for i < count, the points interleaved (x, y, z) in `xyz`
// (3 x count floats). `xyz` must not overlap the inputs.
void pointsFromDistance(const uint16_t* distance, const float* rayX, const float* rayY,
                        const float* rayZ, float* xyz, size_t count);

}  // namespace kyr::kernels
