#include "point_scalar.h"

#include "optimized/pointKernels.h"

namespace benchref {

void pointsFromDistance(const uint16_t* distance, const float* rayX, const float* rayY,
                        const float* rayZ, float* xyz, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        kyr::kernels::pointPixel(distance[i], rayX[i], rayY[i], rayZ[i], xyz + 3 * i);
    }
}

}  // namespace benchref
