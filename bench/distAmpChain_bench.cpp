// The full distance/amplitude chain as the distance/amplitude pipeline wires
// it (DCS-to-distance graph, then the filter graph with every filter and mask
// on: median, average, temporal, Kalman and edge filters, saturation,
// minimum-amplitude and interference masks, interference latch), and the
// filter graph alone, at the two sensor sizes. Each against the sum of its
// stages' own times, every stage run by itself on the input it gets in the
// graph (distance_chain.h), so that the dataflow's overhead reads as a ratio.
// Counters per frame as in dcs2DistAmpGraph_bench.cpp.
#include <benchmark/benchmark.h>

#include <memory>

#include "distance_chain.h"
#include "frame_counters.h"
#include "kyr/graphs/dcs2DistAmpGraph.h"
#include "kyr/graphs/filterGraph.h"
#include "pixel_rate.h"

namespace {

using namespace benchchain;
using benchcount::ResourceCount;

// Runs `frame` for the warm-up frames, then times it with the counters.
template <typename Fn>
void timeFrames(benchmark::State& state, Fn&& frame) {
    for (int i = 0; i < benchcount::WARM_UP_FRAMES; ++i) frame();
    const ResourceCount before = ResourceCount::now();
    for (auto _ : state) {
        frame();
    }
    benchcount::setPerFrameCounters(state, before);
}

void BM_DistAmpChain(benchmark::State& state) {
    const size_t w = static_cast<size_t>(state.range(0)), h = static_cast<size_t>(state.range(1));
    {
        const CalibrationScope scope(w, h);
        DCS2DistAmpGraph distanceGraph(FREQUENCY_HZ);
        FilterGraph filterGraph;
        enableEveryFilter(filterGraph);
        Source<U16> out[4];
        Source<float> temperature;
        Source<U16>* dcs[4] = {&out[0], &out[1], &out[2], &out[3]};
        distanceGraph.connect(dcs, &temperature);
        filterGraph.connect(distanceGraph.getDistanceSource(), distanceGraph.getAmplitudeSource(),
                            dcs);
        Sink<U16> distance, amplitude;
        distance << *filterGraph.getDistanceSource();
        amplitude << *filterGraph.getAmplitudeSource();
        const auto frame = dcsFrame(w, h);
        timeFrames(state, [&] {
            temperature.fire(std::make_shared<float>(TEMPERATURE_C));
            for (int k = 0; k < 4; ++k) out[k].fire(std::shared_ptr<U16>(frame[k]));
            benchmark::DoNotOptimize(distance.value().get());
            benchmark::DoNotOptimize(amplitude.value().get());
        });
    }
    benchrate::setPixelRate(state, benchrate::vectorTarget());
}

void BM_DistAmpChain_StagesAlone(benchmark::State& state) {
    const size_t w = static_cast<size_t>(state.range(0)), h = static_cast<size_t>(state.range(1));
    {
        const CalibrationScope scope(w, h);
        const auto frame = dcsFrame(w, h);
        DistanceStagesAlone distanceStages(frame);
        FilterStagesAlone filterStages(distanceStages.distanceImage, distanceStages.amplitudeImage,
                                       frame);
        timeFrames(state, [&] {
            distanceStages.run();
            filterStages.run();
        });
    }
    benchrate::setPixelRate(state, "stages alone");
}

// The filter graph's inputs: distance and amplitude of the DCS frame.
struct FilterInputs {
    FilterInputs(size_t w, size_t h) : dcs(dcsFrame(w, h)), stages(dcs) {}
    std::vector<std::shared_ptr<U16>> dcs;
    DistanceStagesAlone stages;
};

void BM_FilterGraph(benchmark::State& state) {
    const size_t w = static_cast<size_t>(state.range(0)), h = static_cast<size_t>(state.range(1));
    {
        const CalibrationScope scope(w, h);
        const FilterInputs in(w, h);
        FilterGraph graph;
        enableEveryFilter(graph);
        Source<U16> distanceIn, amplitudeIn, out[4];
        Source<U16>* dcs[4] = {&out[0], &out[1], &out[2], &out[3]};
        graph.connect(&distanceIn, &amplitudeIn, dcs);
        Sink<U16> distance, amplitude;
        distance << *graph.getDistanceSource();
        amplitude << *graph.getAmplitudeSource();
        timeFrames(state, [&] {
            for (int k = 0; k < 4; ++k) out[k].fire(std::shared_ptr<U16>(in.dcs[k]));
            amplitudeIn.fire(std::shared_ptr<U16>(in.stages.amplitudeImage));
            distanceIn.fire(std::shared_ptr<U16>(in.stages.distanceImage));
            benchmark::DoNotOptimize(distance.value().get());
            benchmark::DoNotOptimize(amplitude.value().get());
        });
    }
    benchrate::setPixelRate(state, benchrate::vectorTarget());
}

void BM_FilterGraph_StagesAlone(benchmark::State& state) {
    const size_t w = static_cast<size_t>(state.range(0)), h = static_cast<size_t>(state.range(1));
    {
        const CalibrationScope scope(w, h);
        const FilterInputs in(w, h);
        FilterStagesAlone stages(in.stages.distanceImage, in.stages.amplitudeImage, in.dcs);
        timeFrames(state, [&] { stages.run(); });
    }
    benchrate::setPixelRate(state, "stages alone");
}

#define SENSOR_SIZES ArgNames({"w", "h"})->Args({320, 240})->Args({640, 480})
BENCHMARK(BM_DistAmpChain)->SENSOR_SIZES;
BENCHMARK(BM_DistAmpChain_StagesAlone)->SENSOR_SIZES;
BENCHMARK(BM_FilterGraph)->SENSOR_SIZES;
BENCHMARK(BM_FilterGraph_StagesAlone)->SENSOR_SIZES;

}  // namespace
