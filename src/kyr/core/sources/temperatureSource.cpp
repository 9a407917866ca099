#include "kyr/sources/temperatureSource.h"

#include <memory>

int TemperatureSource::captureNext() {
    if (tempSensor == nullptr) {
        return -1;
    }
    float celsius = 0.0f;
    const int r = tempSensor->getTemperature(celsius);
    if (r != 0) {
        return r;
    }
    return fire(std::make_shared<float>(celsius));
}
