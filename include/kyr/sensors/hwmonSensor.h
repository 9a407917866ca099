// The sensor's temperature, read from a Linux hwmon channel found by label.
#pragma once

#include <memory>
#include <string>

#include "kyr/sensorDeviceIF.h"

class HwMonSensor : public TempSensorIF {
public:
    // A sensor connected to the channel labelled `sensorLabel` below
    // `hwmonRoot` (normally "/sys/class/hwmon"), or null when there is none.
    static std::unique_ptr<HwMonSensor> acquire(const std::string& sensorLabel,
                                                const std::string& hwmonRoot);

    explicit HwMonSensor(std::string hwmonRoot);
    ~HwMonSensor() override;

    // Finds the channel labelled `sensorLabel` and opens its input file.
    // Channels whose input file is missing or cannot be opened are skipped. 0,
    // or kyr::status::DEVICE_ERROR when no usable channel exists.
    int connectSensor(const std::string& sensorLabel);

    // Reads a fresh sample (millidegrees Celsius in the file). 0, or
    // kyr::status::DEVICE_ERROR when nothing is connected, nothing could be
    // read or the text is no number.
    int getTemperature(float& celsius) const override;

private:
    int sensorFd = -1;
    std::string hwmonRootPath;
};
