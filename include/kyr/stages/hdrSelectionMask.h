// Chooses per pixel the exposure of an HDR acquisition to take.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kyr/image.h"
#include "kyr/stage.h"

// From the amplitude images of N exposures (exposure 0 first, invalid pixels
// already carrying their codes), per pixel the index 0 ... N-1 of the
// exposure with the largest valid amplitude (1 ... 63999). A pixel code
// never wins, equal amplitudes go to the lower index, and a pixel without
// any valid exposure gets 0. Built for N = 2, 3, 4.
template <size_t N>
class HDRSelectionMask : public Stage<Image<uint16_t>> {
    static_assert(N >= 2 && N <= 4, "HDRSelectionMask is built for 2, 3 and 4 exposures");

public:
    HDRSelectionMask();

    // kyr::status::OK; SIZE_MISMATCH (logged, nothing published) when an
    // image differs in size from amplitude[0]; INVALID_ARGUMENT for a
    // missing image; NO_MEMORY when the output image cannot be allocated.
    int action() override;

    Input<Image<uint16_t>> amplitude[N];
};

extern template class HDRSelectionMask<2>;
extern template class HDRSelectionMask<3>;
extern template class HDRSelectionMask<4>;
