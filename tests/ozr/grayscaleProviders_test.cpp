// Grayscale calibration: the dark offset and gain providers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ozr/calibrationTestDir.h"
#include "ozr/dsnuOffsetProvider.h"
#include "ozr/prnuGainProvider.h"
#include "support/log_capture.h"

namespace {

using nlohmann::json;
using testsupport::CalibrationDir;
using testsupport::LogCapture;

std::vector<uint16_t> pixels(const std::shared_ptr<Image<uint16_t>>& image) {
    return {image->getData(), image->getData() + image->pixelCount()};
}

class GrayscaleProviderTest : public ::testing::Test {
protected:
    DsnuOffsetProvider& dsnu = DsnuOffsetProvider::getInstance();
    PrnuGainProvider& prnu = PrnuGainProvider::getInstance();
    CalibrationDir dir;

    void writeSection(const json& section) {
        dir.writeIndex(json({{"grayscale", section}}).dump());
    }

    json section() const {
        return {{"dsnu_file", "dsnu.bin"},
                {"prnu_file", "prnu.bin"},
                {"prnu_scale_factor", 1024},
                {"width", 3},
                {"height", 2}};
    }

    void SetUp() override {
        dir.writeWords("dsnu.bin", {1, 2, 3, 4, 5, 6});
        dir.writeWords("drnu.bin", {11, 12, 13, 14, 15, 16});
        dir.writeWords("prnu.bin", {1000, 1001, 1002, 1003, 1004, 1005});
    }
};

TEST_F(GrayscaleProviderTest, BothLoadFromDsnuAndPrnuFiles) {
    writeSection(section());
    LogCapture log;
    ASSERT_EQ(dsnu.loadCalibrationData(dir.str(), ""), 0);
    ASSERT_EQ(prnu.loadCalibrationData(dir.str(), ""), 0);
    EXPECT_TRUE(dsnu.isInitialized());
    EXPECT_TRUE(prnu.isInitialized());
    EXPECT_EQ(log.count("DsnuOffsetProvider initialized"), 1u);
    EXPECT_EQ(log.count("PrnuGainProvider initialized"), 1u);

    DsnuOffsetData offset;
    ASSERT_EQ(dsnu.getCalibrationData(123, offset), 0);
    EXPECT_EQ(offset.offsetImage->getWidth(), 3u);
    EXPECT_EQ(offset.offsetImage->getHeight(), 2u);
    EXPECT_EQ(pixels(offset.offsetImage), (std::vector<uint16_t>{1, 2, 3, 4, 5, 6}));

    PrnuGainData gain;
    ASSERT_EQ(prnu.getCalibrationData(0, gain), 0);
    EXPECT_EQ(gain.scaleFactor, 1024);
    EXPECT_EQ(pixels(gain.gainImage), (std::vector<uint16_t>{1000, 1001, 1002, 1003, 1004, 1005}));

    // The frequency does not matter, and there are no frequencies.
    PrnuGainData other;
    ASSERT_EQ(prnu.getCalibrationData(20000000, other), 0);
    EXPECT_EQ(pixels(other.gainImage), pixels(gain.gainImage));
    FrequencyList list{reinterpret_cast<const uint32_t*>(&gain), 5};
    dsnu.getCalibratedFrequencies(list);
    EXPECT_EQ(list.frequencies, nullptr);
    EXPECT_EQ(list.count, 0u);
    list.count = 5;
    prnu.getCalibratedFrequencies(list);
    EXPECT_EQ(list.count, 0u);
}

TEST_F(GrayscaleProviderTest, DrnuFileIsPreferred) {
    json s = section();
    s["drnu_file"] = "drnu.bin";
    writeSection(s);
    ASSERT_EQ(dsnu.loadCalibrationData(dir.str(), ""), 0);
    DsnuOffsetData offset;
    ASSERT_EQ(dsnu.getCalibrationData(0, offset), 0);
    EXPECT_EQ(pixels(offset.offsetImage), (std::vector<uint16_t>{11, 12, 13, 14, 15, 16}));
}

// A file the index names outside the directory, or one that is no regular
// file, reads as missing for its own record only; a FIFO does not block.
TEST_F(GrayscaleProviderTest, RefusedFileIsMissingWhileTheOtherLoads) {
    ASSERT_EQ(::mkfifo((dir.path() / "fifo.bin").c_str(), 0600), 0);
    for (const char* name : {"fifo.bin", "/dev/stdin", "../prnu.bin"}) {
        SCOPED_TRACE(name);
        json s = section();
        s["prnu_file"] = name;
        writeSection(s);
        LogCapture log;
        EXPECT_EQ(dsnu.loadCalibrationData(dir.str(), ""), 0);
        EXPECT_EQ(prnu.loadCalibrationData(dir.str(), ""), -2);
        EXPECT_TRUE(dsnu.isInitialized());
        EXPECT_EQ(log.count("Failed to read binary file " + (dir.path() / name).string()), 1u);
        EXPECT_EQ(log.count("Failed to load grayscale PRNU calibration data"), 1u);
    }
}

TEST_F(GrayscaleProviderTest, MissingOrEmptySectionIsMinus61) {
    for (const json& index :
         {json::object(), json({{"grayscale", json::object()}}),
          json({{"grayscale", json::array()}}), json({{"grayscale", nullptr}}), json::array()}) {
        SCOPED_TRACE(index.dump());
        dir.writeIndex(index.dump());
        LogCapture log;
        EXPECT_EQ(dsnu.loadCalibrationData(dir.str(), ""), -61);
        EXPECT_EQ(log.count("Calibration info does not contain grayscale data"), 1u);
        EXPECT_EQ(log.count("Failed to load grayscale calibration data"), 1u);
        EXPECT_EQ(prnu.loadCalibrationData(dir.str(), ""), -61);
        EXPECT_EQ(log.count("Failed to load grayscale PRNU calibration data"), 1u);
    }
}

TEST_F(GrayscaleProviderTest, MissingScaleFactorEmptiesTheGainImage) {
    writeSection(section());
    ASSERT_EQ(prnu.loadCalibrationData(dir.str(), ""), 0);
    json s = section();
    s.erase("prnu_scale_factor");
    writeSection(s);
    PrnuGainData gain;
    gain.scaleFactor = 7;
    LogCapture log;
    EXPECT_EQ(prnu.getCalibrationData(0, gain), -22);
    EXPECT_FALSE(gain.gainImage);
    EXPECT_EQ(gain.scaleFactor, 7);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].text.rfind("Failed to parse calibration info JSON file: ", 0), 0u);
    EXPECT_NE(log.lines()[0].text.find("prnu_scale_factor"), std::string::npos);
}

TEST_F(GrayscaleProviderTest, WrongSizeLeavesTheImageAsItWas) {
    writeSection(section());
    ASSERT_EQ(dsnu.loadCalibrationData(dir.str(), ""), 0);
    DsnuOffsetData offset;
    ASSERT_EQ(dsnu.getCalibrationData(0, offset), 0);
    const auto before = offset.offsetImage;
    dir.writeWords("dsnu.bin", {1, 2, 3, 4, 5, 6, 7});
    LogCapture log;
    EXPECT_EQ(dsnu.getCalibrationData(0, offset), -22);
    EXPECT_EQ(offset.offsetImage, before);
    EXPECT_EQ(log.count("Binary file " + (dir.path() / "dsnu.bin").string() +
                        " has wrong size. Size: 7 Expected: 6"),
              1u);
    dir.writeText("dsnu.bin", "12345");
    EXPECT_EQ(dsnu.getCalibrationData(0, offset), -22);
    EXPECT_EQ(log.count("Failed to read binary file " + (dir.path() / "dsnu.bin").string()), 1u);
    dir.remove("dsnu.bin");
    EXPECT_EQ(dsnu.getCalibrationData(0, offset), -2);
    EXPECT_EQ(offset.offsetImage, before);
}

TEST_F(GrayscaleProviderTest, FullSizeImageOneWordTooLong) {
    json s = section();
    s["width"] = 640;
    s["height"] = 480;
    writeSection(s);
    dir.writeWords("dsnu.bin", std::vector<uint16_t>(640 * 480 + 1, 3));
    LogCapture log;
    EXPECT_EQ(dsnu.loadCalibrationData(dir.str(), ""), -22);
    EXPECT_EQ(log.count("Binary file " + (dir.path() / "dsnu.bin").string() +
                        " has wrong size. Size: 307201 Expected: 307200"),
              1u);
}

TEST_F(GrayscaleProviderTest, OverflowingSizeIsAWrongSize) {
    json s = section();
    s["width"] = 1ULL << 40;
    s["height"] = 1ULL << 40;
    writeSection(s);
    LogCapture log;
    DsnuOffsetData offset;
    ASSERT_EQ(dsnu.loadCalibrationData(dir.str(), ""), -22);
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_ERROR), 2u);
}

TEST_F(GrayscaleProviderTest, MistypedKeysAreMinus22) {
    writeSection(section());
    ASSERT_EQ(dsnu.loadCalibrationData(dir.str(), ""), 0);
    for (const json& s :
         {json({{"dsnu_file", 5}, {"width", 3}, {"height", 2}}),
          json({{"dsnu_file", "dsnu.bin"}, {"width", "3"}, {"height", 2}}),
          json({{"width", 3}, {"height", 2}}), json::array({1}), json("dsnu.bin")}) {
        SCOPED_TRACE(s.dump());
        writeSection(s);
        DsnuOffsetData offset;
        offset.offsetImage = Image<uint16_t>::createNewBuffer(1, 1);
        LogCapture log;
        EXPECT_EQ(dsnu.getCalibrationData(0, offset), -22);
        EXPECT_FALSE(offset.offsetImage);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].text.rfind("Failed to parse calibration info JSON file: ", 0), 0u);
    }
}

}  // namespace
