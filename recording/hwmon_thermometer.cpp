#include "hwmon_thermometer.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <system_error>

#include "kyr/sensors/ozrDriver.h"

namespace ozrrec {

std::unique_ptr<HwmonThermometer> HwmonThermometer::open(Model model, const std::string& root) {
    const auto& device =
        model == Model::OZR310 ? kyr::platform::OZR310_DEVICE : kyr::platform::OZR320_DEVICE;
    const int fd = kyr::platform::openHwmonChannel(root.empty() ? kyr::platform::HWMON_ROOT : root,
                                                   device.hwmonLabel);
    return fd >= 0 ? std::unique_ptr<HwmonThermometer>(new HwmonThermometer(fd)) : nullptr;
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
