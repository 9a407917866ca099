// The camera end to end on the virtual sensor driver (OZR320 model, its
// simulated exposure and readout set to zero), in each acquisition mode at
// 320 x 240 and 640 x 480: ozr::TOFCam streams and the benchmark thread
// takes every frame with captureFrame(), as an application does. In the two
// distance modes every filter and mask is on.
//
// Reference in the same run: the virtual driver alone in the same mode and
// size, driven by plain V4L2 requests (trigger, dequeue and re-queue the
// frame's images), so that frames per second read as a ratio against what
// the driver delivers without the library.
//
// Counters: "fps" (frames per second of wall time), and for the camera
// "lib_cpu_us", the library's CPU time per frame: that of the streaming
// thread (sensor source and every stage) and of the benchmark thread
// (captureFrame and its phase image), without the driver's rendering thread.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>

#include "driver_stream.h"
#include "fast_sim.h"
#include "frame_counters.h"
#include "kyr/platform.h"
#include "ozr/tofcam.h"
#include "ozrsim.h"

namespace {

using ozr::AcquisitionMode;
using ozr::ControlID;

constexpr const char* VIDEO = "/run/ozr320/video";
constexpr const char* SUBDEV = "/run/ozr320/subdev";

AcquisitionMode modeOf(const benchmark::State& state) {
    return static_cast<AcquisitionMode>(state.range(0));
}

const char* modeName(AcquisitionMode mode) {
    switch (mode) {
        case AcquisitionMode::DIST_AMP:
            return "DIST_AMP";
        case AcquisitionMode::DIST_AMP_HDR:
            return "DIST_AMP_HDR";
        case AcquisitionMode::GRAYSCALE:
            return "GRAYSCALE";
        default:
            return "DCS4";
    }
}

void setFps(benchmark::State& state) {
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(modeName(modeOf(state)));
}

std::set<pid_t> tasks() {
    std::set<pid_t> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* e = readdir(dir)) {
            if (e->d_name[0] != '.') ids.insert(static_cast<pid_t>(std::atoi(e->d_name)));
        }
        closedir(dir);
    }
    return ids;
}

// CPU time of a thread of this process by its id: the per-thread CPU clock
// the kernel offers for any thread of the caller's process (the encoding that
// pthread_getcpuclockid() uses: ~tid << 3, per-thread, scheduler clock).
int64_t threadCpuNs(pid_t tid) {
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6u);
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0) {
        return 0;
    }
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void BM_Camera(benchmark::State& state) {
    if (!benchsim::configureFastSim(state, state.range(1), state.range(2))) {
        return;
    }
    kyr::platform::register_log_function(&benchcount::quiet);
    {
        ozr::TOFCam cam(ozr::TOFSensor::ozr320);
        const AcquisitionMode mode = modeOf(state);
        bool ok = cam.open() == 0 && cam.setControl(ControlID::ACQUISITION_MODE, mode) == 0;
        if (mode == AcquisitionMode::DIST_AMP || mode == AcquisitionMode::DIST_AMP_HDR) {
            for (ControlID on :
                 {ControlID::MEDIAN_FILTER_ENABLE, ControlID::AVERAGE_FILTER_ENABLE,
                  ControlID::TEMPORAL_FILTER_ENABLE, ControlID::KALMAN_FILTER_ENABLE,
                  ControlID::EDGE_FILTER_ENABLE, ControlID::INTERFERENCE_DETECTION_ENABLE,
                  ControlID::INTERFERENCE_ENABLE_LATCHING}) {
                ok = ok && cam.setControl(on, 1) == 0;
            }
        }
        // The streaming thread is the first thread started from here on (the
        // driver's rendering thread, if new, starts at its first trigger).
        const std::set<pid_t> before = tasks();
        ok = ok && cam.startStream() == 0;
        std::unique_ptr<ozr::TOFFrame> frame;
        for (int i = 0; ok && i < benchcount::WARM_UP_FRAMES; ++i) {
            ok = cam.captureFrame(frame) == 0;
        }
        pid_t streaming = 0;
        for (pid_t tid : tasks()) {
            if (!before.contains(tid) && (streaming == 0 || tid < streaming)) streaming = tid;
        }
        if (!ok || streaming == 0) {
            state.SkipWithError("the camera did not stream");
        }
        const int64_t cpuBefore = threadCpuNs(streaming) + threadCpuNs(syscall(SYS_gettid));
        for (auto _ : state) {
            if (!ok) {
                break;
            }
            if (cam.captureFrame(frame) != 0) {
                state.SkipWithError("no frame");
                break;
            }
            benchmark::DoNotOptimize(frame.get());
        }
        const int64_t cpu = threadCpuNs(streaming) + threadCpuNs(syscall(SYS_gettid)) - cpuBefore;
        state.counters["lib_cpu_us"] = benchmark::Counter(static_cast<double>(cpu) / 1000.0,
                                                          benchmark::Counter::kAvgIterations);
        cam.stopStream();
    }
    kyr::platform::register_log_function(nullptr);
    ozrsim::reset();
    setFps(state);
}

// Reference: the driver alone in the same mode, one frame per iteration.
void BM_Camera_DriverAlone(benchmark::State& state) {
    if (!benchsim::configureFastSim(state, state.range(1), state.range(2))) {
        return;
    }
    const AcquisitionMode mode = modeOf(state);
    // The driver's acquisition modes: 0 4DCS, 1 grayscale, 2 HDR.
    const int driverMode = mode == AcquisitionMode::GRAYSCALE      ? 1
                           : mode == AcquisitionMode::DIST_AMP_HDR ? 2
                                                                   : 0;
    const unsigned images = driverMode == 1 ? 1 : driverMode == 2 ? 12 : 4;
    DriverStream stream(VIDEO, SUBDEV, 12, driverMode);
    if (!stream.ok()) {
        state.SkipWithError("V4L2 set-up failed");
    }
    bool ok = stream.ok();
    for (int i = 0; ok && i < benchcount::WARM_UP_FRAMES; ++i) ok = stream.frame(images);
    for (auto _ : state) {
        if (!ok || !stream.frame(images)) {
            state.SkipWithError("DQBUF failed");
            break;
        }
    }
    ozrsim::reset();
    setFps(state);
}

void modesAndSizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"mode", "w", "h"});
    for (AcquisitionMode m : {AcquisitionMode::DIST_AMP, AcquisitionMode::DIST_AMP_HDR,
                              AcquisitionMode::GRAYSCALE, AcquisitionMode::DCS4}) {
        for (auto [w, h] : {std::pair{320, 240}, std::pair{640, 480}}) {
            b->Args({static_cast<int>(m), w, h});
        }
    }
}
BENCHMARK(BM_Camera)->Apply(modesAndSizes)->UseRealTime();
BENCHMARK(BM_Camera_DriverAlone)->Apply(modesAndSizes)->UseRealTime();

}  // namespace
