// TemperatureSource: one published reading per capture.
#include "kyr/sources/temperatureSource.h"

#include <gtest/gtest.h>

#include <memory>

#include "kyr/sensors/fakeTempSensor.h"
#include "kyr/sink.h"
#include "kyr/stage.h"

namespace {

class FailingSensor : public TempSensorIF {
public:
    explicit FailingSensor(int status) : status(status) {}
    int getTemperature(float& celsius) const override {
        celsius = 99.0f;
        return status;
    }
    int status;
};

TEST(TemperatureSource, PublishesTheSensorValue) {
    FakeTempSensor sensor(25.0f);
    TemperatureSource source(sensor);
    Sink<float> sink;
    sink << source;
    ASSERT_EQ(source.captureNext(), 0);
    ASSERT_TRUE(sink.hasNewData());
    EXPECT_EQ(*sink.value(), 25.0f);
    sensor.setTemperature(31.5f);
    ASSERT_EQ(source.captureNext(), 0);
    auto v = sink.value();
    ASSERT_TRUE(v);
    EXPECT_EQ(*v, 31.5f);
}

TEST(TemperatureSource, SensorFailurePublishesNothing) {
    for (int status : {-1, 1}) {
        FailingSensor sensor(status);
        TemperatureSource source(sensor);
        Sink<float> sink;
        sink << source;
        EXPECT_EQ(source.captureNext(), status);
        EXPECT_FALSE(sink.hasNewData());
    }
}

TEST(TemperatureSource, WithoutSensorFails) {
    TemperatureSource source(static_cast<TempSensorIF*>(nullptr));
    Sink<float> sink;
    sink << source;
    EXPECT_EQ(source.captureNext(), -1);
    EXPECT_FALSE(sink.hasNewData());
}

TEST(TemperatureSource, PassesOnTheListenersRefusal) {
    FakeTempSensor sensor(20.0f);
    TemperatureSource source(sensor);
    Input<float> orphan;  // an input without a stage refuses with -22
    orphan << source;
    EXPECT_EQ(source.captureNext(), -22);
}

}  // namespace
