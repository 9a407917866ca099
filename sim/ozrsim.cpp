// The control API: thin calls into the one emulated device, and the
// configuration from the environment when the library is preloaded.
#include "ozrsim.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

// Preloaded (or linked) into a program started by ozr-sim: serve what the
// environment describes. Without OZRSIM_MODEL nothing happens.
__attribute__((constructor)) void configureAtLoad() {
    configureFromEnvironment();
}

}  // namespace

}  // namespace ozrsim
