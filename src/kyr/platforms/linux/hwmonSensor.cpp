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
#include "kyr/status.h"

namespace fs = std::filesystem;

namespace {

// "label", or "temp<...>label" longer than "temp_label" (temp1_label).
bool isLabelFile(std::string_view name) {
    constexpr std::string_view TEMP_LABEL = "temp_label";
    if (name == "label") {
        return true;
    }
    return name.starts_with("temp") && name.size() > TEMP_LABEL.size() && name.ends_with("label");
}

// The input file that goes with a label file: temp1_label -> temp1_input;
// a plain "label" belongs to temp1_input.
std::string inputFileFor(const std::string& labelName) {
    if (labelName == "label") {
        return "temp1_input";
    }
    return labelName.substr(0, labelName.size() - 6) + "_input";
}

// First line of a file without surrounding blanks; empty when unreadable.
std::string readLabel(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return {};
    }
    constexpr const char* BLANKS = " \t\n\r";
    const size_t first = line.find_first_not_of(BLANKS);
    if (first == std::string::npos) {
        return {};
    }
    const size_t last = line.find_last_not_of(BLANKS);
    return line.substr(first, last - first + 1);
}

bool isDirectory(const fs::directory_entry& entry) {
    std::error_code ec;
    return entry.is_directory(ec);  // follows links
}

bool isRegularFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);  // follows links
}

// The descriptor of no channel.
constexpr int NO_CHANNEL = -1;

// Opens the input file of the first channel labelled `label` and returns its
// descriptor; NO_CHANNEL when there is no channel whose input file opens.
int openChannel(const std::string& root, const std::string& label) {
    if (label.empty() || root.empty()) {
        return NO_CHANNEL;
    }
    std::error_code ec;
    for (fs::directory_iterator dev(root, ec), end; !ec && dev != end; dev.increment(ec)) {
        if (!isDirectory(*dev)) {
            continue;
        }
        std::error_code ecFile;
        for (fs::directory_iterator file(dev->path(), ecFile);
             !ecFile && file != fs::directory_iterator(); file.increment(ecFile)) {
            const std::string name = file->path().filename().string();
            if (!isRegularFile(file->path()) || !isLabelFile(name) ||
                readLabel(file->path()) != label) {
                continue;
            }
            const fs::path input = dev->path() / inputFileFor(name);
            const int fd =
                isRegularFile(input) ? ::open(input.c_str(), O_RDONLY | O_CLOEXEC) : NO_CHANNEL;
            if (fd >= 0) {
                return fd;
            }
            // A channel without a readable input is of no use; another one
            // may carry the same label.
            KYR_LOG_WARN("Temperature channel %s has no readable input %s", file->path().c_str(),
                         input.c_str());
        }
    }
    return NO_CHANNEL;
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
