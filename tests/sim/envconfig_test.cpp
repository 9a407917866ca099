// The OZRSIM_ environment variables the launcher passes to the emulation.
#include "envconfig.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <stdlib.h>

#include <string>

namespace ozrsim::env {
namespace {

// Sets variables for one test and removes every OZRSIM_ variable after it.
class Environment : public ::testing::Test {
protected:
    void set(const char* name, const char* value) {
        setenv(name, value, 1);
        names_.push_back(name);
    }
    void TearDown() override {
        for (const char* n : names_) unsetenv(n);
    }
    std::vector<const char*> names_;
};

TEST_F(Environment, NothingWithoutAModel) {
    unsetenv("OZRSIM_MODEL");
    Config c;
    std::string error;
    EXPECT_EQ(readConfig(c, error), 1);
}

TEST_F(Environment, EveryVariableReachesTheConfiguration) {
    set("OZRSIM_MODEL", "ozr310");
    set("OZRSIM_DRIVER_VERSION", "none");
    set("OZRSIM_HWMON", "0");
    set("OZRSIM_CALIBRATION", "synthetic");
    set("OZRSIM_WIDTH", "640");
    set("OZRSIM_HEIGHT", "240");
    set("OZRSIM_SCENE", "boxes");
    set("OZRSIM_WALL_MM", "2500.5");
    set("OZRSIM_INTERFERENCE", "1");
    set("OZRSIM_NOISE", "0");
    set("OZRSIM_TEMP_HOT", "55");
    set("OZRSIM_FREE_RUN", "yes");
    set("OZRSIM_FRAME_PERIOD_US", "10000");
    set("OZRSIM_SEED", "42");
    set("OZRSIM_STALL", "1");
    set("OZRSIM_FAIL_IOCTL", "DQBUF:EIO:10,VIDIOC_S_CTRL:16:0:2");
    set("OZRSIM_BYTESUSED_DELTA", "-8");
    set("OZRSIM_DISCONNECT_AFTER", "100");
    set("OZRSIM_REPLAY", "/tmp/rec.h5");
    set("OZRSIM_REPLAY_LOOP", "1");
    Config c;
    std::string error;
    ASSERT_EQ(readConfig(c, error), 0) << error;
    EXPECT_EQ(c.model, Model::OZR310);
    EXPECT_FALSE(c.driverVersion.has_value());
    EXPECT_FALSE(c.hwmon);
    EXPECT_EQ(c.calibration, Calibration::Synthetic);
    EXPECT_EQ(c.width, 640u);
    EXPECT_EQ(c.height, 240u);
    EXPECT_EQ(c.scene.name, "boxes");
    EXPECT_FLOAT_EQ(c.scene.wallDistanceMm, 2500.5f);
    EXPECT_TRUE(c.scene.interference);
    EXPECT_EQ(c.scene.noiseScale, 0.0f);
    EXPECT_EQ(c.temperature.hotC, 55.0f);
    EXPECT_TRUE(c.timing.freeRun);
    EXPECT_EQ(c.timing.framePeriodUs, 10000u);
    EXPECT_EQ(c.seed, 42u);
    EXPECT_TRUE(c.faults.stall);
    ASSERT_EQ(c.faults.ioctls.size(), 2u);
    EXPECT_EQ(c.faults.ioctls[0].request, static_cast<unsigned long>(VIDIOC_DQBUF));
    EXPECT_EQ(c.faults.ioctls[0].error, EIO);
    EXPECT_EQ(c.faults.ioctls[0].after, 10u);
    EXPECT_EQ(c.faults.ioctls[1].request, static_cast<unsigned long>(VIDIOC_S_CTRL));
    EXPECT_EQ(c.faults.ioctls[1].error, 16);
    EXPECT_EQ(c.faults.ioctls[1].times, 2u);
    EXPECT_EQ(c.faults.bytesusedDelta, -8);
    EXPECT_EQ(c.faults.disconnectAfterImages, 100);
    EXPECT_EQ(c.replay.file, "/tmp/rec.h5");
    EXPECT_TRUE(c.replay.loop);
}

TEST_F(Environment, MalformedValuesAreNamed) {
    struct Case {
        const char* name;
        const char* value;
    };
    for (const Case& k :
         {Case{"OZRSIM_MODEL", "ozr999"}, Case{"OZRSIM_WIDTH", "-4"}, Case{"OZRSIM_WIDTH", "12abc"},
          Case{"OZRSIM_HWMON", "maybe"}, Case{"OZRSIM_TEMP_HOT", "warm"},
          Case{"OZRSIM_TEMP_HOT", "nan"}, Case{"OZRSIM_FAIL_IOCTL", "DQBUF"},
          Case{"OZRSIM_FAIL_IOCTL", "NOPE:EIO"}, Case{"OZRSIM_FAIL_IOCTL", "DQBUF:EWHAT"},
          Case{"OZRSIM_CALIBRATION", "some"}, Case{"OZRSIM_FRAME_PERIOD_US", "0"},
          Case{"OZRSIM_DISCONNECT_AFTER", "-2"}, Case{"OZRSIM_REPLAY_LOOP", "twice"}}) {
        set("OZRSIM_MODEL", "ozr320");
        set(k.name, k.value);
        Config c;
        std::string error;
        EXPECT_EQ(readConfig(c, error), -EINVAL) << k.name << "=" << k.value;
        EXPECT_NE(error.find(k.name), std::string::npos) << error;
        unsetenv(k.name);
    }
}

}  // namespace
}  // namespace ozrsim::env
