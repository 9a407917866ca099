// Scalar references of the spatial kernel filters for the benchmarks: every
// pixel by its clamped window, with the same output allocation per frame,
// compiled in a translation unit of their own without auto-vectorisation
// (see bench/CMakeLists.txt).
#pragma once

#include <memory>

#include "kyr/image.h"

namespace scalarref {

// The filtered image; defined for the kernels of the catalogue.
template <class Kernel>
std::shared_ptr<Image<typename Kernel::Type>> kernelFilter(Kernel& kernel,
                                                           const Image<typename Kernel::Type>& in);

}  // namespace scalarref
