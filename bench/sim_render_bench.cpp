// Rendering cost of the virtual sensor per triggered frame.
#include <benchmark/benchmark.h>

#include "scene.h"

namespace {

void renderFrame(benchmark::State& st, ozrsim::Model model, ozrsim::AcqType acq) {
    ozrsim::SceneConfig scene;
    scene.name = "boxes";
    scene.interference = true;
    ozrsim::Renderer renderer(scene, 1);
    ozrsim::SensorState state;
    state.model = model;
    state.acq = acq;
    if (model == ozrsim::Model::OZR310) {
        state.width = 640;
        state.height = 120;
    }
    renderer.renderFrame(state);  // builds the per-pixel terms once
    for (auto _ : st) {
        ++state.frameIndex;
        benchmark::DoNotOptimize(renderer.renderFrame(state));
    }
}

BENCHMARK_CAPTURE(renderFrame, Ozr320FourDcs, ozrsim::Model::OZR320, ozrsim::AcqType::FourDcs)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(renderFrame, Ozr310FourDcs, ozrsim::Model::OZR310, ozrsim::AcqType::FourDcs)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(renderFrame, Ozr320Hdr, ozrsim::Model::OZR320, ozrsim::AcqType::Hdr)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(renderFrame, Ozr320Grayscale, ozrsim::Model::OZR320, ozrsim::AcqType::Grayscale)
    ->Unit(benchmark::kMillisecond);

}  // namespace
