// Builds one image from the images of N exposures by a selection mask.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kyr/image.h"
#include "kyr/stage.h"

// out[i] = amplitude[m][i] with m = inMask[i], copied unchanged (pixel codes
// included); a mask value outside 0 ... N-1 takes exposure 0's pixel. The
// images to stitch may hold any kind of pixel (the member keeps its name).
// Built for <2, uint16_t>, <3, uint16_t>, <4, uint16_t> and <3, int16_t>.
template <size_t N, typename T>
class Stitch : public Stage<Image<T>> {
    static_assert(N >= 2 && N <= 4 && sizeof(T) == sizeof(uint16_t),
                  "Stitch is built for 2 to 4 exposures of 16-bit pixels");

public:
    Stitch();

    // kyr::status::OK; SIZE_MISMATCH (logged, nothing published) when an
    // image differs in size from the mask; INVALID_ARGUMENT for a missing
    // image; NO_MEMORY when the output image cannot be allocated.
    int action() override;

    Input<Image<uint16_t>> inMask;
    Input<Image<T>> amplitude[N];
};

extern template class Stitch<2, uint16_t>;
extern template class Stitch<3, uint16_t>;
extern template class Stitch<4, uint16_t>;
extern template class Stitch<3, int16_t>;
