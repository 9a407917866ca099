// Frames per second of the raw DCS pipeline from the virtual sensor driver to
// the application sink, with the driver's simulated exposure and readout set
// to zero. The reference in the same run is the driver alone, driven by plain
// V4L2 requests (trigger, dequeue and re-queue four buffers): the ratio of the
// two times is the share of a frame spent in the driver (rendering the scene
// and copying it into the buffers); the rest is the library's own cost.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <memory>

#include "driver_stream.h"
#include "fast_sim.h"
#include "kyr/pipelines/dcs4Pipeline.h"
#include "kyr/sensors/hwmonSensor.h"
#include "kyr/sensors/v4l2Sensor.h"
#include "kyr/sinks/appSink.h"
#include "kyr/sources/ozr320Source.h"
#include "ozrsim.h"

namespace {

void BM_DCS4Pipeline(benchmark::State& state) {
    if (!benchsim::configureFastSim(state, state.range(0), state.range(1))) {
        return;
    }
    {
        auto video = V4l2Sensor::acquire(ozr320Paths.videoPath, ozr320Paths.subdevPath,
                                         ozr320Paths.nVideoBuffers);
        auto temp = HwMonSensor::acquire(ozr320Paths.tempPath, "/sys/class/hwmon");
        if (!video || !temp) {
            state.SkipWithError("no device");
            ozrsim::reset();
            return;
        }
        OZR320Source source(std::move(video), std::move(temp), 4);
        DCS4Pipeline pipeline(source);
        DcsSink<4> sink;
        for (size_t i = 0; i < 4; ++i) {
            sink.dcs[i] << *pipeline.getOutputs().dcs[i];
        }
        pipeline.startStream(0);
        for (auto _ : state) {
            auto lock = sink.lockNextFrame(1000);
            if (lock.timedout()) {
                state.SkipWithError("no frame");
                break;
            }
            sink.clearNewData();
            benchmark::DoNotOptimize(sink.getDcsBuffer(3).get());
        }
        pipeline.stopStream(true);
    }
    ozrsim::reset();
    state.SetItemsProcessed(state.iterations());  // frames
    state.counters["Mpixel/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * state.range(0) * state.range(1) * 4) / 1e6,
        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DCS4Pipeline)->Args({320, 240})->Args({640, 480})->UseRealTime();

// Reference: the driver alone, one frame per iteration.
void BM_DriverOnly(benchmark::State& state) {
    if (!benchsim::configureFastSim(state, state.range(0), state.range(1))) {
        return;
    }
    DriverStream stream(ozr320Paths.videoPath, ozr320Paths.subdevPath, 4);
    if (!stream.ok()) {
        state.SkipWithError("V4L2 set-up failed");
    }
    for (auto _ : state) {
        if (!stream.ok()) {
            break;
        }
        if (!stream.frame(4)) {
            state.SkipWithError("DQBUF failed");
            break;
        }
    }
    ozrsim::reset();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DriverOnly)->Args({320, 240})->Args({640, 480})->UseRealTime();

}  // namespace
