// The whole DCS-to-distance graph (differences, amplitude, CORDIC phase,
// phase error table, phase offset, temperature drift, distance) at the two
// sensor sizes, fed by four DCS sources and a temperature source, against
// the same chain of scalar references built without vectorisation
// (arithmetic_scalar.cpp, compensation_scalar.cpp) in the same run.
#include <benchmark/benchmark.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "arithmetic_scalar.h"
#include "compensation_scalar.h"
#include "kyr/calibration/calibrationDataRegistry.h"
#include "kyr/graphs/dcs2DistAmpGraph.h"
#include "kyr/image.h"
#include "kyr/platform.h"

namespace {

using PhaseImage = Image<PhaseType<uint16_t>>;

constexpr uint32_t FREQUENCY_HZ = 20000000;
constexpr size_t LUT_SIZE = 2048;
constexpr float TEMPERATURE_C = 40.0f;
constexpr float CALIBRATION_TEMP_C = 30.0f;
constexpr float SLOPE_MM_K = 22.0f;

// Calibration of the frame size: a random offset image and table.
struct BenchCalibration : CalibrationProviderIF<PhaseOffsetData>,
                          CalibrationProviderIF<PhaseErrorLUTData> {
    BenchCalibration(size_t w, size_t h)
        : offset(PhaseImage::createNewBuffer(w, h)), lut(LUT_SIZE) {
        std::mt19937 rng(1);
        std::uniform_int_distribution<int> small(0, 3000);
        for (size_t i = 0; i < offset->pixelCount(); ++i) {
            offset->getData()[i] = PhaseType<uint16_t>(static_cast<uint16_t>(small(rng)));
        }
        for (auto& v : lut) v = static_cast<uint16_t>(small(rng));
    }
    int getCalibrationData(uint32_t hz, PhaseOffsetData& data) override {
        data.offsetImage = offset;
        data.calibrationTemp_C = CALIBRATION_TEMP_C;
        data.sensorTempSlope_mm_K = SLOPE_MM_K;
        data.calibratedFrequency_Hz = hz;
        return 0;
    }
    int getCalibrationData(uint32_t, PhaseErrorLUTData& data) override {
        data.lut = std::make_unique<PhaseType<uint16_t>[]>(lut.size());
        for (size_t k = 0; k < lut.size(); ++k) data.lut[k] = PhaseType<uint16_t>(lut[k]);
        data.lutSize = lut.size();
        return 0;
    }
    void getCalibratedFrequencies(FrequencyList& list) override { list = FrequencyList{}; }

    std::shared_ptr<PhaseImage> offset;
    std::vector<uint16_t> lut;
};

// Four DCS images of a scene at 0.5 .. 5 m with noise.
std::vector<std::shared_ptr<Image<uint16_t>>> dcsFrame(size_t w, size_t h) {
    std::mt19937 rng(static_cast<unsigned>(w));
    std::uniform_real_distribution<double> phase(0.0, 6.283);
    std::uniform_real_distribution<double> amplitude(50.0, 1500.0);
    std::normal_distribution<double> noise(0.0, 3.0);
    std::vector<std::shared_ptr<Image<uint16_t>>> dcs;
    for (int k = 0; k < 4; ++k) dcs.push_back(Image<uint16_t>::createNewBuffer(w, h));
    for (size_t i = 0; i < w * h; ++i) {
        const double p = phase(rng), a = amplitude(rng);
        for (int k = 0; k < 4; ++k) {
            const double v = 2048.0 + a * std::cos(p + k * 1.5707963) + noise(rng);
            dcs[k]->getData()[i] = static_cast<uint16_t>(std::clamp(v, 0.0, 4095.0));
        }
    }
    return dcs;
}

void setRate(benchmark::State& state, const char* label) {
    const double pixels = static_cast<double>(state.range(0) * state.range(1));
    state.counters["pixels"] =
        benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel(label);
}

// Keeps the log quiet while the graph is built (no warnings are expected,
// but a benchmark must not print into its table).
void quiet(kyr::platform::LogLevel, const char*, va_list) {}

void BM_DCS2DistAmpGraph(benchmark::State& state) {
    const size_t w = static_cast<size_t>(state.range(0)), h = static_cast<size_t>(state.range(1));
    BenchCalibration calibration(w, h);
    auto& registry = CalibrationDataRegistry::getInstance();
    registry.registerProvider<PhaseOffsetData>(calibration);
    registry.registerProvider<PhaseErrorLUTData>(calibration);
    kyr::platform::register_log_function(&quiet);
    {
        DCS2DistAmpGraph graph(FREQUENCY_HZ);
        Source<Image<uint16_t>> out[4];
        Source<float> temperature;
        Source<Image<uint16_t>>* dcs[4] = {&out[0], &out[1], &out[2], &out[3]};
        graph.connect(dcs, &temperature);
        Sink<Image<uint16_t>> distance, amplitude;
        distance << *graph.getDistanceSource();
        amplitude << *graph.getAmplitudeSource();
        const auto frame = dcsFrame(w, h);
        for (auto _ : state) {
            temperature.fire(std::make_shared<float>(TEMPERATURE_C));
            for (int k = 0; k < 4; ++k) out[k].fire(std::shared_ptr<Image<uint16_t>>(frame[k]));
            benchmark::DoNotOptimize(distance.value().get());
            benchmark::DoNotOptimize(amplitude.value().get());
        }
    }
    kyr::platform::register_log_function(nullptr);
    registry.registerProvider<PhaseOffsetData>(DefaultProvider<PhaseOffsetData>::getInstance());
    registry.registerProvider<PhaseErrorLUTData>(DefaultProvider<PhaseErrorLUTData>::getInstance());
    setRate(state, hwy::TargetName(hwy::SupportedAndGeneratedTargets().front()));
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
    setRate(state, "scalar");
}

#define SENSOR_SIZES ArgNames({"w", "h"})->Args({320, 240})->Args({640, 480})
BENCHMARK(BM_DCS2DistAmpGraph)->SENSOR_SIZES;
BENCHMARK(BM_DCS2DistAmpGraph_ScalarReference)->SENSOR_SIZES;

}  // namespace
