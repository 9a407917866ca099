// Scalar references of the interference stages for the benchmarks: the same
// per-pixel rules and the same output allocation, compiled in a translation
// unit of their own without auto-vectorisation (see bench/CMakeLists.txt).
#pragma once

#include <cstdint>
#include <memory>

#include "kyr/image.h"

namespace scalarref {

using Image16 = Image<uint16_t>;

std::shared_ptr<Image16> interferenceMask(const std::shared_ptr<Image16> (&dcs)[4],
                                          const Image16& dsnu, uint16_t threshold);
std::shared_ptr<Image16> latch(const Image16& input, const Image16& mask, const Image16& held);
// Updates `last` in place as the combined detection stage does.
std::shared_ptr<Image16> interferenceDetection(const std::shared_ptr<Image16> (&dcs)[4],
                                               const Image16& input, uint16_t threshold, bool latch,
                                               Image16& last);

}  // namespace scalarref
