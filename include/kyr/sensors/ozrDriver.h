// What the sensor's kernel driver presents, in one place: the device nodes,
// the driver version file and the hwmon channel of each model, the
// identifiers of the driver's controls, the values of its acquisition mode
// control, how a model is detected and how its temperature channel is found.
// Header-only: the camera library, the tools and the virtual sensor driver
// (which links no camera library) include it alike.
#pragma once

#include <fcntl.h>
#include <linux/v4l2-controls.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>

// Driver values of the ACQUISITION_MODE control.
enum ozr_dev_acquisition_type : int32_t {
    OZR_ACQUISITION_TYPE_4DCS = 0,       // a frame is four DCS images
    OZR_ACQUISITION_TYPE_GRAYSCALE = 1,  // a frame is one grayscale image
    OZR_ACQUISITION_TYPE_HDR = 2,        // three exposures of four DCS images (OZR320 only)
    OZR_ACQUISITION_TYPE_MAX = 3,        // number of types
};

// Control identifiers on the sub-device. Gain and exposure are the standard
// V4L2 controls; the others are the driver's own.
inline constexpr uint32_t OZR_CID_GAIN = V4L2_CID_GAIN;
inline constexpr uint32_t OZR_CID_EXPOSURE_US = V4L2_CID_EXPOSURE;
inline constexpr uint32_t OZR_CID_BASE = 0x981900;
inline constexpr uint32_t OZR_CID_TRIGGER_SHUTTER = OZR_CID_BASE + 0x01;
inline constexpr uint32_t OZR_CID_ACQUISITION_MODE = OZR_CID_BASE + 0x02;
inline constexpr uint32_t OZR_CID_MODULATION_FREQ_HZ = OZR_CID_BASE + 0x03;
inline constexpr uint32_t OZR_CID_HDR_INTEGRATION_TIME1_US = OZR_CID_BASE + 0x05;
inline constexpr uint32_t OZR_CID_HDR_INTEGRATION_TIME2_US = OZR_CID_BASE + 0x06;
inline constexpr uint32_t OZR_CID_HDR_INTEGRATION_TIME3_US = OZR_CID_BASE + 0x07;
inline constexpr uint32_t OZR_CID_LED_DELAY_STEP = OZR_CID_BASE + 0x09;

static_assert(OZR_CID_GAIN == 0x980913 && OZR_CID_EXPOSURE_US == 0x980911);
static_assert(OZR_CID_TRIGGER_SHUTTER == 0x981901 && OZR_CID_LED_DELAY_STEP == 0x981909);

namespace kyr::platform {

// The files through which the driver of one sensor model is reached.
struct OzrDeviceFiles {
    const char* name;               // "ozr310" | "ozr320"
    const char* nodeDir;            // directory of the two device nodes
    const char* videoPath;          // video capture node
    const char* subdevPath;         // sub-device node, carrying the controls
    const char* driverVersionPath;  // first line "major.minor.patch"
    const char* hwmonLabel;         // label of the model's hwmon temperature channel
};

inline constexpr OzrDeviceFiles OZR310_DEVICE{
    "ozr310",
    "/run/ozr310",
    "/run/ozr310/video",
    "/run/ozr310/subdev",
    "/sys/module/cam_ozr310/version",
    "ozr310_temp_sensor_tl",
};

inline constexpr OzrDeviceFiles OZR320_DEVICE{
    "ozr320",
    "/run/ozr320",
    "/run/ozr320/video",
    "/run/ozr320/subdev",
    "/sys/module/cam_ozr320/version",
    "ozr320_temp_sensor_1",
};

// Where the hwmon channels of the system are listed.
inline constexpr const char* HWMON_ROOT = "/sys/class/hwmon";

// The model whose video node opens, looked for in this order (the OZR320
// first); null when there is neither. Nothing is read from the node.
inline const OzrDeviceFiles* detectOzrDevice() {
    for (const OzrDeviceFiles* device : {&OZR320_DEVICE, &OZR310_DEVICE}) {
        const int fd = ::open(device->videoPath, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            return device;
        }
    }
    return nullptr;
}

namespace hwmon_detail {

// "label", or "temp<...>label" longer than "temp_label" (temp1_label).
inline bool isLabelFile(std::string_view name) {
    constexpr std::string_view TEMP_LABEL = "temp_label";
    return name == "label" ||
           (name.starts_with("temp") && name.size() > TEMP_LABEL.size() && name.ends_with("label"));
}

// The input file that goes with a label file: temp1_label -> temp1_input;
// a plain "label" belongs to temp1_input.
inline std::string inputFileFor(const std::string& labelName) {
    if (labelName == "label") {
        return "temp1_input";
    }
    return labelName.substr(0, labelName.size() - 6) + "_input";
}

// First line of a file without surrounding blanks; empty when unreadable.
inline std::string readLabel(const std::filesystem::path& path) {
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
    return line.substr(first, line.find_last_not_of(BLANKS) - first + 1);
}

}  // namespace hwmon_detail

// Opens the input file (millidegrees Celsius) of the first hwmon channel below
// `root` whose label file reads `label`, and returns its descriptor (opened
// read-only, close-on-exec); -1 when no such channel's input opens. A channel
// is a directory below `root` (links followed) holding a label file ("label"
// or "temp*_label") and the input file beside it. A channel whose input does
// not open is passed to `unreadable(labelFile, inputFile)` and the search goes
// on: another channel may carry the same label.
template <typename OnUnreadable>
int openHwmonChannel(const std::string& root, const std::string& label, OnUnreadable unreadable) {
    namespace fs = std::filesystem;
    if (label.empty() || root.empty()) {
        return -1;
    }
    std::error_code ec;
    for (fs::directory_iterator dev(root, ec), end; !ec && dev != end; dev.increment(ec)) {
        std::error_code e;
        if (!dev->is_directory(e)) {
            continue;
        }
        for (fs::directory_iterator file(dev->path(), e); !e && file != end; file.increment(e)) {
            std::error_code fe;
            const std::string name = file->path().filename().string();
            if (!fs::is_regular_file(file->path(), fe) || !hwmon_detail::isLabelFile(name) ||
                hwmon_detail::readLabel(file->path()) != label) {
                continue;
            }
            const fs::path input = dev->path() / hwmon_detail::inputFileFor(name);
            std::error_code ie;
            const int fd =
                fs::is_regular_file(input, ie) ? ::open(input.c_str(), O_RDONLY | O_CLOEXEC) : -1;
            if (fd >= 0) {
                return fd;
            }
            unreadable(file->path(), input);
        }
    }
    return -1;
}

inline int openHwmonChannel(const std::string& root, const std::string& label) {
    return openHwmonChannel(root, label,
                            [](const std::filesystem::path&, const std::filesystem::path&) {});
}

}  // namespace kyr::platform
