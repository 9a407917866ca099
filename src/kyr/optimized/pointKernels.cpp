// Vector form of the point cloud kernel. This file is compiled once per
// instruction set (foreach_target); the first call picks the best one the
// CPU supports. A step covers one vector of float lanes; the last pixels of
// an image go through the same step on padded copies.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "optimized/pointKernels.cpp"
#include "optimized/pointKernels.h"

#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace kyr::kernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

template <class D>
HWY_INLINE void PointStep(D d, const uint16_t* distance, const float* rayX, const float* rayY,
                          const float* rayZ, float* xyz) {
    const hn::Rebind<uint16_t, D> d16;
    const hn::Rebind<int32_t, D> d32;
    const auto raw = hn::PromoteTo(d32, hn::LoadU(d16, distance));
    const auto valid = hn::RebindMask(d, hn::Lt(raw, hn::Set(d32, int32_t{POINT_CODE_LIMIT})));
    const auto mm = hn::ConvertTo(d, raw);
    const auto nan = hn::Set(d, pointNaN());
    const auto x = hn::IfThenElse(valid, hn::Mul(mm, hn::LoadU(d, rayX)), nan);
    const auto y = hn::IfThenElse(valid, hn::Mul(mm, hn::LoadU(d, rayY)), nan);
    const auto z = hn::IfThenElse(valid, hn::Mul(mm, hn::LoadU(d, rayZ)), nan);
    hn::StoreInterleaved3(x, y, z, d, xyz);
}

void PointsImpl(const uint16_t* distance, const float* rayX, const float* rayY, const float* rayZ,
                float* xyz, size_t count) {
    const hn::ScalableTag<float> d;
    const size_t lanes = hn::Lanes(d);
    size_t i = 0;
    for (; i + lanes <= count; i += lanes) {
        PointStep(d, distance + i, rayX + i, rayY + i, rayZ + i, xyz + 3 * i);
    }
    if (i < count) {
        constexpr size_t MAX = hn::MaxLanes(hn::ScalableTag<float>());
        const size_t rest = count - i;
        HWY_ALIGN uint16_t padD[MAX] = {};
        HWY_ALIGN float padX[MAX] = {}, padY[MAX] = {}, padZ[MAX] = {}, padOut[3 * MAX] = {};
        std::memcpy(padD, distance + i, rest * sizeof(uint16_t));
        std::memcpy(padX, rayX + i, rest * sizeof(float));
        std::memcpy(padY, rayY + i, rest * sizeof(float));
        std::memcpy(padZ, rayZ + i, rest * sizeof(float));
        PointStep(d, padD, padX, padY, padZ, padOut);
        std::memcpy(xyz + 3 * i, padOut, 3 * rest * sizeof(float));
    }
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace kyr::kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kyr::kernels {

HWY_EXPORT(PointsImpl);

void pointsFromDistance(const uint16_t* distance, const float* rayX, const float* rayY,
                        const float* rayZ, float* xyz, size_t count) {
    HWY_DYNAMIC_DISPATCH(PointsImpl)(distance, rayX, rayY, rayZ, xyz, count);
}

}  // namespace kyr::kernels
#endif  // HWY_ONCE
