// A temperature sensor with a fixed, settable value: stands in when the
// sensor's own channel cannot be found.
#pragma once

#include "kyr/sensorDeviceIF.h"

class FakeTempSensor : public TempSensorIF {
public:
    explicit FakeTempSensor(float celsius) : temperature(celsius) {}

    void setTemperature(float celsius) { temperature = celsius; }

    int getTemperature(float& celsius) const override {
        celsius = temperature;
        return 0;
    }

private:
    float temperature;
};
