// Controls set on the application's thread while the streaming thread
// captures frames: the source's mode and HDR times are shared between them.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "kyr/sensors/fakeTempSensor.h"
#include "kyr/sink.h"
#include "kyr/sources/ozr310Source.h"
#include "kyr/sources/ozr320Source.h"
#include "kyr/stage.h"
#include "scriptedVideoDevice.h"

namespace {

using ozr::AcquisitionMode;
using ozr::ControlID;

template <typename S>
void captureWhileControlling() {
    auto script = std::make_shared<testsupport::DeviceScript>();
    S source(std::make_unique<testsupport::ScriptedVideoDevice>(script),
             std::make_unique<FakeTempSensor>(25.0f), 4);
    ASSERT_EQ(source.setControl(ControlID::ACQUISITION_MODE,
                                static_cast<int32_t>(AcquisitionMode::DIST_AMP_HDR)),
              0);
    Sink<Image<uint16_t>> sinks[12];
    for (size_t i = 0; i < 12; ++i) {
        sinks[i] << *source.getDCSSource(i);
    }
    ASSERT_EQ(source.setupStreaming(), 0);

    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::thread streaming([&] {
        for (int frame = 0; frame < 200; ++frame) {
            if (source.captureNext(true) != 0) {
                ++failures;
            }
        }
        done = true;
    });
    int i = 0;
    while (!done) {
        // HDR times and the exposure are read by the streaming thread.
        source.setControl(ControlID::HDR_INTEGRATION_TIME1_US, 100 + i % 7);
        source.setControl(ControlID::HDR_INTEGRATION_TIME2_US, 500 + i % 5);
        source.setControl(ControlID::EXPOSURE_US, 300);
        int mode = -1;
        source.getControl(ControlID::ACQUISITION_MODE, mode);
        EXPECT_EQ(mode, static_cast<int>(AcquisitionMode::DIST_AMP_HDR));
        EXPECT_NE(source.getDCSSource(11), nullptr);
        ++i;
    }
    streaming.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(script->count("frame"), 200u * 12u);
}

TEST(SensorSourceThreads, Ozr310ControlsWhileCapturing) {
    captureWhileControlling<OZR310Source>();
}

TEST(SensorSourceThreads, Ozr320ControlsWhileCapturing) {
    captureWhileControlling<OZR320Source>();
}

}  // namespace
