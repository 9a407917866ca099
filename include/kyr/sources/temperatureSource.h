// Publishes the sensor temperature in degrees Celsius, once per frame.
#pragma once

#include "kyr/sensorDeviceIF.h"
#include "kyr/source.h"

class TemperatureSource : public Source<float> {
public:
    // Reads `sensor`, which it does not own.
    explicit TemperatureSource(TempSensorIF& sensor) : tempSensor(&sensor) {}
    // A source without a sensor: every capture fails with -1.
    explicit TemperatureSource(TempSensorIF* sensor) : tempSensor(sensor) {}

    // Reads one value and publishes it. Returns the sensor's nonzero status
    // without publishing, kyr::status::DEVICE_ERROR without a sensor, else the
    // publication's result.
    int captureNext();

private:
    TempSensorIF* tempSensor;
};
