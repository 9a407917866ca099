// HwMonSensor on hwmon trees built in temporary directories.
#include "kyr/sensors/hwmonSensor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "kyr/sensors/fakeTempSensor.h"
#include "support/log_capture.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* LABEL_310 = "ozr310_temp_sensor_tl";
constexpr const char* LABEL_320 = "ozr320_temp_sensor_1";
constexpr const char* PARSE_ERROR = "Failed to parse temperature value: invalid format";

class HwMonTree : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "hwmon_test_XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    void write(const fs::path& rel, const std::string& text) {
        fs::create_directories((root / rel).parent_path());
        std::ofstream(root / rel, std::ios::binary) << text;
    }

    // Reading of the sensor connected to `label`, or NAN.
    float readVia(const std::string& label) {
        auto s = HwMonSensor::acquire(label, root.string());
        float c = 0.0f;
        if (!s || s->getTemperature(c) != 0) {
            return NAN;
        }
        return c;
    }

    static size_t openDescriptors() {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) {
            ++n;
        }
        return n;
    }

    fs::path root;
};

TEST_F(HwMonTree, ReadsMillidegreesAsCelsius) {
    write("hwmon0/temp1_label", std::string(LABEL_310) + "\n");
    write("hwmon0/temp1_input", "41250\n");
    EXPECT_FLOAT_EQ(readVia(LABEL_310), 41.25f);
    write("hwmon0/temp1_input", "-5000\n");
    EXPECT_FLOAT_EQ(readVia(LABEL_310), -5.0f);
    write("hwmon0/temp1_input", "0\n");
    EXPECT_FLOAT_EQ(readVia(LABEL_310), 0.0f);
}

TEST_F(HwMonTree, EveryReadIsAFreshSampleOfTheOpenFile) {
    write("hwmon0/temp1_label", std::string(LABEL_320) + "\n");
    write("hwmon0/temp1_input", "30000\n");
    auto s = HwMonSensor::acquire(LABEL_320, root.string());
    ASSERT_TRUE(s);
    float c = 0.0f;
    ASSERT_EQ(s->getTemperature(c), 0);
    EXPECT_FLOAT_EQ(c, 30.0f);
    // Overwritten in place, as the driver's attribute changes.
    std::ofstream(root / "hwmon0/temp1_input", std::ios::in | std::ios::out) << "31500\n";
    ASSERT_EQ(s->getTemperature(c), 0);
    EXPECT_FLOAT_EQ(c, 31.5f);
}

TEST_F(HwMonTree, MalformedValuesAreRefusedWithAMessage) {
    write("hwmon0/temp1_label", std::string(LABEL_310) + "\n");
    write("hwmon0/temp1_input", "41250\n");
    auto s = HwMonSensor::acquire(LABEL_310, root.string());
    ASSERT_TRUE(s);
    const fs::path input = root / "hwmon0/temp1_input";
    for (const char* text : {"41250", "abc\n", "\n", "41.25\n", "41250 \n", "+41250\n",
                             "123456789012345\n" /* newline beyond the 15 bytes read */}) {
        testsupport::LogCapture log;
        std::ofstream(input, std::ios::trunc) << text;
        float c = 99.0f;
        EXPECT_EQ(s->getTemperature(c), -1) << text;
        EXPECT_EQ(c, 0.0f) << text;
        EXPECT_EQ(log.count(PARSE_ERROR), 1u) << text;
    }
}

TEST_F(HwMonTree, EmptyOrVanishedValueFailsWithoutParsing) {
    write("hwmon0/temp1_label", std::string(LABEL_310) + "\n");
    write("hwmon0/temp1_input", "41250\n");
    auto s = HwMonSensor::acquire(LABEL_310, root.string());
    ASSERT_TRUE(s);
    testsupport::LogCapture log;
    std::ofstream(root / "hwmon0/temp1_input", std::ios::trunc).close();
    float c = 5.0f;
    EXPECT_EQ(s->getTemperature(c), -1);
    EXPECT_EQ(c, 0.0f);
    EXPECT_FALSE(log.contains(PARSE_ERROR));
}

TEST_F(HwMonTree, UnconnectedSensorReadsNothing) {
    HwMonSensor s(root.string());
    float c = 7.0f;
    EXPECT_EQ(s.getTemperature(c), -1);
    EXPECT_EQ(c, 0.0f);
}

TEST_F(HwMonTree, LabelWithBlanksSelectsItsOwnInputFile) {
    write("hwmon3/temp1_label", "other_label\n");
    write("hwmon3/temp1_input", "11000\n");
    write("hwmon3/temp2_label", std::string(" ") + LABEL_310 + " \n");
    write("hwmon3/temp2_input", "22000\n");
    EXPECT_FLOAT_EQ(readVia(LABEL_310), 22.0f);
    write("hwmon3/temp2_label", std::string("\t") + LABEL_310 + "\r\n");
    EXPECT_FLOAT_EQ(readVia(LABEL_310), 22.0f);
}

TEST_F(HwMonTree, PlainLabelFileBelongsToTemp1Input) {
    write("hwmon1/label", std::string(LABEL_320) + "\n");
    write("hwmon1/temp1_input", "45000\n");
    EXPECT_FLOAT_EQ(readVia(LABEL_320), 45.0f);
}

TEST_F(HwMonTree, OnlyLabelFilesAreConsidered) {
    // "temp_label" is too short to be a label file; "name" never is one.
    write("hwmon0/temp_label", std::string(LABEL_310) + "\n");
    write("hwmon0/temp_input", "1000\n");
    write("hwmon0/temp1_input", "2000\n");
    write("hwmon0/name", std::string(LABEL_310) + "\n");
    write("hwmon0/templabel", std::string(LABEL_310) + "\n");
    write("hwmon0/xtemp1_label", std::string(LABEL_310) + "\n");
    EXPECT_FALSE(HwMonSensor::acquire(LABEL_310, root.string()));
}

TEST_F(HwMonTree, LabelMustMatchExactlyOnItsFirstLine) {
    write("hwmon0/temp1_label", std::string(LABEL_310) + "x\n");
    write("hwmon0/temp1_input", "1000\n");
    write("hwmon1/temp1_label", std::string("prefix ") + LABEL_310 + "\n");
    write("hwmon1/temp1_input", "1000\n");
    write("hwmon2/temp1_label", std::string("\n") + LABEL_310 + "\n");
    write("hwmon2/temp1_input", "1000\n");
    EXPECT_FALSE(HwMonSensor::acquire(LABEL_310, root.string()));
    write("hwmon3/temp1_label", std::string(LABEL_310) + "\nsecond line\n");
    write("hwmon3/temp1_input", "3000\n");
    EXPECT_FLOAT_EQ(readVia(LABEL_310), 3.0f);
}

TEST_F(HwMonTree, NoChannelMeansNoSensor) {
    write("hwmon0/temp1_label", std::string(LABEL_320) + "\n");
    write("hwmon0/temp1_input", "1000\n");
    EXPECT_FALSE(HwMonSensor::acquire(LABEL_310, root.string()));
    EXPECT_FALSE(HwMonSensor::acquire("", root.string()));
    EXPECT_FALSE(HwMonSensor::acquire(LABEL_320, ""));
    EXPECT_FALSE(HwMonSensor::acquire(LABEL_320, (root / "missing").string()));
    // A file as root, and an empty label file that the empty label must not match.
    write("hwmon1/temp1_label", "\n");
    write("hwmon1/temp1_input", "1000\n");
    EXPECT_FALSE(HwMonSensor::acquire("", root.string()));
    EXPECT_FALSE(HwMonSensor::acquire(LABEL_320, (root / "hwmon0/temp1_input").string()));
}

TEST_F(HwMonTree, SearchContinuesPastALabelWithoutInput) {
    // Only one directory has a usable channel, so the result does not depend
    // on the order in which the file system lists the directories.
    write("hwmon0/temp1_label", std::string(LABEL_310) + "\n");  // no input at all
    fs::create_directories(root / "hwmon1/temp1_input");         // input is a directory
    write("hwmon1/temp1_label", std::string(LABEL_310) + "\n");
    write("hwmon2/temp1_label", std::string(LABEL_310) + "\n");
    write("hwmon2/temp1_input", "37500\n");
    testsupport::LogCapture log;
    EXPECT_FLOAT_EQ(readVia(LABEL_310), 37.5f);
    // Each unusable channel met before the usable one is reported.
    EXPECT_LE(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_WARN), 2u);
}

TEST_F(HwMonTree, SearchContinuesWithinADirectory) {
    write("hwmon0/temp1_label", std::string(LABEL_310) + "\n");
    write("hwmon0/temp2_label", std::string(LABEL_310) + "\n");
    write("hwmon0/temp2_input", "12000\n");
    EXPECT_FLOAT_EQ(readVia(LABEL_310), 12.0f);
}

TEST_F(HwMonTree, LabelWithoutAnyInputFailsWithAWarning) {
    write("hwmon0/temp1_label", std::string(LABEL_310) + "\n");
    testsupport::LogCapture log;
    EXPECT_FALSE(HwMonSensor::acquire(LABEL_310, root.string()));
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_WARN), 1u);
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR), 0u);
}

TEST_F(HwMonTree, SymbolicLinksAreFollowed) {
    // As in sysfs: /sys/class/hwmon/hwmonN links to the device directory.
    write("devices/platform/sensor/hwmon/temp1_label", std::string(LABEL_320) + "\n");
    write("devices/platform/sensor/hwmon/temp1_input", "28000\n");
    fs::create_directories(root / "class");
    fs::create_directory_symlink(root / "devices/platform/sensor/hwmon", root / "class/hwmon7");
    write("devices/other/temp4_label", "unrelated\n");
    auto s = HwMonSensor::acquire(LABEL_320, (root / "class").string());
    ASSERT_TRUE(s);
    float c = 0.0f;
    ASSERT_EQ(s->getTemperature(c), 0);
    EXPECT_FLOAT_EQ(c, 28.0f);

    // Linked label and input files count as well.
    write("hw2/real_label", std::string(LABEL_310) + "\n");
    write("hw2/temp5_input", "5000\n");
    fs::create_directories(root / "links/hwmon0");
    fs::create_symlink(root / "hw2/real_label", root / "links/hwmon0/temp5_label");
    fs::create_symlink(root / "hw2/temp5_input", root / "links/hwmon0/temp5_input");
    auto linked = HwMonSensor::acquire(LABEL_310, (root / "links").string());
    ASSERT_TRUE(linked);
    ASSERT_EQ(linked->getTemperature(c), 0);
    EXPECT_FLOAT_EQ(c, 5.0f);
}

TEST_F(HwMonTree, ReconnectingAndDestroyingLeakNoDescriptor) {
    write("hwmon0/temp1_label", std::string(LABEL_310) + "\n");
    write("hwmon0/temp1_input", "1000\n");
    const size_t before = openDescriptors();
    {
        HwMonSensor s(root.string());
        ASSERT_EQ(s.connectSensor(LABEL_310), 0);
        ASSERT_EQ(s.connectSensor(LABEL_310), 0);
        EXPECT_EQ(openDescriptors(), before + 1);
        // A failed connection leaves nothing connected.
        EXPECT_EQ(s.connectSensor(LABEL_320), -1);
        EXPECT_EQ(openDescriptors(), before);
        float c = 1.0f;
        EXPECT_EQ(s.getTemperature(c), -1);
        ASSERT_EQ(s.connectSensor(LABEL_310), 0);
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST(FakeTempSensor, YieldsItsValue) {
    FakeTempSensor s(25.0f);
    float c = 0.0f;
    EXPECT_EQ(s.getTemperature(c), 0);
    EXPECT_EQ(c, 25.0f);
    s.setTemperature(-3.5f);
    EXPECT_EQ(s.getTemperature(c), 0);
    EXPECT_EQ(c, -3.5f);
}

}  // namespace
