// The sensor temperature as the camera reads it: the hwmon channel whose
// label file names the model's sensor ("ozr310_temp_sensor_tl" or
// "ozr320_temp_sensor_1"), its input file holding millidegrees Celsius.
#pragma once

#include <memory>
#include <string>

#include "recording_format.h"

namespace ozrrec {

const char* hwmonLabel(Model model);

// The model whose video node exists, OZR320 first, as the camera's
// autodetection decides; false when there is neither.
bool presentModel(Model& model);

class HwmonThermometer {
public:
    // Finds the channel below `root` (label files "label" or "temp*_label"
    // longer than "temp_label", the input file beside them) and opens it.
    // Null when there is no such channel.
    static std::unique_ptr<HwmonThermometer> open(Model model,
                                                  const std::string& root = "/sys/class/hwmon");
    ~HwmonThermometer();

    HwmonThermometer(const HwmonThermometer&) = delete;
    HwmonThermometer& operator=(const HwmonThermometer&) = delete;

    // A fresh sample; false when the file cannot be read or parsed.
    bool read(float& celsius) const;

private:
    explicit HwmonThermometer(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace ozrrec
