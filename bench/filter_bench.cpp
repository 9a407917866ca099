// The spatial kernel filters at the two sensor sizes, each run as an enabled
// stage of the dataflow (output allocation included), against its scalar
// reference built without vectorisation (filter_scalar.cpp) in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <type_traits>

#include "filter_scalar.h"
#include "kyr/image.h"
#include "kyr/stages/filters/kernelFilter.h"
#include "optimized/filterKernels.h"
#include "pixel_rate.h"

namespace {

using namespace kyr::kernels;

// Distances of a scene of a few surfaces with noise of a few centimetres,
// one pixel in fifty a pixel code; float images carry the same distances
// with fractions.
template <typename T>
std::shared_ptr<Image<T>> scene(const benchmark::State& state) {
    const auto w = static_cast<size_t>(state.range(0));
    const auto h = static_cast<size_t>(state.range(1));
    auto img = Image<T>::createNewBuffer(w, h);
    std::mt19937 rng(static_cast<unsigned>(w * h));
    std::uniform_int_distribution<int> noise(-40, 40), chance(0, 49), code(64001, 64006);
    std::uniform_real_distribution<float> fraction(0.0f, 1.0f);
    for (size_t y = 0; y < h; ++y) {
        for (size_t x = 0; x < w; ++x) {
            const int surface = (x * 4 / w) * 700 + (y * 3 / h) * 1100 + 800;
            const int d = chance(rng) == 0 ? code(rng) : surface + noise(rng);
            if constexpr (std::is_same_v<T, float>) {
                img->getData()[y * w + x] = static_cast<float>(d) + fraction(rng);
            } else {
                img->getData()[y * w + x] = static_cast<uint16_t>(d);
            }
        }
    }
    return img;
}

template <class Kernel>
void BM_Filter(benchmark::State& state) {
    using Img = Image<typename Kernel::Type>;
    const auto in = scene<typename Kernel::Type>(state);
    KernelFilter<Kernel> stage;
    Source<Img> source;
    Sink<Img> result;
    stage.input << source;
    result << stage;
    stage.setEnabled(true);
    for (auto _ : state) {
        source.fire(std::shared_ptr<Img>(in));
        benchmark::DoNotOptimize(result.value().get());
    }
    benchrate::setKernelPixelRate(state, true);
}

template <class Kernel>
void BM_Filter_ScalarReference(benchmark::State& state) {
    const auto in = scene<typename Kernel::Type>(state);
    Kernel kernel;
    for (auto _ : state) {
        const auto out = scalarref::kernelFilter(kernel, *in);
        benchmark::DoNotOptimize(out.get());
    }
    benchrate::setKernelPixelRate(state, false);
}

#define SENSOR_SIZES ArgNames({"w", "h"})->Args({320, 240})->Args({640, 480})
#define FILTER_BENCHMARKS(NAME, ...)                          \
    BENCHMARK_TEMPLATE(BM_Filter, __VA_ARGS__)->SENSOR_SIZES; \
    BENCHMARK_TEMPLATE(BM_Filter_ScalarReference, __VA_ARGS__)->SENSOR_SIZES;
KYR_FILTER_CATALOGUE(FILTER_BENCHMARKS)

}  // namespace
