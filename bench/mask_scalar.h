// Scalar references of the mask, error-code, HDR selection and stitch stages
// for the benchmarks: the same per-pixel rules and the same output
// allocation, compiled in a translation unit of their own without
// auto-vectorisation (see bench/CMakeLists.txt).
#pragma once

#include <cstdint>
#include <memory>

#include "kyr/image.h"

namespace scalarref {

using U16 = Image<uint16_t>;

std::shared_ptr<U16> saturationMask(const U16& dcs);
std::shared_ptr<U16> saturationMask(const U16& dcs0, const U16& dcs1, const U16& dcs2,
                                    const U16& dcs3);
std::shared_ptr<U16> minAmplitudeMask(const U16& amplitude, uint16_t minAmp);
std::shared_ptr<U16> minAmplitude(const U16& amplitude, const U16& distance, uint16_t minAmp);
std::shared_ptr<U16> mergeErrorMasks(const U16& m0, const U16& m1, const U16& m2);
std::shared_ptr<U16> applyErrorMask(const U16& image, const U16& mask);
std::shared_ptr<U16> errorToZero(const U16& in);
std::shared_ptr<U16> hdrSelection(const U16& a0, const U16& a1, const U16& a2);
std::shared_ptr<U16> stitch(const U16& mask, const U16& e0, const U16& e1, const U16& e2);

}  // namespace scalarref
