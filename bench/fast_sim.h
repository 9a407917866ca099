// The virtual driver as the benchmarks that stream from it run it: the
// OZR320 model with its simulated exposure and readout set to zero and a die
// temperature that stays put, so that a frame costs what rendering and
// copying it cost.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "ozrsim.h"

namespace benchsim {

// Configures the driver for frames of `width` x `height` pixels; false, with
// the benchmark marked as skipped, when the driver refuses.
inline bool configureFastSim(benchmark::State& state, int64_t width, int64_t height) {
    ozrsim::Config c;
    c.model = ozrsim::Model::OZR320;
    c.width = static_cast<uint32_t>(width);
    c.height = static_cast<uint32_t>(height);
    c.timing.exposureDelayUs = 0;
    c.timing.readoutUs = 0;
    c.temperature.timeConstantS = 0.0f;
    if (ozrsim::configure(c) != 0) {
        state.SkipWithError("the virtual driver refused the configuration");
        return false;
    }
    return true;
}

}  // namespace benchsim
