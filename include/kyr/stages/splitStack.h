// Unfolds an OZR310 frame: the sensor's two readout halves arrive side by
// side and are stacked into one image of half the width and twice the
// height. The left halves form the lower half of the image, top-down; the
// right halves form the upper half, bottom-up.
#pragma once

#include <cstdint>

#include "kyr/image.h"
#include "kyr/sink.h"
#include "kyr/stage.h"

class SplitStack : public Stage<Image<uint16_t>> {
public:
    SplitStack();

    int action() override;

    Input<Image<uint16_t>> input;
};
