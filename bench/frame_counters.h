// Per-frame counters of the benchmarks that run whole graphs: heap calls
// (calls of the global operator new of the benchmark binary, which
// frame_counters.cpp replaces for all of ozr_bench), pixel-block heap calls
// (those of at least PIXEL_BLOCK_BYTES, the pixel arrays of images of
// 128 x 256 pixels and more) and minor page faults of the calling thread.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdint>

#include "kyr/platform.h"

namespace benchcount {

inline constexpr size_t PIXEL_BLOCK_BYTES = 64 * 1024;

// Frames run before the counters are read, so that they show the steady state.
inline constexpr int WARM_UP_FRAMES = 3;

// Heap calls and minor page faults so far, read around the timed frames.
struct ResourceCount {
    uint64_t heapCalls;
    uint64_t pixelHeapCalls;
    long minorFaults;

    static ResourceCount now();
};

// Counters "heap_calls", "pixel_heap" and "page_faults", per iteration
// (frame) since `before`.
void setPerFrameCounters(benchmark::State& state, const ResourceCount& before);

// Keeps the log quiet while graphs are built and run (a benchmark must not
// print into its table).
void quiet(kyr::platform::LogLevel, const char*, va_list);

}  // namespace benchcount
