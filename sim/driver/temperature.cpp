// The die temperature: a first-order model that warms while streaming and
// cools when idle, and the hwmon input file that samples it.
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "device.h"
#include "device_util.h"

namespace ozrsim {

float Device::temperature() {
    std::lock_guard<std::mutex> lock(mu_);
    return temperatureLocked(Clock::now());
}

void Device::setTemperature(float celsius) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!std::isfinite(celsius)) return;
    tempBase_ = celsius;
    tempSince_ = Clock::now();
    if (configured_) tree_.writeTemperature(static_cast<int32_t>(std::lround(celsius * 1000.0f)));
}

float Device::temperatureLocked(Clock::time_point now) const {
    const TemperatureConfig& t = config_.temperature;
    if (t.timeConstantS <= 0.0f) return tempBase_;
    const float target = streaming_ ? t.hotC : t.startC;
    const double dt = std::chrono::duration<double>(now - tempSince_).count();
    return target + (tempBase_ - target) * static_cast<float>(std::exp(-dt / t.timeConstantS));
}

void Device::retargetTemperatureLocked(Clock::time_point now) {
    tempBase_ = temperatureLocked(now);
    tempSince_ = now;
}

void Device::refreshTemperatureFile() {
    std::lock_guard<std::mutex> lock(mu_);
    if (!configured_) return;
    tree_.writeTemperature(
        static_cast<int32_t>(std::lround(temperatureLocked(Clock::now()) * 1000.0f)));
}

ssize_t Device::readHwmon(int fd, void* buf, size_t count, off_t offset, bool positioned) {
    std::lock_guard<std::mutex> lock(mu_);
    SanitizerLockNote note(mu_);
    OpenFile* file = findLocked(fd, true);
    if (!file || file->kind != NodeKind::HwmonInput) return NOT_SERVED;
    // Every read samples the sensor, as sysfs attributes do.
    const std::string text =
        std::to_string(std::lround(temperatureLocked(Clock::now()) * 1000.0f)) + "\n";
    if (!positioned) {
        offset = lseek(fd, 0, SEEK_CUR);
        if (offset < 0) return -errno;
    }
    if (offset < 0) return -EINVAL;
    size_t n = 0;
    if (static_cast<size_t>(offset) < text.size()) {
        n = std::min(count, text.size() - static_cast<size_t>(offset));
        std::memcpy(buf, text.data() + offset, n);
    }
    if (!positioned) lseek(fd, offset + static_cast<off_t>(n), SEEK_SET);
    return static_cast<ssize_t>(n);
}

}  // namespace ozrsim
