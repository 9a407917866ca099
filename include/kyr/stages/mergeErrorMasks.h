// Merges several error masks into one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kyr/image.h"
#include "kyr/stage.h"

// out = the unsigned maximum of the N masks per pixel: any code beats 0 (a
// valid pixel) and of two codes the higher one wins. Built for N = 2, 3, 4.
template <size_t N>
class MergeErrorMasks : public Stage<Image<uint16_t>> {
    static_assert(N >= 2 && N <= 4, "MergeErrorMasks is built for 2, 3 and 4 masks");

public:
    MergeErrorMasks();

    // kyr::status::OK; SIZE_MISMATCH (logged, nothing published) when a
    // mask differs in size from input[0]; INVALID_ARGUMENT for a missing
    // image; NO_MEMORY when the output image cannot be allocated.
    int action() override;

    Input<Image<uint16_t>> input[N];
};

extern template class MergeErrorMasks<2>;
extern template class MergeErrorMasks<3>;
extern template class MergeErrorMasks<4>;
