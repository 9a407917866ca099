// The whole DCS-to-distance graph (differences, amplitude, CORDIC phase,
// phase error table, phase offset, temperature drift, distance) at the two
// sensor sizes, fed by four DCS sources and a temperature source. References
// in the same run: the graph's stages each run by itself on the same inputs
// (the sum of their own times, so that the dataflow's overhead reads as a
// ratio), and the same chain of scalar references built without
// vectorisation (arithmetic_scalar.cpp, compensation_scalar.cpp).
//
// Counters per frame, averaged over the timed frames after a few warm-up
// frames: heap calls, pixel-block heap calls and minor page faults of the
// benchmark thread (frame_counters.h).
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "arithmetic_scalar.h"
#include "compensation_scalar.h"
#include "distance_chain.h"
#include "frame_counters.h"
#include "kyr/graphs/dcs2DistAmpGraph.h"
#include "kyr/stage.h"
#include "pixel_rate.h"

namespace {

using namespace benchchain;
using benchcount::ResourceCount;

uint64_t stageTicks() {
    uint64_t ticks = 0;
    StageBase::forEachStage([&](const StageBase& stage) { ticks += stage.getTotalTimeTicks(); });
    return ticks;
}

// Counter "in_actions": the share of the frame time spent inside the stages'
// actions (their own timing), the rest being publication and hand-over.
void BM_DCS2DistAmpGraph(benchmark::State& state) {
    const size_t w = static_cast<size_t>(state.range(0)), h = static_cast<size_t>(state.range(1));
    {
        const CalibrationScope scope(w, h);
        DCS2DistAmpGraph graph(FREQUENCY_HZ);
        Source<U16> out[4];
        Source<float> temperature;
        Source<U16>* dcs[4] = {&out[0], &out[1], &out[2], &out[3]};
        graph.connect(dcs, &temperature);
        Sink<U16> distance, amplitude;
        distance << *graph.getDistanceSource();
        amplitude << *graph.getAmplitudeSource();
        const auto frame = dcsFrame(w, h);
        const auto runFrame = [&] {
            temperature.fire(std::make_shared<float>(TEMPERATURE_C));
            for (int k = 0; k < 4; ++k) out[k].fire(std::shared_ptr<U16>(frame[k]));
            benchmark::DoNotOptimize(distance.value().get());
            benchmark::DoNotOptimize(amplitude.value().get());
        };
        for (int i = 0; i < benchcount::WARM_UP_FRAMES; ++i) runFrame();
        const ResourceCount before = ResourceCount::now();
        const uint64_t ticksBefore = stageTicks();
        const auto start = std::chrono::steady_clock::now();
        for (auto _ : state) {
            runFrame();
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        benchcount::setPerFrameCounters(state, before);
        state.counters["in_actions"] =
            static_cast<double>(stageTicks() - ticksBefore) / static_cast<double>(elapsed.count());
    }
    benchrate::setPixelRate(state, benchrate::vectorTarget());
}

// Reference: every stage of the graph run by itself on the inputs it gets in
// the graph, one after the other, each output dropped at once.
void BM_DCS2DistAmpGraph_StagesAlone(benchmark::State& state) {
    const size_t w = static_cast<size_t>(state.range(0)), h = static_cast<size_t>(state.range(1));
    {
        const CalibrationScope scope(w, h);
        const auto frame = dcsFrame(w, h);
        DistanceStagesAlone stages(frame);
        for (int i = 0; i < benchcount::WARM_UP_FRAMES; ++i) stages.run();
        const ResourceCount before = ResourceCount::now();
        for (auto _ : state) {
            stages.run();
        }
        benchcount::setPerFrameCounters(state, before);
    }
    benchrate::setPixelRate(state, "stages alone");
}

void BM_DCS2DistAmpGraph_ScalarReference(benchmark::State& state) {
    const size_t w = static_cast<size_t>(state.range(0)), h = static_cast<size_t>(state.range(1));
    const BenchCalibration calibration(w, h);
    const auto frame = dcsFrame(w, h);
    const float scale = 299792433152.0f / (static_cast<float>(FREQUENCY_HZ) * 12.566371f);
    for (auto _ : state) {
        const auto d31 = scalarref::subtract(*frame[3], *frame[1]);
        const auto d20 = scalarref::subtract(*frame[2], *frame[0]);
        const auto amplitude = scalarref::amplitude(*d31, *d20);
        const auto raw = scalarref::atan2Cordic(*d31, *d20);
        const auto table = scalarref::phaseErrorLut(*raw, calibration.lut.data(), LUT_SIZE);
        const auto offset = scalarref::phaseOffset(*table, *calibration.offset);
        const auto drift = scalarref::temperatureShift(*offset, TEMPERATURE_C, CALIBRATION_TEMP_C,
                                                       SLOPE_MM_K, FREQUENCY_HZ);
        const auto distance = scalarref::phaseToDistance(*drift, scale);
        benchmark::DoNotOptimize(distance.get());
        benchmark::DoNotOptimize(amplitude.get());
    }
    benchrate::setPixelRate(state, "scalar");
}

#define SENSOR_SIZES ArgNames({"w", "h"})->Args({320, 240})->Args({640, 480})
BENCHMARK(BM_DCS2DistAmpGraph)->SENSOR_SIZES;
BENCHMARK(BM_DCS2DistAmpGraph_StagesAlone)->SENSOR_SIZES;
BENCHMARK(BM_DCS2DistAmpGraph_ScalarReference)->SENSOR_SIZES;

}  // namespace
