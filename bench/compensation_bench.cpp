// The phase compensation and distance stages at the two sensor sizes, each
// run as a stage of the dataflow (output allocation included), against its
// scalar reference built without vectorisation (compensation_scalar.cpp) in
// the same run. Rates read as Mpixel/s.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "compensation_scalar.h"
#include "kyr/image.h"
#include "kyr/platform.h"
#include "kyr/stages/compensation/linearTempCompensation.h"
#include "kyr/stages/compensation/phaseErrorLUTCompensation.h"
#include "kyr/stages/compensation/phaseOffsetCompensation.h"
#include "kyr/stages/compensation/phaseToDistance.h"
#include "optimized/phaseKernels.h"
#include "pixel_rate.h"

namespace {

using scalarref::PhaseImage;

constexpr uint32_t FREQUENCY_HZ = 20000000;
constexpr size_t LUT_SIZE = 2048;

std::shared_ptr<PhaseImage> randomPhases(size_t w, size_t h, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(0, 65535);
    auto img = PhaseImage::createNewBuffer(w, h);
    for (size_t i = 0; i < img->pixelCount(); ++i) {
        img->getData()[i] = PhaseType<uint16_t>(static_cast<uint16_t>(dist(rng)));
    }
    return img;
}

std::vector<uint16_t> randomTable() {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> dist(0, 65535);
    std::vector<uint16_t> t(LUT_SIZE);
    for (auto& v : t) {
        v = static_cast<uint16_t>(dist(rng));
    }
    return t;
}

size_t width(const benchmark::State& s) {
    return static_cast<size_t>(s.range(0));
}
size_t height(const benchmark::State& s) {
    return static_cast<size_t>(s.range(1));
}

// Publishes `in` to `input` once per iteration and takes the stage's output.
template <typename Out>
void runStage(benchmark::State& state, Source<Out>& stageOutput, Input<PhaseImage>& input,
              const std::shared_ptr<PhaseImage>& in) {
    kyr::platform::setLogLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR);
    Source<PhaseImage> source;
    Sink<Out> result;
    input << source;
    result << stageOutput;
    for (auto _ : state) {
        source.fire(std::shared_ptr<PhaseImage>(in));
        benchmark::DoNotOptimize(result.value().get());
    }
    benchrate::setMpixelRate(state);
}

std::unique_ptr<PhaseType<uint16_t>[]> tableCopy(const std::vector<uint16_t>& t) {
    auto table = std::make_unique<PhaseType<uint16_t>[]>(t.size());
    for (size_t k = 0; k < t.size(); ++k) {
        table[k] = PhaseType<uint16_t>(t[k]);
    }
    return table;
}

void BM_PhaseErrorLUT(benchmark::State& state) {
    const auto in = randomPhases(width(state), height(state), 1);
    const auto t = randomTable();
    kyr::platform::setLogLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR);
    PhaseErrorLUTCompensation stage(FREQUENCY_HZ);
    stage.setLut(tableCopy(t), t.size());
    runStage(state, stage, stage.input, in);
}

void BM_PhaseErrorLUT_ScalarReference(benchmark::State& state) {
    const auto in = randomPhases(width(state), height(state), 1);
    const auto t = randomTable();
    for (auto _ : state) {
        benchmark::DoNotOptimize(scalarref::phaseErrorLut(*in, t.data(), t.size()).get());
    }
    benchrate::setMpixelRate(state);
}

void BM_PhaseOffset(benchmark::State& state) {
    const auto in = randomPhases(width(state), height(state), 1);
    const auto offset = randomPhases(width(state), height(state), 2);
    kyr::platform::setLogLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR);
    PhaseOffsetCompensation stage(FREQUENCY_HZ);
    stage.setPhaseOffsetImage(offset);
    runStage(state, stage, stage.input, in);
}

void BM_PhaseOffset_ScalarReference(benchmark::State& state) {
    const auto in = randomPhases(width(state), height(state), 1);
    const auto offset = randomPhases(width(state), height(state), 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(scalarref::phaseOffset(*in, *offset).get());
    }
    benchrate::setMpixelRate(state);
}

// Without calibration the temperature stage subtracts shift 0: the same
// per-pixel work as with any other shift.
void BM_LinearTemp(benchmark::State& state) {
    const auto in = randomPhases(width(state), height(state), 1);
    LinearTempCompensation stage(FREQUENCY_HZ);
    Source<float> temperature;
    stage.tempInput << temperature;
    temperature.fire(std::make_shared<float>(45.0f));
    runStage(state, stage, stage.phaseInput, in);
}

void BM_LinearTemp_ScalarReference(benchmark::State& state) {
    const auto in = randomPhases(width(state), height(state), 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            scalarref::temperatureShift(*in, 45.0f, 25.0f, 0.0f, FREQUENCY_HZ).get());
    }
    benchrate::setMpixelRate(state);
}

void BM_PhaseToDistance(benchmark::State& state) {
    const auto in = randomPhases(width(state), height(state), 1);
    PhaseToDistance stage(FREQUENCY_HZ);
    runStage(state, stage, stage.phaseInput, in);
}

void BM_PhaseToDistance_ScalarReference(benchmark::State& state) {
    const auto in = randomPhases(width(state), height(state), 1);
    const float scale = kyr::kernels::distanceScale(FREQUENCY_HZ);
    for (auto _ : state) {
        benchmark::DoNotOptimize(scalarref::phaseToDistance(*in, scale).get());
    }
    benchrate::setMpixelRate(state);
}

#define SENSOR_SIZES ArgNames({"w", "h"})->Args({320, 240})->Args({640, 480})
BENCHMARK(BM_PhaseErrorLUT)->SENSOR_SIZES;
BENCHMARK(BM_PhaseErrorLUT_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_PhaseOffset)->SENSOR_SIZES;
BENCHMARK(BM_PhaseOffset_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_LinearTemp)->SENSOR_SIZES;
BENCHMARK(BM_LinearTemp_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_PhaseToDistance)->SENSOR_SIZES;
BENCHMARK(BM_PhaseToDistance_ScalarReference)->SENSOR_SIZES;

}  // namespace
