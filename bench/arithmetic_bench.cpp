// The arithmetic stages (DCS difference, amplitude, CORDIC phase) at the two
// sensor sizes, each run as a stage of the dataflow (output allocation
// included), against its scalar reference built without vectorisation
// (arithmetic_scalar.cpp) in the same run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>

#include "arithmetic_scalar.h"
#include "kyr/image.h"
#include "kyr/stages/amplitude.h"
#include "kyr/stages/atan2CORDIC.h"
#include "kyr/stages/subtract.h"
#include "pixel_rate.h"

namespace {

template <typename T, typename Gen>
std::shared_ptr<Image<T>> randomImage(size_t w, size_t h, Gen gen) {
    auto img = Image<T>::createNewBuffer(w, h);
    for (size_t i = 0; i < img->pixelCount(); ++i) img->getData()[i] = gen();
    return img;
}

// Raw DCS samples (12 bit) and their differences, as a frame delivers them.
struct Frame {
    Frame(size_t w, size_t h) {
        std::mt19937 rng(static_cast<unsigned>(w * h));
        std::uniform_int_distribution<int> sample(0, 4095);
        dcsA = randomImage<uint16_t>(w, h, [&] { return static_cast<uint16_t>(sample(rng)); });
        dcsB = randomImage<uint16_t>(w, h, [&] { return static_cast<uint16_t>(sample(rng)); });
        diff0 = randomImage<int16_t>(
            w, h, [&] { return static_cast<int16_t>(sample(rng) - sample(rng)); });
        diff1 = randomImage<int16_t>(
            w, h, [&] { return static_cast<int16_t>(sample(rng) - sample(rng)); });
        float0 = randomImage<float>(
            w, h, [&] { return static_cast<float>(sample(rng) - sample(rng)) * 0.75f; });
        float1 = randomImage<float>(
            w, h, [&] { return static_cast<float>(sample(rng) - sample(rng)) * 0.75f; });
    }
    std::shared_ptr<Image<uint16_t>> dcsA, dcsB;
    std::shared_ptr<Image<int16_t>> diff0, diff1;
    std::shared_ptr<Image<float>> float0, float1;
};

// Runs `stage` once per iteration by publishing the two inputs.
template <typename StageT, typename In, typename Out>
void runStage(benchmark::State& state, StageT& stage, Input<In>& first, Input<In>& second,
              const std::shared_ptr<In>& a, const std::shared_ptr<In>& b) {
    Source<In> sa, sb;
    Sink<Out> result;
    first << sa;
    second << sb;
    result << stage;
    for (auto _ : state) {
        sa.fire(std::shared_ptr<In>(a));
        sb.fire(std::shared_ptr<In>(b));
        benchmark::DoNotOptimize(result.value().get());
    }
    benchrate::setKernelPixelRate(state, true);
}

void BM_Subtract(benchmark::State& state) {
    const Frame f(static_cast<size_t>(state.range(0)), static_cast<size_t>(state.range(1)));
    Subtract stage;
    runStage<Subtract, Image<uint16_t>, Image<int16_t>>(state, stage, stage.minuend,
                                                        stage.subtrahend, f.dcsA, f.dcsB);
}

void BM_Subtract_ScalarReference(benchmark::State& state) {
    const Frame f(static_cast<size_t>(state.range(0)), static_cast<size_t>(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(scalarref::subtract(*f.dcsA, *f.dcsB).get());
    }
    benchrate::setKernelPixelRate(state, false);
}

void BM_Amplitude(benchmark::State& state) {
    const Frame f(static_cast<size_t>(state.range(0)), static_cast<size_t>(state.range(1)));
    Amplitude stage;
    runStage<Amplitude, Image<int16_t>, Image<uint16_t>>(state, stage, stage.diff0, stage.diff1,
                                                         f.diff0, f.diff1);
}

void BM_Amplitude_ScalarReference(benchmark::State& state) {
    const Frame f(static_cast<size_t>(state.range(0)), static_cast<size_t>(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(scalarref::amplitude(*f.diff0, *f.diff1).get());
    }
    benchrate::setKernelPixelRate(state, false);
}

void BM_Atan2CORDIC(benchmark::State& state) {
    const Frame f(static_cast<size_t>(state.range(0)), static_cast<size_t>(state.range(1)));
    Atan2CORDIC<int16_t> stage;
    runStage<Atan2CORDIC<int16_t>, Image<int16_t>, Image<PhaseType<uint16_t>>>(
        state, stage, stage.nominator, stage.denominator, f.diff0, f.diff1);
}

void BM_Atan2CORDIC_ScalarReference(benchmark::State& state) {
    const Frame f(static_cast<size_t>(state.range(0)), static_cast<size_t>(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(scalarref::atan2Cordic(*f.diff0, *f.diff1).get());
    }
    benchrate::setKernelPixelRate(state, false);
}

void BM_Atan2CORDICFloat(benchmark::State& state) {
    const Frame f(static_cast<size_t>(state.range(0)), static_cast<size_t>(state.range(1)));
    Atan2CORDIC<float> stage;
    runStage<Atan2CORDIC<float>, Image<float>, Image<PhaseType<uint16_t>>>(
        state, stage, stage.nominator, stage.denominator, f.float0, f.float1);
}

void BM_Atan2CORDICFloat_ScalarReference(benchmark::State& state) {
    const Frame f(static_cast<size_t>(state.range(0)), static_cast<size_t>(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(scalarref::atan2Cordic(*f.float0, *f.float1).get());
    }
    benchrate::setKernelPixelRate(state, false);
}

#define SENSOR_SIZES ArgNames({"w", "h"})->Args({320, 240})->Args({640, 480})
BENCHMARK(BM_Subtract)->SENSOR_SIZES;
BENCHMARK(BM_Subtract_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_Amplitude)->SENSOR_SIZES;
BENCHMARK(BM_Amplitude_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_Atan2CORDIC)->SENSOR_SIZES;
BENCHMARK(BM_Atan2CORDIC_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_Atan2CORDICFloat)->SENSOR_SIZES;
BENCHMARK(BM_Atan2CORDICFloat_ScalarReference)->SENSOR_SIZES;

}  // namespace
