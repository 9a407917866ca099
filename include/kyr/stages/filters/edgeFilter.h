// The edge filter of the filter graph: marks pixels at depth edges as
// EDGE_FILTERED.
#pragma once

#include <cstdint>

#include "kyr/stages/filters/kernelFilter.h"

// A pixel whose left and right neighbours, or whose upper and lower ones,
// differ by more than the threshold (default 200) becomes EDGE_FILTERED
// (64006); the others keep their value. At the border a missing neighbour is
// the centre pixel itself. Disabled after construction.
class EdgeFilter : public KernelFilter<kyr::kernels::EdgeFilterKernel> {
public:
    EdgeFilter() { setName("Edge Filter"); }

    void setThreshold(uint16_t value) { kernel.threshold = value; }
    uint16_t getThreshold() const { return kernel.threshold; }
};
