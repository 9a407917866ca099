// The whole DCS-to-distance graph (differences, amplitude, CORDIC phase,
// phase error table, phase offset, temperature drift, distance) at the two
// sensor sizes, fed by four DCS sources and a temperature source. References
// in the same run: the graph's stages each run by itself on the same inputs
// (the sum of their own times, so that the dataflow's overhead reads as a
// ratio), and the same chain of scalar references built without
// vectorisation (arithmetic_scalar.cpp, compensation_scalar.cpp).
//
// Counters per frame, averaged over the timed frames after a few warm-up
// frames: heap calls (calls of the global operator new of this binary),
// pixel-block heap calls (those of at least PIXEL_BLOCK_BYTES) and minor page
// faults of the benchmark thread.
#include <benchmark/benchmark.h>
#include <hwy/targets.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include "arithmetic_scalar.h"
#include "compensation_scalar.h"
#include "kyr/calibration/calibrationDataRegistry.h"
#include "kyr/graphs/dcs2DistAmpGraph.h"
#include "kyr/image.h"
#include "kyr/platform.h"
#include "kyr/stage.h"

// Heap calls of the whole benchmark binary: the global operator new is
// replaced here, once, for every benchmark of ozr_bench (one relaxed atomic
// increment per call). Blocks of at least PIXEL_BLOCK_BYTES are counted apart:
// they are the pixel arrays of images of 128 x 256 pixels and more.
namespace {
constexpr size_t PIXEL_BLOCK_BYTES = 64 * 1024;
std::atomic<uint64_t> g_heapCalls{0};
std::atomic<uint64_t> g_pixelHeapCalls{0};

void* countedMalloc(size_t size) noexcept {
    g_heapCalls.fetch_add(1, std::memory_order_relaxed);
    if (size >= PIXEL_BLOCK_BYTES) {
        g_pixelHeapCalls.fetch_add(1, std::memory_order_relaxed);
    }
    return std::malloc(size == 0 ? 1 : size);
}
void* countedNew(size_t size) {
    if (void* p = countedMalloc(size)) {
        return p;
    }
    throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t size) {
    return countedNew(size);
}
void* operator new[](size_t size) {
    return countedNew(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return countedMalloc(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return countedMalloc(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

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

// Heap calls and minor page faults so far, read around the timed frames.
struct ResourceCount {
    uint64_t heapCalls;
    uint64_t pixelHeapCalls;
    long minorFaults;

    static ResourceCount now() {
        rusage usage{};
        getrusage(RUSAGE_THREAD, &usage);
        return {g_heapCalls.load(std::memory_order_relaxed),
                g_pixelHeapCalls.load(std::memory_order_relaxed), usage.ru_minflt};
    }
};

void setPerFrameCounters(benchmark::State& state, const ResourceCount& before) {
    const ResourceCount after = ResourceCount::now();
    const auto perFrame = [&](double total) {
        return benchmark::Counter(total, benchmark::Counter::kAvgIterations);
    };
    state.counters["heap_calls"] =
        perFrame(static_cast<double>(after.heapCalls - before.heapCalls));
    state.counters["pixel_heap"] =
        perFrame(static_cast<double>(after.pixelHeapCalls - before.pixelHeapCalls));
    state.counters["page_faults"] =
        perFrame(static_cast<double>(after.minorFaults - before.minorFaults));
}

// Frames run before the counters are read, so that they show the steady state.
constexpr int WARM_UP_FRAMES = 3;

// Keeps the log quiet while the graph is built (no warnings are expected,
// but a benchmark must not print into its table).
void quiet(kyr::platform::LogLevel, const char*, va_list) {}

// Registers the calibration of the frame size for the stages built while it
// lives, and restores the empty providers afterwards.
class CalibrationScope {
public:
    CalibrationScope(size_t w, size_t h) : calibration(w, h) {
        auto& registry = CalibrationDataRegistry::getInstance();
        registry.registerProvider<PhaseOffsetData>(calibration);
        registry.registerProvider<PhaseErrorLUTData>(calibration);
        kyr::platform::register_log_function(&quiet);
    }
    ~CalibrationScope() {
        kyr::platform::register_log_function(nullptr);
        auto& registry = CalibrationDataRegistry::getInstance();
        registry.registerProvider<PhaseOffsetData>(DefaultProvider<PhaseOffsetData>::getInstance());
        registry.registerProvider<PhaseErrorLUTData>(
            DefaultProvider<PhaseErrorLUTData>::getInstance());
    }
    CalibrationScope(const CalibrationScope&) = delete;
    CalibrationScope& operator=(const CalibrationScope&) = delete;

private:
    BenchCalibration calibration;
};

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
        Source<Image<uint16_t>> out[4];
        Source<float> temperature;
        Source<Image<uint16_t>>* dcs[4] = {&out[0], &out[1], &out[2], &out[3]};
        graph.connect(dcs, &temperature);
        Sink<Image<uint16_t>> distance, amplitude;
        distance << *graph.getDistanceSource();
        amplitude << *graph.getAmplitudeSource();
        const auto frame = dcsFrame(w, h);
        const auto runFrame = [&] {
            temperature.fire(std::make_shared<float>(TEMPERATURE_C));
            for (int k = 0; k < 4; ++k) out[k].fire(std::shared_ptr<Image<uint16_t>>(frame[k]));
            benchmark::DoNotOptimize(distance.value().get());
            benchmark::DoNotOptimize(amplitude.value().get());
        };
        for (int i = 0; i < WARM_UP_FRAMES; ++i) runFrame();
        const ResourceCount before = ResourceCount::now();
        const uint64_t ticksBefore = stageTicks();
        const auto start = std::chrono::steady_clock::now();
        for (auto _ : state) {
            runFrame();
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        setPerFrameCounters(state, before);
        state.counters["in_actions"] =
            static_cast<double>(stageTicks() - ticksBefore) / static_cast<double>(elapsed.count());
    }
    setRate(state, hwy::TargetName(hwy::SupportedAndGeneratedTargets().front()));
}

// One free-standing source per input of a stage under test and a sink on its
// output: firing the sources runs the stage once, by itself.
template <typename Stage, typename Out>
struct Alone {
    template <typename... Args>
    explicit Alone(Args... args) : stage(args...) {
        output << stage;
    }
    std::shared_ptr<Out> take() { return output.value(); }
    Stage stage;
    Sink<Out> output;
};

template <typename T>
std::shared_ptr<T> share(const std::shared_ptr<T>& image) {
    return std::shared_ptr<T>(image);
}

// Reference: every stage of the graph run by itself on the inputs it gets in
// the graph, one after the other, each output dropped at once.
void BM_DCS2DistAmpGraph_StagesAlone(benchmark::State& state) {
    using U16 = Image<uint16_t>;
    using I16 = Image<int16_t>;
    const size_t w = static_cast<size_t>(state.range(0)), h = static_cast<size_t>(state.range(1));
    {
        const CalibrationScope scope(w, h);
        Alone<Subtract, I16> diff31, diff20;
        Alone<Amplitude, U16> amplitude;
        Alone<Atan2CORDIC<int16_t>, PhaseImage> atan2;
        Alone<PhaseErrorLUTCompensation, PhaseImage> lut(FREQUENCY_HZ);
        Alone<PhaseOffsetCompensation, PhaseImage> offset(FREQUENCY_HZ);
        Alone<LinearTempCompensation, PhaseImage> drift(FREQUENCY_HZ);
        Alone<PhaseToDistance, U16> distance(FREQUENCY_HZ);
        Source<U16> dcs[4], dcsB[4];
        Source<I16> d31[2], d20[2];
        Source<PhaseImage> raw, table, offsetIn, driftIn;
        Source<float> temperature;
        diff31.stage.minuend << dcs[3];
        diff31.stage.subtrahend << dcs[1];
        diff20.stage.minuend << dcsB[2];
        diff20.stage.subtrahend << dcsB[0];
        amplitude.stage.diff0 << d31[0];
        amplitude.stage.diff1 << d20[0];
        atan2.stage.nominator << d31[1];
        atan2.stage.denominator << d20[1];
        lut.stage.input << raw;
        offset.stage.input << table;
        drift.stage.phaseInput << offsetIn;
        drift.stage.tempInput << temperature;
        distance.stage.phaseInput << driftIn;

        // The inputs of each stage, as the graph hands them over.
        const auto frame = dcsFrame(w, h);
        temperature.fire(std::make_shared<float>(TEMPERATURE_C));
        const auto runDiffs = [&] {
            dcs[3].fire(share(frame[3]));
            dcs[1].fire(share(frame[1]));
            dcsB[2].fire(share(frame[2]));
            dcsB[0].fire(share(frame[0]));
        };
        runDiffs();
        const auto in31 = diff31.take(), in20 = diff20.take();
        d31[1].fire(share(in31));
        d20[1].fire(share(in20));
        const auto inRaw = atan2.take();
        raw.fire(share(inRaw));
        const auto inTable = lut.take();
        table.fire(share(inTable));
        const auto inOffset = offset.take();
        offsetIn.fire(share(inOffset));
        const auto inDrift = drift.take();

        const auto runStages = [&] {
            runDiffs();
            benchmark::DoNotOptimize(diff31.take().get());
            benchmark::DoNotOptimize(diff20.take().get());
            d31[0].fire(share(in31));
            d20[0].fire(share(in20));
            benchmark::DoNotOptimize(amplitude.take().get());
            d31[1].fire(share(in31));
            d20[1].fire(share(in20));
            benchmark::DoNotOptimize(atan2.take().get());
            raw.fire(share(inRaw));
            benchmark::DoNotOptimize(lut.take().get());
            table.fire(share(inTable));
            benchmark::DoNotOptimize(offset.take().get());
            offsetIn.fire(share(inOffset));
            benchmark::DoNotOptimize(drift.take().get());
            driftIn.fire(share(inDrift));
            benchmark::DoNotOptimize(distance.take().get());
        };
        for (int i = 0; i < WARM_UP_FRAMES; ++i) runStages();
        const ResourceCount before = ResourceCount::now();
        for (auto _ : state) {
            runStages();
        }
        setPerFrameCounters(state, before);
    }
    setRate(state, "stages alone");
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
BENCHMARK(BM_DCS2DistAmpGraph_StagesAlone)->SENSOR_SIZES;
BENCHMARK(BM_DCS2DistAmpGraph_ScalarReference)->SENSOR_SIZES;

}  // namespace
