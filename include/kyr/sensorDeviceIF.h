// Sensors that accompany the image sensor.
#pragma once

// A temperature sensor.
class TempSensorIF {
public:
    TempSensorIF() = default;
    virtual ~TempSensorIF() = default;

    TempSensorIF(const TempSensorIF&) = delete;
    TempSensorIF& operator=(const TempSensorIF&) = delete;

    // 0 when a value was read into `celsius` (degrees Celsius), else nonzero.
    virtual int getTemperature(float& celsius) const = 0;
};
