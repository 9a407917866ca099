// The grayscale compensation stages (DSNU, PRNU) at the two sensor sizes,
// each run as a stage of the dataflow (output allocation included), against
// its scalar reference built without vectorisation (grayscale_scalar.cpp) in
// the same run. Rates read as Mpixel/s.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>

#include "grayscale_scalar.h"
#include "kyr/calibration/calibrationDataRegistry.h"
#include "kyr/image.h"
#include "kyr/stages/compensation/dsnuCompensation.h"
#include "kyr/stages/compensation/prnuCompensation.h"
#include "pixel_rate.h"

namespace {

using Image16 = Image<uint16_t>;

std::shared_ptr<Image16> randomImage(size_t w, size_t h, int from, int to, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(from, to);
    auto img = Image16::createNewBuffer(w, h);
    for (size_t i = 0; i < img->pixelCount(); ++i) {
        img->getData()[i] = static_cast<uint16_t>(dist(rng));
    }
    return img;
}

size_t width(const benchmark::State& s) {
    return static_cast<size_t>(s.range(0));
}
size_t height(const benchmark::State& s) {
    return static_cast<size_t>(s.range(1));
}

// Publishes `in` to the stage once per iteration and takes its output.
void runStage(benchmark::State& state, Stage<Image16>& stage, Input<Image16>& input,
              const std::shared_ptr<Image16>& in) {
    Source<Image16> source;
    Sink<Image16> result;
    input << source;
    result << stage;
    for (auto _ : state) {
        source.fire(std::shared_ptr<Image16>(in));
        benchmark::DoNotOptimize(result.value().get());
    }
    benchrate::setMpixelRate(state);
}

// Hands the stage the benchmark's offset image as its calibration.
struct OffsetProvider : CalibrationProviderIF<DsnuOffsetData> {
    int getCalibrationData(uint32_t, DsnuOffsetData& data) override {
        data.offsetImage = offset;
        return 0;
    }
    void getCalibratedFrequencies(FrequencyList& list) override { list = FrequencyList{}; }
    std::shared_ptr<Image16> offset;
};

void BM_DSNUCompensation(benchmark::State& state) {
    const auto in = randomImage(width(state), height(state), 0, 4095, 1);
    OffsetProvider provider;
    provider.offset = randomImage(width(state), height(state), 0, 300, 2);
    auto& registry = CalibrationDataRegistry::getInstance();
    registry.registerProvider<DsnuOffsetData>(provider);
    DSNUCompensation stage;
    registry.registerProvider<DsnuOffsetData>(DefaultProvider<DsnuOffsetData>::getInstance());
    runStage(state, stage, stage.input, in);
}

void BM_DSNUCompensation_ScalarReference(benchmark::State& state) {
    const auto in = randomImage(width(state), height(state), 0, 4095, 1);
    const auto offset = randomImage(width(state), height(state), 0, 300, 2);
    for (auto _ : state) {
        benchmark::DoNotOptimize(scalarref::dsnu(*in, *offset).get());
    }
    benchrate::setMpixelRate(state);
}

void BM_PRNUCompensation(benchmark::State& state) {
    const auto in = randomImage(width(state), height(state), 0, 4095, 1);
    PRNUCompensation stage;
    stage.setPrnuGainImage(randomImage(width(state), height(state), 800, 1250, 3), 1000);
    runStage(state, stage, stage.input, in);
}

void BM_PRNUCompensation_ScalarReference(benchmark::State& state) {
    const auto in = randomImage(width(state), height(state), 0, 4095, 1);
    const auto reciprocal = randomImage(width(state), height(state), 3276, 5120, 3);
    for (auto _ : state) {
        benchmark::DoNotOptimize(scalarref::prnu(*in, *reciprocal).get());
    }
    benchrate::setMpixelRate(state);
}

#define SENSOR_SIZES ArgNames({"w", "h"})->Args({320, 240})->Args({640, 480})
BENCHMARK(BM_DSNUCompensation)->SENSOR_SIZES;
BENCHMARK(BM_DSNUCompensation_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_PRNUCompensation)->SENSOR_SIZES;
BENCHMARK(BM_PRNUCompensation_ScalarReference)->SENSOR_SIZES;

}  // namespace
