// The mask, error-code, HDR selection and stitch stages at the two sensor
// sizes, each run as a stage of the dataflow (output allocation included),
// against its scalar reference built without vectorisation (mask_scalar.cpp)
// in the same run. Rates read as Mpixel/s.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "kyr/image.h"
#include "kyr/stages/applyErrorMask.h"
#include "kyr/stages/errorToZero.h"
#include "kyr/stages/hdrSelectionMask.h"
#include "kyr/stages/mergeErrorMasks.h"
#include "kyr/stages/minAmplitude.h"
#include "kyr/stages/minAmplitudeMask.h"
#include "kyr/stages/saturationMask.h"
#include "kyr/stages/stitch.h"
#include "mask_scalar.h"
#include "pixel_rate.h"

namespace {

using scalarref::U16;

constexpr uint16_t MIN_AMPLITUDE = 100;

// Images as a frame delivers them: raw 12-bit DCS samples with a few
// saturated and overflowed ones, amplitudes and distances with some pixel
// codes, error masks that are mostly 0, an exposure index per pixel.
struct Frame {
    Frame(size_t w, size_t h) {
        std::mt19937 rng(static_cast<unsigned>(w * h));
        std::uniform_int_distribution<int> sample(0, 4095), percent(0, 99), code(64001, 64006);
        std::uniform_int_distribution<int> amp(0, 3000), mm(0, 7000), exposure(0, 2);
        const auto make = [&](auto value) {
            auto img = U16::createNewBuffer(w, h);
            for (size_t i = 0; i < img->pixelCount(); ++i) {
                img->getData()[i] = static_cast<uint16_t>(value());
            }
            return img;
        };
        const auto sometimesCode = [&](int p, auto value) {
            return [&, p, value]() mutable { return percent(rng) < p ? code(rng) : value(); };
        };
        for (auto& d : dcs) {
            d = make([&] {
                const int p = percent(rng);
                return p == 0 ? 0 : p == 1 ? 4095 : sample(rng);
            });
        }
        for (auto& a : amplitude) a = make(sometimesCode(5, [&] { return amp(rng); }));
        for (auto& m : mask) m = make(sometimesCode(5, [] { return 0; }));
        distance = make(sometimesCode(2, [&] { return mm(rng); }));
        selection = make([&] { return exposure(rng); });
    }
    std::shared_ptr<U16> dcs[4], amplitude[3], mask[3], distance, selection;
};

size_t width(const benchmark::State& s) {
    return static_cast<size_t>(s.range(0));
}
size_t height(const benchmark::State& s) {
    return static_cast<size_t>(s.range(1));
}

// Runs a stage once per iteration by publishing one image to each input fed.
class StageRun {
public:
    template <typename T>
    StageRun& feed(Input<T>& input, const std::shared_ptr<T>& image) {
        auto source = std::make_unique<Source<T>>();
        input << *source;
        fires.push_back([s = source.get(), image] { s->fire(std::shared_ptr<T>(image)); });
        sources.push_back(std::move(source));
        return *this;
    }

    template <typename Out>
    void run(benchmark::State& state, Stage<Out>& stage) {
        Sink<Out> result;
        result << stage;
        for (auto _ : state) {
            for (const auto& fire : fires) fire();
            benchmark::DoNotOptimize(result.value().get());
        }
        benchrate::setKernelPixelRate(state, true);
    }

private:
    std::vector<std::unique_ptr<SourceBase>> sources;
    std::vector<std::function<void()>> fires;
};

template <typename Fn>
void runScalar(benchmark::State& state, Fn reference) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(reference().get());
    }
    benchrate::setKernelPixelRate(state, false);
}

void BM_SaturationMask4(benchmark::State& state) {
    const Frame f(width(state), height(state));
    SaturationMask<4> stage;
    StageRun run;
    for (size_t k = 0; k < 4; ++k) run.feed(stage.input[k], f.dcs[k]);
    run.run(state, stage);
}

void BM_SaturationMask4_ScalarReference(benchmark::State& state) {
    const Frame f(width(state), height(state));
    runScalar(state, [&] {
        return scalarref::saturationMask(*f.dcs[0], *f.dcs[1], *f.dcs[2], *f.dcs[3]);
    });
}

void BM_SaturationMask1(benchmark::State& state) {
    const Frame f(width(state), height(state));
    SaturationMask<1> stage;
    StageRun().feed(stage.input[0], f.dcs[0]).run(state, stage);
}

void BM_SaturationMask1_ScalarReference(benchmark::State& state) {
    const Frame f(width(state), height(state));
    runScalar(state, [&] { return scalarref::saturationMask(*f.dcs[0]); });
}

void BM_MinAmplitudeMask(benchmark::State& state) {
    const Frame f(width(state), height(state));
    MinAmplitudeMask stage(MIN_AMPLITUDE);
    StageRun().feed(stage.amplitude, f.amplitude[0]).run(state, stage);
}

void BM_MinAmplitudeMask_ScalarReference(benchmark::State& state) {
    const Frame f(width(state), height(state));
    runScalar(state, [&] { return scalarref::minAmplitudeMask(*f.amplitude[0], MIN_AMPLITUDE); });
}

void BM_MinAmplitude(benchmark::State& state) {
    const Frame f(width(state), height(state));
    MinAmplitude stage(MIN_AMPLITUDE);
    StageRun()
        .feed(stage.amplitude, f.amplitude[0])
        .feed(stage.distance, f.distance)
        .run(state, stage);
}

void BM_MinAmplitude_ScalarReference(benchmark::State& state) {
    const Frame f(width(state), height(state));
    runScalar(state,
              [&] { return scalarref::minAmplitude(*f.amplitude[0], *f.distance, MIN_AMPLITUDE); });
}

void BM_MergeErrorMasks3(benchmark::State& state) {
    const Frame f(width(state), height(state));
    MergeErrorMasks<3> stage;
    StageRun run;
    for (size_t k = 0; k < 3; ++k) run.feed(stage.input[k], f.mask[k]);
    run.run(state, stage);
}

void BM_MergeErrorMasks3_ScalarReference(benchmark::State& state) {
    const Frame f(width(state), height(state));
    runScalar(state,
              [&] { return scalarref::mergeErrorMasks(*f.mask[0], *f.mask[1], *f.mask[2]); });
}

void BM_ApplyErrorMask(benchmark::State& state) {
    const Frame f(width(state), height(state));
    ApplyErrorMask stage;
    StageRun().feed(stage.image, f.distance).feed(stage.mask, f.mask[0]).run(state, stage);
}

void BM_ApplyErrorMask_ScalarReference(benchmark::State& state) {
    const Frame f(width(state), height(state));
    runScalar(state, [&] { return scalarref::applyErrorMask(*f.distance, *f.mask[0]); });
}

void BM_ErrorToZero(benchmark::State& state) {
    const Frame f(width(state), height(state));
    ErrorToZero stage;
    StageRun().feed(stage.input, f.distance).run(state, stage);
}

void BM_ErrorToZero_ScalarReference(benchmark::State& state) {
    const Frame f(width(state), height(state));
    runScalar(state, [&] { return scalarref::errorToZero(*f.distance); });
}

void BM_HDRSelectionMask3(benchmark::State& state) {
    const Frame f(width(state), height(state));
    HDRSelectionMask<3> stage;
    StageRun run;
    for (size_t k = 0; k < 3; ++k) run.feed(stage.amplitude[k], f.amplitude[k]);
    run.run(state, stage);
}

void BM_HDRSelectionMask3_ScalarReference(benchmark::State& state) {
    const Frame f(width(state), height(state));
    runScalar(state, [&] {
        return scalarref::hdrSelection(*f.amplitude[0], *f.amplitude[1], *f.amplitude[2]);
    });
}

void BM_Stitch3(benchmark::State& state) {
    const Frame f(width(state), height(state));
    Stitch<3, uint16_t> stage;
    StageRun run;
    run.feed(stage.inMask, f.selection);
    for (size_t k = 0; k < 3; ++k) run.feed(stage.amplitude[k], f.dcs[k]);
    run.run(state, stage);
}

void BM_Stitch3_ScalarReference(benchmark::State& state) {
    const Frame f(width(state), height(state));
    runScalar(state,
              [&] { return scalarref::stitch(*f.selection, *f.dcs[0], *f.dcs[1], *f.dcs[2]); });
}

#define SENSOR_SIZES ArgNames({"w", "h"})->Args({320, 240})->Args({640, 480})
BENCHMARK(BM_SaturationMask4)->SENSOR_SIZES;
BENCHMARK(BM_SaturationMask4_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_SaturationMask1)->SENSOR_SIZES;
BENCHMARK(BM_SaturationMask1_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_MinAmplitudeMask)->SENSOR_SIZES;
BENCHMARK(BM_MinAmplitudeMask_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_MinAmplitude)->SENSOR_SIZES;
BENCHMARK(BM_MinAmplitude_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_MergeErrorMasks3)->SENSOR_SIZES;
BENCHMARK(BM_MergeErrorMasks3_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_ApplyErrorMask)->SENSOR_SIZES;
BENCHMARK(BM_ApplyErrorMask_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_ErrorToZero)->SENSOR_SIZES;
BENCHMARK(BM_ErrorToZero_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_HDRSelectionMask3)->SENSOR_SIZES;
BENCHMARK(BM_HDRSelectionMask3_ScalarReference)->SENSOR_SIZES;
BENCHMARK(BM_Stitch3)->SENSOR_SIZES;
BENCHMARK(BM_Stitch3_ScalarReference)->SENSOR_SIZES;

}  // namespace
