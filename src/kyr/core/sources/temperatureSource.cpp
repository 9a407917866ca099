#include "kyr/sources/temperatureSource.h"

#include <memory>

#include "kyr/status.h"

int TemperatureSource::captureNext() {
    if (tempSensor == nullptr) {
        return kyr::status::DEVICE_ERROR;
    }
    float celsius = 0.0f;
    const int r = tempSensor->getTemperature(celsius);
    if (r != 0) {
        return r;
    }
    return fire(std::make_shared<float>(celsius));
}
