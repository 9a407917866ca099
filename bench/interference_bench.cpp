// The interference stages (mask, latch, combined detection) at the two
// sensor sizes, each run as a stage of the dataflow (output allocation
// included), against its scalar reference built without vectorisation
// (interference_scalar.cpp) in the same run. Rates read as Mpixel/s.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>

#include "interference_scalar.h"
#include "kyr/image.h"
#include "kyr/platform.h"
#include "kyr/stages/filters/interferenceDetection.h"
#include "kyr/stages/filters/interferenceMask.h"
#include "kyr/stages/filters/latch.h"
#include "pixel_rate.h"

namespace {

using scalarref::Image16;
constexpr uint16_t THRESHOLD = 500;

// Four DCS images of a modulated signal around the default dark offset,
// with noise and one pixel in twenty disturbed; a distance image; and a
// mask flagging one pixel in twenty.
struct Frame {
    Frame(size_t w, size_t h) {
        std::mt19937 rng(static_cast<unsigned>(w * h));
        std::uniform_real_distribution<float> amplitude(0.0f, 1500.0f), phase(0.0f, 6.2831855f);
        std::uniform_int_distribution<int> noise(-60, 60), disturbed(0, 19), any(0, 7000);
        for (auto& d : dcs) d = Image16::createNewBuffer(w, h);
        distance = Image16::createNewBuffer(w, h);
        mask = Image16::createNewBuffer(w, h);
        dsnu = Image16::createNewBuffer(w, h);
        for (size_t i = 0; i < w * h; ++i) {
            const float a = amplitude(rng), p = phase(rng);
            const float c = a * std::cos(p), s = a * std::sin(p);
            const float v[4] = {2048 + c, 2048 + s, 2048 - c, 2048 - s};
            for (int k = 0; k < 4; ++k) {
                dcs[k]->getData()[i] = static_cast<uint16_t>(static_cast<int>(v[k]) + noise(rng));
            }
            if (disturbed(rng) == 0) dcs[2]->getData()[i] += static_cast<uint16_t>(any(rng) / 4);
            distance->getData()[i] = static_cast<uint16_t>(any(rng));
            mask->getData()[i] = disturbed(rng) == 0 ? 64005 : 0;
            dsnu->getData()[i] = 2048;
        }
    }
    std::shared_ptr<Image16> dcs[4], distance, mask, dsnu;
};

size_t width(const benchmark::State& s) {
    return static_cast<size_t>(s.range(0));
}
size_t height(const benchmark::State& s) {
    return static_cast<size_t>(s.range(1));
}

// Publishes the four DCS images to `inputs`, then `extra` (if any) to
// `extraInput`, once per iteration, and takes the stage's output.
template <typename StageT>
void runStage(benchmark::State& state, StageT& stage, Input<Image16> (&inputs)[4], const Frame& f,
              Input<Image16>* extraInput, const std::shared_ptr<Image16>& extra) {
    kyr::platform::setLogLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR);
    Source<Image16> dcs[4], other;
    Sink<Image16> result;
    for (int k = 0; k < 4; ++k) inputs[k] << dcs[k];
    if (extraInput != nullptr) *extraInput << other;
    result << stage;
    for (auto _ : state) {
        for (int k = 0; k < 4; ++k) dcs[k].fire(std::shared_ptr<Image16>(f.dcs[k]));
        if (extraInput != nullptr) other.fire(std::shared_ptr<Image16>(extra));
        benchmark::DoNotOptimize(result.value().get());
    }
    benchrate::setMpixelRate(state);
}

void BM_InterferenceMask(benchmark::State& state) {
    const Frame f(width(state), height(state));
    InterferenceMask stage;
    stage.setEnabled(true);
    stage.setThreshold(THRESHOLD);
    runStage(state, stage, stage.input, f, nullptr, nullptr);
}

void BM_InterferenceMask_ScalarReference(benchmark::State& state) {
    const Frame f(width(state), height(state));
    for (auto _ : state) {
        benchmark::DoNotOptimize(scalarref::interferenceMask(f.dcs, *f.dsnu, THRESHOLD).get());
    }
    benchrate::setMpixelRate(state);
}

void BM_InterferenceDetection(benchmark::State& state) {
    const Frame f(width(state), height(state));
    InterferenceDetection stage;
    stage.setThreshold(THRESHOLD);
    stage.setLatch(true);
    runStage(state, stage, stage.dcs_in, f, &stage.input, f.distance);
}

void BM_InterferenceDetection_ScalarReference(benchmark::State& state) {
    const Frame f(width(state), height(state));
    auto last = Image16::createNewBuffer(width(state), height(state));
    std::fill_n(last->getData(), last->pixelCount(), uint16_t{0});
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            scalarref::interferenceDetection(f.dcs, *f.distance, THRESHOLD, true, *last).get());
    }
    benchrate::setMpixelRate(state);
}

void BM_Latch(benchmark::State& state) {
    const Frame f(width(state), height(state));
    Latch<uint16_t> stage(true);
    Source<Image16> input, mask;
    Sink<Image16> result;
    stage.input << input;
    stage.mask << mask;
    result << stage;
    for (auto _ : state) {
        input.fire(std::shared_ptr<Image16>(f.distance));
        mask.fire(std::shared_ptr<Image16>(f.mask));
        benchmark::DoNotOptimize(result.value().get());
    }
    benchrate::setMpixelRate(state);
}

void BM_Latch_ScalarReference(benchmark::State& state) {
    const Frame f(width(state), height(state));
    std::shared_ptr<Image16> held = f.distance;
    for (auto _ : state) {
        held = scalarref::latch(*f.distance, *f.mask, *held);
        benchmark::DoNotOptimize(held.get());
    }
    benchrate::setMpixelRate(state);
}

#define SENSOR_SIZES ArgNames({"w", "h"})->Args({320, 240})->Args({640, 480})
BENCHMARK(BM_InterferenceMask)->SENSOR_SIZES;
BENCHMARK(BM_InterferenceMask_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_InterferenceDetection)->SENSOR_SIZES;
BENCHMARK(BM_InterferenceDetection_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_Latch)->SENSOR_SIZES;
BENCHMARK(BM_Latch_ScalarReference)->SENSOR_SIZES;

}  // namespace
