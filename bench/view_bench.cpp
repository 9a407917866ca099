// ozr-view's work per frame on the camera's thread at 320 x 240 and
// 640 x 480: the statistics, the display ranges and the binary message that
// every viewer receives, for a distance frame of the boxes scene. The
// reference in the same run is the least any message costs: a plain copy of
// the two 16-bit planes into a buffer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>

#include "frame_counters.h"
#include "frame_stats.h"
#include "ozr/tofcam.h"
#include "ozrsim.h"
#include "view_frame.h"

namespace {

// A distance frame of the virtual sensor's boxes scene; null (the benchmark
// skipped) when the camera delivers none.
std::unique_ptr<ozr::TOFFrame> boxesFrame(benchmark::State& state) {
    ozrsim::Config c;
    c.model = ozrsim::Model::OZR320;
    c.width = static_cast<uint32_t>(state.range(0));
    c.height = static_cast<uint32_t>(state.range(1));
    c.scene.name = "boxes";
    c.timing.exposureDelayUs = 0;
    c.timing.readoutUs = 0;
    if (ozrsim::configure(c) != 0) {
        state.SkipWithError("the virtual driver refused the configuration");
        return nullptr;
    }
    kyr::platform::register_log_function(&benchcount::quiet);
    ozr::TOFCam cam(ozr::TOFSensor::ozr320);
    std::unique_ptr<ozr::TOFFrame> frame;
    if (cam.open() != 0 || cam.captureFrame(frame) != 0) {
        state.SkipWithError("no frame from the camera");
        return nullptr;
    }
    return frame;
}

void BM_ViewFrameMessage(benchmark::State& state) {
    const std::unique_ptr<ozr::TOFFrame> frame = boxesFrame(state);
    if (!frame) return;
    std::string message;
    for (auto _ : state) {
        const capture::FrameStats stats =
            capture::computeStats(*frame, ozr::AcquisitionMode::DIST_AMP);
        view::encodeFrame(*frame, stats, view::FrameInfo{}, message);
        benchmark::DoNotOptimize(message.data());
    }
    state.counters["bytes"] = static_cast<double>(message.size());
}

void BM_ViewPlaneCopy(benchmark::State& state) {
    const std::unique_ptr<ozr::TOFFrame> frame = boxesFrame(state);
    if (!frame) return;
    const size_t bytes = size_t{frame->getWidth()} * frame->getHeight() * 2;
    std::string message;
    for (auto _ : state) {
        message.assign(2 * bytes, '\0');
        std::memcpy(message.data(), frame->getData<uint16_t>(ozr::FrameType::DISTANCE), bytes);
        std::memcpy(message.data() + bytes, frame->getData<uint16_t>(ozr::FrameType::AMPLITUDE),
                    bytes);
        benchmark::DoNotOptimize(message.data());
    }
    state.counters["bytes"] = static_cast<double>(message.size());
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Args({320, 240})->Args({640, 480})->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK(BM_ViewFrameMessage)->Apply(sizes);
BENCHMARK(BM_ViewPlaneCopy)->Apply(sizes);
