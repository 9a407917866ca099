// The virtual driver as most tests run it.
#pragma once

#include "ozrsim.h"

namespace testsupport {

// Fast frames (the first image 0.2 ms after the trigger, then one every
// 0.05 ms) and a die temperature that stays put; the driver's defaults
// otherwise.
inline ozrsim::Config fastSimConfig(ozrsim::Model model) {
    ozrsim::Config c;
    c.model = model;
    c.timing.exposureDelayUs = 200;
    c.timing.readoutUs = 50;
    c.temperature.timeConstantS = 0.0f;
    return c;
}

}  // namespace testsupport
