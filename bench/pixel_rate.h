// Pixel-rate counters of the benchmarks whose state.range(0) and
// state.range(1) are the width and height of the image processed once per
// iteration.
#pragma once

#include <benchmark/benchmark.h>
#include <hwy/targets.h>

namespace benchrate {

inline double framePixels(const benchmark::State& state) {
    return static_cast<double>(state.range(0) * state.range(1));
}

// Counter "Mpixel/s": millions of pixels per second.
inline void setMpixelRate(benchmark::State& state) {
    state.counters["Mpixel/s"] =
        benchmark::Counter(framePixels(state) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// Counter "pixels": pixels per second (shown as M/s or G/s), and the label.
inline void setPixelRate(benchmark::State& state, const char* label) {
    state.counters["pixels"] =
        benchmark::Counter(framePixels(state), benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel(label);
}

// The instruction set that the vector kernels dispatch to on this machine.
inline const char* vectorTarget() {
    return hwy::TargetName(hwy::SupportedAndGeneratedTargets().front());
}

// setPixelRate labelled with vectorTarget(), or with "scalar" for a scalar
// reference.
inline void setKernelPixelRate(benchmark::State& state, bool vector) {
    setPixelRate(state, vector ? vectorTarget() : "scalar");
}

}  // namespace benchrate
