// The temporal and Kalman filters at the two sensor sizes, each run as an
// enabled stage of the dataflow in steady state (after the first frame;
// output allocation included), against its scalar reference built without
// vectorisation (temporal_scalar.cpp) in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "kyr/image.h"
#include "kyr/stages/filters/kalmanFilter.h"
#include "kyr/stages/filters/temporalFilter.h"
#include "pixel_rate.h"
#include "temporal_scalar.h"

namespace {

using Img = Image<uint16_t>;
constexpr size_t FRAMES = 4;

// A few frames of one scene: distances with noise of a few centimetres, one
// pixel in twenty jumping by more than the temporal threshold, amplitudes
// from weak to bright.
struct Scene {
    Scene(size_t w, size_t h) {
        std::mt19937 rng(static_cast<unsigned>(w * h));
        std::uniform_int_distribution<int> depth(400, 6000), noise(-40, 40), jump(-2000, 2000);
        std::uniform_int_distribution<int> brightness(0, 3000), chance(0, 19);
        std::vector<int> base(w * h);
        for (int& d : base) d = depth(rng);
        for (size_t f = 0; f < FRAMES; ++f) {
            distance.push_back(Img::createNewBuffer(w, h));
            amplitude.push_back(Img::createNewBuffer(w, h));
            for (size_t i = 0; i < w * h; ++i) {
                const int d = base[i] + noise(rng) + (chance(rng) == 0 ? jump(rng) : 0);
                distance[f]->getData()[i] = static_cast<uint16_t>(std::clamp(d, 0, 63999));
                amplitude[f]->getData()[i] = static_cast<uint16_t>(brightness(rng));
            }
        }
    }
    std::vector<std::shared_ptr<Img>> distance, amplitude;
};

Scene makeScene(const benchmark::State& state) {
    return Scene(static_cast<size_t>(state.range(0)), static_cast<size_t>(state.range(1)));
}

void BM_TemporalFilter(benchmark::State& state) {
    const Scene scene = makeScene(state);
    TemporalFilter stage;
    Source<Img> source;
    Sink<Img> result;
    stage.input << source;
    result << stage;
    stage.setEnabled(true);
    source.fire(std::shared_ptr<Img>(scene.distance[0]));  // the first frame starts the average
    (void)result.value();
    size_t f = 1;
    for (auto _ : state) {
        source.fire(std::shared_ptr<Img>(scene.distance[f++ % FRAMES]));
        benchmark::DoNotOptimize(result.value().get());
    }
    benchrate::setKernelPixelRate(state, true);
}

void BM_TemporalFilter_ScalarReference(benchmark::State& state) {
    const Scene scene = makeScene(state);
    std::shared_ptr<Img> average = scene.distance[0];
    size_t f = 1;
    for (auto _ : state) {
        average = scalarref::temporalFilter(*scene.distance[f++ % FRAMES], *average,
                                            TemporalFilter::DEFAULT_ALPHA,
                                            TemporalFilter::DEFAULT_THRESHOLD);
        benchmark::DoNotOptimize(average.get());
    }
    benchrate::setKernelPixelRate(state, false);
}

void BM_KalmanFilter(benchmark::State& state) {
    const Scene scene = makeScene(state);
    KalmanFilter stage;
    Source<Img> distance, amplitude;
    Sink<Img> result;
    stage.inputDistance << distance;
    stage.inputAmplitude << amplitude;
    result << stage;
    stage.setEnabled(true);
    distance.fire(std::shared_ptr<Img>(scene.distance[0]));  // the first frame starts the state
    amplitude.fire(std::shared_ptr<Img>(scene.amplitude[0]));
    (void)result.value();
    size_t f = 1;
    for (auto _ : state) {
        distance.fire(std::shared_ptr<Img>(scene.distance[f % FRAMES]));
        amplitude.fire(std::shared_ptr<Img>(scene.amplitude[f++ % FRAMES]));
        benchmark::DoNotOptimize(result.value().get());
    }
    benchrate::setKernelPixelRate(state, true);
}

void BM_KalmanFilter_ScalarReference(benchmark::State& state) {
    const Scene scene = makeScene(state);
    const Img& first = *scene.distance[0];
    auto estimate = Img::createNewBuffer(first.getWidth(), first.getHeight());
    auto uncertainty = Img::createNewBuffer(first.getWidth(), first.getHeight());
    estimate->setData(first.getData(), first.pixelCount());
    std::fill_n(uncertainty->getData(), uncertainty->pixelCount(), uint16_t{0});
    size_t f = 1;
    for (auto _ : state) {
        const auto out = scalarref::kalmanFilter(
            *scene.distance[f % FRAMES], *scene.amplitude[f % FRAMES], *estimate, *uncertainty,
            KalmanFilter::DEFAULT_PROCESS_NOISE, KalmanFilter::DEFAULT_UNCERTAINTY_THRESHOLD);
        ++f;
        benchmark::DoNotOptimize(out.get());
    }
    benchrate::setKernelPixelRate(state, false);
}

#define SENSOR_SIZES ArgNames({"w", "h"})->Args({320, 240})->Args({640, 480})
BENCHMARK(BM_TemporalFilter)->SENSOR_SIZES;
BENCHMARK(BM_TemporalFilter_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_KalmanFilter)->SENSOR_SIZES;
BENCHMARK(BM_KalmanFilter_ScalarReference)->SENSOR_SIZES;

}  // namespace
