// The control API: thin calls into the one emulated device, and the
// configuration from the environment when the library is preloaded.
#include "ozrsim.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device.h"
#include "envconfig.h"

namespace ozrsim {

int configure(const Config& config) {
    return Device::instance().configure(config);
}
void reset() {
    Device::instance().reset();
}
bool isConfigured() {
    return Device::instance().configured();
}
void setFaults(const FaultConfig& faults) {
    Device::instance().setFaults(faults);
}
void disconnect() {
    Device::instance().disconnect();
}
void reconnect() {
    Device::instance().reconnect();
}
float temperature() {
    return Device::instance().temperature();
}
void setTemperature(float celsius) {
    Device::instance().setTemperature(celsius);
}
std::optional<int32_t> controlValue(uint32_t id) {
    return Device::instance().controlValue(id);
}
GroundTruth lastTruth() {
    return Device::instance().lastTruth();
}
SensorState lastState() {
    return Device::instance().lastState();
}
Counters counters() {
    return Device::instance().counters();
}
bool waitIdle(std::chrono::milliseconds timeout) {
    return Device::instance().waitIdle(timeout);
}
std::string rootDirectory() {
    return Device::instance().rootDirectory();
}

int configureFromEnvironment() {
    Config config;
    std::string error;
    const int rc = env::readConfig(config, error);
    if (rc != 0) {
        if (rc < 0) std::fprintf(stderr, "ozrsim: %s\n", error.c_str());
        return rc;
    }
    const int result = configure(config);
    if (result < 0) {
        std::fprintf(stderr, "ozrsim: cannot start the virtual sensor: %s\n",
                     std::strerror(-result));
        return result;
    }
    if (const char* warm = std::getenv("OZRSIM_WARM_UP"); warm && std::strcmp(warm, "1") == 0) {
        Device::instance().warmUp(std::chrono::minutes(2));
    }
    return result;
}

namespace {

// OZRSIM_REPORT_TRUTH=1: when the program ends, the true distance of the
// last rendered frame goes to standard error (nothing when no frame was
// rendered), for comparison with what the program measured, with the true
// 3-D point (millimetres; x right, y down, z forward) of the centre pixel and
// of the pixel OZRSIM_TRUTH_PIXEL="X,Y" names.
void reportPoint(const GroundTruth& truth, uint32_t x, uint32_t y) {
    const std::array<float, 3> p = truth.pointMm(x, y);
    std::fprintf(stderr,
                 "ozr-sim: true point of pixel %u,%u: distance %.1f mm, x %.1f y %.1f z %.1f mm\n",
                 x, y, truth.distanceMm[y * size_t{truth.width} + x], p[0], p[1], p[2]);
}

void reportTruth() {
    const GroundTruth truth = lastTruth();
    const size_t n = truth.distanceMm.size();
    if (n == 0 || n != size_t{truth.width} * truth.height) return;
    const float centre = truth.distanceMm[truth.height / 2 * size_t{truth.width} + truth.width / 2];
    std::vector<float> sorted = truth.distanceMm;
    std::nth_element(sorted.begin(), sorted.begin() + n / 2, sorted.end());
    std::fprintf(stderr,
                 "ozr-sim: true distance of the last frame: centre %.1f mm, median %.1f mm "
                 "(%ux%u pixels)\n",
                 centre, sorted[n / 2], truth.width, truth.height);
    reportPoint(truth, truth.width / 2, truth.height / 2);
    const char* pixel = std::getenv("OZRSIM_TRUTH_PIXEL");
    unsigned x = 0, y = 0;
    char rest = 0;
    if (pixel == nullptr) return;
    if (std::sscanf(pixel, "%u,%u%c", &x, &y, &rest) == 2 && x < truth.width && y < truth.height) {
        reportPoint(truth, x, y);
    } else {
        std::fprintf(stderr, "ozr-sim: --truth-pixel %s is not a pixel X,Y of the %ux%u image\n",
                     pixel, truth.width, truth.height);
    }
}

// Preloaded (or linked) into a program started by ozr-sim: serve what the
// environment describes. Without OZRSIM_MODEL nothing happens.
__attribute__((constructor)) void configureAtLoad() {
    if (configureFromEnvironment() != 0) return;
    // Registered after the device's own exit handler, so it runs first.
    if (const char* report = std::getenv("OZRSIM_REPORT_TRUTH");
        report && std::strcmp(report, "1") == 0) {
        std::atexit(&reportTruth);
    }
}

}  // namespace

}  // namespace ozrsim
