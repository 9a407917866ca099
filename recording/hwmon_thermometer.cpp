#include "hwmon_thermometer.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace ozrrec {

namespace {

bool isLabelFile(std::string_view name) {
    constexpr std::string_view TEMP_LABEL = "temp_label";
    return name == "label" ||
           (name.starts_with("temp") && name.size() > TEMP_LABEL.size() && name.ends_with("label"));
}

std::string inputFileFor(const std::string& labelName) {
    return labelName == "label" ? "temp1_input"
                                : labelName.substr(0, labelName.size() - 6) + "_input";
}

std::string readLabel(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    constexpr const char* BLANKS = " \t\n\r";
    const size_t first = line.find_first_not_of(BLANKS);
    if (first == std::string::npos) return {};
    return line.substr(first, line.find_last_not_of(BLANKS) - first + 1);
}

}  // namespace

const char* hwmonLabel(Model model) {
    return model == Model::OZR310 ? "ozr310_temp_sensor_tl" : "ozr320_temp_sensor_1";
}

bool presentModel(Model& model) {
    for (const Model m : {Model::OZR320, Model::OZR310}) {
        const std::string node = std::string("/run/") + modelName(m) + "/video";
        const int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            model = m;
            return true;
        }
    }
    return false;
}

std::unique_ptr<HwmonThermometer> HwmonThermometer::open(Model model, const std::string& root) {
    const std::string label = hwmonLabel(model);
    std::error_code ec;
    for (fs::directory_iterator dev(root, ec), end; !ec && dev != end; dev.increment(ec)) {
        std::error_code e;
        if (!dev->is_directory(e)) continue;
        for (fs::directory_iterator file(dev->path(), e); !e && file != end; file.increment(e)) {
            std::error_code fe;
            const std::string name = file->path().filename().string();
            if (!fs::is_regular_file(file->path(), fe) || !isLabelFile(name) ||
                readLabel(file->path()) != label) {
                continue;
            }
            const fs::path input = dev->path() / inputFileFor(name);
            const int fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) return std::unique_ptr<HwmonThermometer>(new HwmonThermometer(fd));
        }
    }
    return nullptr;
}

HwmonThermometer::~HwmonThermometer() {
    ::close(fd_);
}

bool HwmonThermometer::read(float& celsius) const {
    char text[16] = {};
    const ssize_t n = ::pread(fd_, text, sizeof(text) - 1, 0);
    if (n < 1) return false;
    long milli = 0;
    const auto [end, ec] = std::from_chars(text, text + n, milli);
    if (ec != std::errc() || end == text || end >= text + n || *end != '\n') return false;
    celsius = static_cast<float>(milli / 1000.0);
    return true;
}

}  // namespace ozrrec
