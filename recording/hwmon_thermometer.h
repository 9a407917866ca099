// The sensor temperature as the camera reads it: the model's hwmon channel,
// its input file holding millidegrees Celsius.
#pragma once

#include <memory>
#include <string>

#include "recording_format.h"

namespace ozrrec {

class HwmonThermometer {
public:
    // Finds the model's channel below `root` ("/sys/class/hwmon" when empty)
    // as the camera does and opens it. Null when there is no such channel.
    static std::unique_ptr<HwmonThermometer> open(Model model, const std::string& root = "");
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
