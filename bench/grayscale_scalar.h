// Scalar references of the grayscale compensation stages for the
// benchmarks: the same per-pixel rules and the same output allocation,
// compiled in a translation unit of their own without auto-vectorisation
// (see bench/CMakeLists.txt).
#pragma once

#include <cstdint>
#include <memory>

#include "kyr/image.h"

namespace scalarref {

std::shared_ptr<Image<uint16_t>> dsnu(const Image<uint16_t>& in, const Image<uint16_t>& offset);
std::shared_ptr<Image<uint16_t>> prnu(const Image<uint16_t>& in, const Image<uint16_t>& reciprocal);

}  // namespace scalarref
