// Phase offset calibration: loading the frequencies, selecting and
// interpolating offset images, and every failure path of a request.
#include "ozr/phaseOffsetProvider.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ozr/calibrationProviderChecks.h"
#include "ozr/calibrationTestDir.h"
#include "support/log_capture.h"

namespace {

using nlohmann::json;
using testsupport::CalibrationDir;
using testsupport::expectBrokenIndexesRefused;
using testsupport::expectLoadsFrequencies;
using testsupport::LogCapture;

json entry(uint32_t hz, const std::string& file, int width = 2, int height = 2,
           float temp = 30.0f) {
    return {{"modulation_frequency_hz", hz},
            {"width", width},
            {"height", height},
            {"offset_file", file},
            {"ozr_temperature_sensor0_c", temp},
            {"ozr_temperature_sensor1_c", temp},
            {"ozr_temperature_sensor2_c", temp},
            {"ozr_temperature_sensor3_c", temp}};
}

std::vector<uint16_t> pixels(const PhaseOffsetData& d) {
    std::vector<uint16_t> v;
    for (size_t i = 0; i < d.offsetImage->pixelCount(); ++i) {
        v.push_back(d.offsetImage->getData()[i].getRaw());
    }
    return v;
}

class PhaseOffsetProviderTest : public testsupport::ProviderTest<PhaseOffsetProvider> {
protected:
    // Entries at 10, 20 and 30 MHz, listed out of order.
    void writeThreeFrequencies() {
        dir.writeWords("10.bin", {100, 200, 300, 400});
        dir.writeWords("20.bin", {1000, 2000, 3000, 65535});
        dir.writeWords("30.bin", {3000, 4000, 5000, 6000});
        dir.writeIndex(json({{"phaseOffsetData",
                              {entry(30000000, "30.bin", 2, 2, 40.0f), entry(10000000, "10.bin"),
                               entry(20000000, "20.bin", 2, 2, 30.0f)}}})
                           .dump());
    }
};

TEST_F(PhaseOffsetProviderTest, LoadSortsTheFrequencies) {
    writeThreeFrequencies();
    expectLoadsFrequencies(provider, dir, {10000000, 20000000, 30000000},
                           "PhaseOffsetProvider initialized with 3 calibrated frequencies");
}

TEST_F(PhaseOffsetProviderTest, ExactMatchIsTheFileWithFullTurnWrappedToZero) {
    writeThreeFrequencies();
    load();
    LogCapture log;
    PhaseOffsetData d;
    ASSERT_EQ(provider.getCalibrationData(20000000, d), 0);
    ASSERT_TRUE(d.offsetImage);
    EXPECT_EQ(d.offsetImage->getWidth(), 2u);
    EXPECT_EQ(d.offsetImage->getHeight(), 2u);
    EXPECT_EQ(pixels(d), (std::vector<uint16_t>{1000, 2000, 3000, 0}));
    EXPECT_EQ(d.calibratedFrequency_Hz, 20000000u);
    EXPECT_EQ(d.calibrationTemp_C, 30.0f);
    EXPECT_EQ(d.sensorTempSlope_mm_K, 22.0f);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(PhaseOffsetProviderTest, BetweenTwoEntriesInterpolatesAndAveragesAllEightTemperatures) {
    writeThreeFrequencies();
    load();
    LogCapture log;
    PhaseOffsetData d;
    ASSERT_EQ(provider.getCalibrationData(25000000, d), 0);
    EXPECT_EQ(log.count("Interpolating phase offset for modulation frequency 25000000 Hz."), 1u);
    // 20 MHz: 1000 2000 3000 65535(=0), 30 MHz: 3000 4000 5000 6000, w = 0.5;
    // the last pixel rises from 2pi to 2pi + 6000.
    EXPECT_EQ(pixels(d), (std::vector<uint16_t>{2000, 3000, 4000, 3000}));
    EXPECT_EQ(d.calibrationTemp_C, 35.0f);
    EXPECT_EQ(d.calibratedFrequency_Hz, 25000000u);
}

TEST_F(PhaseOffsetProviderTest, WorkedInterpolationValues) {
    // w = 0.5 between 10 and 20 MHz; w = 0.25 between 20 and 24 MHz.
    dir.writeWords("a.bin", {65000, 500, 2000, 0});
    dir.writeWords("b.bin", {500, 65000, 60000, 1000});
    dir.writeWords("c.bin", {0, 0, 0, 2000});
    dir.writeIndex(
        json({{"phaseOffsetData",
               {entry(10000000, "a.bin"), entry(20000000, "b.bin"), entry(24000000, "c.bin")}}})
            .dump());
    load();
    PhaseOffsetData d;
    ASSERT_EQ(provider.getCalibrationData(15000000, d), 0);
    const auto half = pixels(d);
    EXPECT_EQ(half[0], 65518);  // the short way through 2pi
    EXPECT_EQ(half[1], 32750);  // rising the long way
    EXPECT_EQ(half[2], 31000);
    ASSERT_EQ(provider.getCalibrationData(21000000, d), 0);
    EXPECT_EQ(pixels(d)[3], 1250);
}

TEST_F(PhaseOffsetProviderTest, OutsideTheCalibratedRange) {
    writeThreeFrequencies();
    load();
    for (uint32_t hz : {5000000u, 35000000u}) {
        LogCapture log;
        PhaseOffsetData d;
        ASSERT_EQ(provider.getCalibrationData(20000000, d), 0);
        EXPECT_EQ(provider.getCalibrationData(hz, d), -2);
        EXPECT_FALSE(d.offsetImage);
        EXPECT_EQ(log.count("Selected modulation frequency " + std::to_string(hz) +
                            " Hz is outside of calibrated range."),
                  1u);
        // The temperature fields of the last success stay.
        EXPECT_EQ(d.calibrationTemp_C, 30.0f);
        EXPECT_EQ(d.calibratedFrequency_Hz, 20000000u);
    }
}

TEST_F(PhaseOffsetProviderTest, DuplicateFrequencyUsesTheFirstEntry) {
    dir.writeWords("a.bin", {1, 2, 3, 4});
    dir.writeWords("b.bin", {5, 6, 7, 8});
    dir.writeIndex(
        json({{"phaseOffsetData", {entry(10000000, "a.bin"), entry(10000000, "b.bin")}}}).dump());
    load();
    FrequencyList list;
    provider.getCalibratedFrequencies(list);
    EXPECT_EQ(list.count, 2u);
    PhaseOffsetData d;
    ASSERT_EQ(provider.getCalibrationData(10000000, d), 0);
    EXPECT_EQ(pixels(d), (std::vector<uint16_t>{1, 2, 3, 4}));
}

TEST_F(PhaseOffsetProviderTest, OffsetFileOfTheWrongSize) {
    writeThreeFrequencies();
    load();
    dir.writeWords("20.bin", {1, 2, 3});
    LogCapture log;
    PhaseOffsetData d;
    ASSERT_EQ(provider.getCalibrationData(10000000, d), 0);
    EXPECT_EQ(provider.getCalibrationData(20000000, d), -22);
    EXPECT_FALSE(d.offsetImage);
    const std::string path = (dir.path() / "20.bin").string();
    EXPECT_EQ(
        log.count("Failed to load offset calibration data from " + path + ": Invalid argument"),
        1u);
    dir.writeWords("20.bin", {1, 2, 3, 4, 5});
    EXPECT_EQ(provider.getCalibrationData(20000000, d), -22);
    dir.writeText("20.bin", "12345");
    EXPECT_EQ(provider.getCalibrationData(20000000, d), -22);
}

TEST_F(PhaseOffsetProviderTest, MissingUpperFileIsReportedByName) {
    writeThreeFrequencies();
    load();
    dir.remove("30.bin");
    LogCapture log;
    PhaseOffsetData d;
    EXPECT_EQ(provider.getCalibrationData(25000000, d), -2);
    EXPECT_EQ(log.count("Failed to load offset calibration data from " +
                        (dir.path() / "30.bin").string() + ": No such file or directory"),
              1u);
}

// Files are read from inside the calibration directory only: an absolute
// name is refused, and the record is missing, even where the file exists.
TEST_F(PhaseOffsetProviderTest, AbsoluteFileNamesAreRefused) {
    CalibrationDir other;
    other.writeWords("abs.bin", {9, 8, 7, 6});
    const std::string absolute = (other.path() / "abs.bin").string();
    dir.writeIndex(json({{"phaseOffsetData", {entry(10000000, absolute)}}}).dump());
    load();
    LogCapture log;
    PhaseOffsetData d;
    EXPECT_EQ(provider.getCalibrationData(10000000, d), -2);
    EXPECT_FALSE(d.offsetImage);
    EXPECT_EQ(log.count("Failed to load offset calibration data from " + absolute +
                        ": No such file or directory"),
              1u);
    ASSERT_FALSE(log.lines().empty());
    EXPECT_NE(log.lines()[0].text.find("Calibration file '" + absolute + "'"), std::string::npos)
        << log.lines()[0].text;
}

TEST_F(PhaseOffsetProviderTest, NeighboursOfDifferentSizeAreRefused) {
    dir.writeWords("a.bin", {1, 2, 3, 4});
    dir.writeWords("b.bin", {1, 2});
    dir.writeIndex(
        json({{"phaseOffsetData", {entry(10000000, "a.bin"), entry(20000000, "b.bin", 2, 1)}}})
            .dump());
    load();
    LogCapture log;
    PhaseOffsetData d;
    ASSERT_EQ(provider.getCalibrationData(10000000, d), 0);
    EXPECT_EQ(provider.getCalibrationData(15000000, d), -22);
    EXPECT_FALSE(d.offsetImage);
    EXPECT_EQ(log.count("Phase offset image dimensions do not match"), 1u);
}

TEST_F(PhaseOffsetProviderTest, IndexGoneOrBrokenAfterTheLoad) {
    writeThreeFrequencies();
    load();
    PhaseOffsetData d;
    ASSERT_EQ(provider.getCalibrationData(10000000, d), 0);
    dir.remove("calibration_info.json");
    LogCapture log;
    EXPECT_EQ(provider.getCalibrationData(10000000, d), -2);
    EXPECT_FALSE(d.offsetImage);
    EXPECT_EQ(log.count("Failed to load calibration info: No such file or directory"), 1u);
    dir.writeIndex("{");
    ASSERT_EQ(provider.getCalibrationData(20000000, d), -22);
    EXPECT_EQ(log.count("Failed to load calibration info: Invalid argument"), 1u);
}

// A re-read index that does not have the expected shape is reported and
// refused; nothing is thrown out of the provider.
TEST_F(PhaseOffsetProviderTest, MalformedIndexOnRequestIsMinus22) {
    writeThreeFrequencies();
    load();
    json broken = entry(10000000, "10.bin");
    json lacking = broken;
    lacking.erase("height");
    json mistyped = broken;
    mistyped["ozr_temperature_sensor2_c"] = "warm";
    json badName = broken;
    badName["offset_file"] = 12;
    json hugeWidth = broken;
    hugeWidth["width"] = 1e30;
    const std::vector<json> indexes = {
        json({{"phaseOffsetData", {lacking}}}),
        json({{"phaseOffsetData", {mistyped}}}),
        json({{"phaseOffsetData", {badName}}}),
        json({{"phaseOffsetData", {hugeWidth}}}),
        json({{"phaseOffsetData", {{{"modulation_frequency_hz", 10000000}}}}}),
        json({{"other", 1}}),
        json({{"phaseOffsetData", broken}}),
        json::array({broken}),
        json("text"),
    };
    expectBrokenIndexesRefused<PhaseOffsetData>(
        provider, dir, 10000000, json({{"phaseOffsetData", {broken}}}), indexes,
        [](const PhaseOffsetData& d) { return !d.offsetImage; });
}

TEST_F(PhaseOffsetProviderTest, EntriesThatAreNotObjectsArePassedOver) {
    writeThreeFrequencies();
    load();
    dir.writeIndex(json({{"phaseOffsetData", {7, entry(10000000, "10.bin"), "x"}}}).dump());
    PhaseOffsetData d;
    ASSERT_EQ(provider.getCalibrationData(10000000, d), 0);
    EXPECT_EQ(pixels(d), (std::vector<uint16_t>{100, 200, 300, 400}));
}

TEST_F(PhaseOffsetProviderTest, NegativeSizesWrapAndNeverReadOutOfBounds) {
    dir.writeWords("a.bin", {1, 2, 3, 4});
    dir.writeIndex(json({{"phaseOffsetData", {entry(10000000, "a.bin", -2, 2)}}}).dump());
    load();
    LogCapture log;
    PhaseOffsetData d;
    EXPECT_EQ(provider.getCalibrationData(10000000, d), -22);  // 65534 x 2 pixels expected
    EXPECT_FALSE(d.offsetImage);
    EXPECT_EQ(log.count("Failed to load offset calibration data from " +
                        (dir.path() / "a.bin").string() + ": Invalid argument"),
              1u);
}

TEST_F(PhaseOffsetProviderTest, EmptyImageEntry) {
    dir.writeText("e.bin", "");
    dir.writeIndex(json({{"phaseOffsetData", {entry(10000000, "e.bin", 0, 0)}}}).dump());
    load();
    PhaseOffsetData d;
    ASSERT_EQ(provider.getCalibrationData(10000000, d), 0);
    ASSERT_TRUE(d.offsetImage);
    EXPECT_EQ(d.offsetImage->pixelCount(), 0u);
}

TEST_F(PhaseOffsetProviderTest, LoadFailures) {
    {
        dir.writeIndex("{\"phaseOffsetData\": [}");
        LogCapture log;
        EXPECT_EQ(provider.loadCalibrationData(dir.str(), ""), -22);
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].text.rfind("Failed to parse calibration info JSON file: ", 0), 0u);
        EXPECT_EQ(lines[1].text, "Failed to load calibration info file");
    }
    {
        dir.writeIndex(json({{"phaseErrorLUTData", json::array()}}).dump());
        LogCapture log;
        EXPECT_EQ(provider.loadCalibrationData(dir.str(), ""), -22);
        EXPECT_EQ(log.count("Invalid calibration file format: 'phaseOffsetData' array not found"),
                  1u);
    }
    {
        json a = entry(10000000, "a.bin");
        a.erase("modulation_frequency_hz");
        dir.writeIndex(json({{"phaseOffsetData", {a, a}}}).dump());
        LogCapture log;
        EXPECT_EQ(provider.loadCalibrationData(dir.str(), ""), -2);
        EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_WARN), 2u);
        EXPECT_EQ(log.count("No valid calibration frequencies found"), 1u);
        FrequencyList list;
        provider.getCalibratedFrequencies(list);
        EXPECT_EQ(list.count, 0u);
        EXPECT_EQ(list.frequencies, nullptr);
    }
}

}  // namespace
