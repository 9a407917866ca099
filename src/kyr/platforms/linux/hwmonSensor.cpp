#include "kyr/sensors/hwmonSensor.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>

#include "kyr/platform.h"
#include "kyr/sensors/ozrDriver.h"
#include "kyr/status.h"

namespace fs = std::filesystem;

namespace {

// Opens the input file of the first channel labelled `label` and returns its
// descriptor; -1 when there is no channel whose input file opens.
int openChannel(const std::string& root, const std::string& label) {
    return kyr::platform::openHwmonChannel(
        root, label, [](const fs::path& labelFile, const fs::path& input) {
            KYR_LOG_WARN("Temperature channel %s has no readable input %s", labelFile.c_str(),
                         input.c_str());
        });
}

}  // namespace

std::unique_ptr<HwMonSensor> HwMonSensor::acquire(const std::string& sensorLabel,
                                                  const std::string& hwmonRoot) {
    auto sensor = std::make_unique<HwMonSensor>(hwmonRoot);
    if (sensor->connectSensor(sensorLabel) != 0) {
        return nullptr;
    }
    return sensor;
}

HwMonSensor::HwMonSensor(std::string hwmonRoot) : hwmonRootPath(std::move(hwmonRoot)) {}

HwMonSensor::~HwMonSensor() {
    if (sensorFd >= 0) {
        ::close(sensorFd);
    }
}

int HwMonSensor::connectSensor(const std::string& sensorLabel) {
    if (sensorFd >= 0) {
        ::close(sensorFd);
    }
    sensorFd = openChannel(hwmonRootPath, sensorLabel);
    return sensorFd >= 0 ? kyr::status::OK : kyr::status::DEVICE_ERROR;
}

int HwMonSensor::getTemperature(float& celsius) const {
    celsius = 0.0f;
    if (sensorFd < 0) {
        return kyr::status::DEVICE_ERROR;
    }
    char text[16];
    const ssize_t n = ::pread(sensorFd, text, sizeof(text) - 1, 0);
    if (n < 1) {
        return kyr::status::DEVICE_ERROR;
    }
    const char* const end = text + n;
    long long millidegrees = 0;
    const auto [next, ec] = std::from_chars(text, end, millidegrees, 10);
    if (ec != std::errc() || next == end || *next != '\n') {
        KYR_LOG_ERROR("Failed to parse temperature value: invalid format");
        return kyr::status::DEVICE_ERROR;
    }
    celsius = static_cast<float>(static_cast<double>(millidegrees) / 1000.0);
    return 0;
}
