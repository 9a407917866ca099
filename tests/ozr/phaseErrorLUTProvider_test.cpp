// Phase error tables: loading the frequencies, selecting and interpolating
// tables as signed corrections, and the failure paths of a request.
#include "ozr/phaseErrorLUTProvider.h"

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
using testsupport::expectBrokenIndexesRefused;
using testsupport::expectLoadsFrequencies;
using testsupport::LogCapture;

json entry(uint32_t hz, const std::string& file, long long size) {
    return {{"modulation_frequency_hz", hz}, {"lut_size", size}, {"lut_file", file}};
}

std::vector<uint16_t> table(const PhaseErrorLUTData& d) {
    std::vector<uint16_t> v;
    for (size_t i = 0; i < d.lutSize; ++i) {
        v.push_back(d.lut[i].getRaw());
    }
    return v;
}

class PhaseErrorLUTProviderTest : public testsupport::ProviderTest<PhaseErrorLUTProvider> {
protected:
    // w = 0.5 between 10 and 20 MHz, w = 0.25 between 20 and 24 MHz.
    void writeTables() {
        dir.writeWords("10.bin", {500, 2000, 0, 65535});
        dir.writeWords("20.bin", {65000, 60000, 1000, 65535});
        dir.writeWords("24.bin", {0, 0, 2000, 0});
        dir.writeIndex(json({{"phaseErrorLUTData",
                              {entry(24000000, "24.bin", 4), entry(10000000, "10.bin", 4),
                               entry(20000000, "20.bin", 4)}}})
                           .dump());
    }
};

TEST_F(PhaseErrorLUTProviderTest, LoadSortsTheFrequencies) {
    writeTables();
    expectLoadsFrequencies(provider, dir, {10000000, 20000000, 24000000},
                           "PhaseErrorLUTProvider initialized with 3 calibrated frequencies");
}

TEST_F(PhaseErrorLUTProviderTest, ExactMatchIsTheFileWithFullTurnWrappedToZero) {
    writeTables();
    load();
    LogCapture log;
    PhaseErrorLUTData d;
    ASSERT_EQ(provider.getCalibrationData(10000000, d), 0);
    EXPECT_EQ(table(d), (std::vector<uint16_t>{500, 2000, 0, 0}));
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(PhaseErrorLUTProviderTest, WorkedInterpolationValuesPassThroughZero) {
    writeTables();
    load();
    LogCapture log;
    PhaseErrorLUTData d;
    ASSERT_EQ(provider.getCalibrationData(15000000, d), 0);
    EXPECT_EQ(log.count("Interpolating phase error LUT for modulation frequency 15000000 Hz."), 1u);
    const auto half = table(d);
    EXPECT_EQ(half[0], 65518);  // between +500 and -535: just below zero
    EXPECT_EQ(half[1], 63767);
    EXPECT_EQ(half[3], 0);
    ASSERT_EQ(provider.getCalibrationData(21000000, d), 0);
    EXPECT_EQ(table(d)[2], 1250);
}

TEST_F(PhaseErrorLUTProviderTest, OutsideTheRangeReleasesTheTableOnly) {
    writeTables();
    load();
    PhaseErrorLUTData d;
    ASSERT_EQ(provider.getCalibrationData(10000000, d), 0);
    LogCapture log;
    EXPECT_EQ(provider.getCalibrationData(9999999, d), -2);
    EXPECT_FALSE(d.lut);
    EXPECT_EQ(d.lutSize, 4u);  // left as it was
    EXPECT_EQ(log.count("Selected modulation frequency 9999999 Hz is outside of calibrated range."),
              1u);
}

TEST_F(PhaseErrorLUTProviderTest, TableFileOfTheWrongSize) {
    writeTables();
    load();
    dir.writeWords("20.bin", {1, 2, 3, 4, 5});
    LogCapture log;
    PhaseErrorLUTData d;
    EXPECT_EQ(provider.getCalibrationData(15000000, d), -22);
    EXPECT_FALSE(d.lut);
    EXPECT_EQ(log.count("Failed to load LUT calibration data from " +
                        (dir.path() / "20.bin").string() + ": Invalid argument"),
              1u);
    dir.remove("10.bin");
    EXPECT_EQ(provider.getCalibrationData(15000000, d), -2);
    EXPECT_EQ(log.count("Failed to load LUT calibration data from " +
                        (dir.path() / "10.bin").string() + ": No such file or directory"),
              1u);
}

TEST_F(PhaseErrorLUTProviderTest, NeighboursOfDifferentSizeAreRefused) {
    dir.writeWords("a.bin", {1, 2, 3, 4});
    dir.writeWords("b.bin", {1, 2});
    dir.writeIndex(
        json({{"phaseErrorLUTData", {entry(10000000, "a.bin", 4), entry(20000000, "b.bin", 2)}}})
            .dump());
    load();
    LogCapture log;
    PhaseErrorLUTData d;
    EXPECT_EQ(provider.getCalibrationData(15000000, d), -22);
    EXPECT_FALSE(d.lut);
    EXPECT_EQ(log.count("Phase error LUT dimensions do not match"), 1u);
}

TEST_F(PhaseErrorLUTProviderTest, ZeroEntriesGiveAnEmptyNonNullTable) {
    dir.writeText("e.bin", "");
    dir.writeIndex(json({{"phaseErrorLUTData", {entry(10000000, "e.bin", 0)}}}).dump());
    load();
    PhaseErrorLUTData d;
    d.lutSize = 9;
    ASSERT_EQ(provider.getCalibrationData(10000000, d), 0);
    EXPECT_TRUE(d.lut);
    EXPECT_EQ(d.lutSize, 0u);
}

TEST_F(PhaseErrorLUTProviderTest, AbsurdSizesAreRefusedBeforeAnythingIsRead) {
    dir.writeWords("a.bin", {1, 2, 3, 4});
    for (const json& size : {json(-1), json(1e18), json(18446744073709551615ULL)}) {
        SCOPED_TRACE(size.dump());
        json e = entry(10000000, "a.bin", 4);
        e["lut_size"] = size;
        dir.writeIndex(json({{"phaseErrorLUTData", {e}}}).dump());
        load();
        LogCapture log;
        PhaseErrorLUTData d;
        EXPECT_EQ(provider.getCalibrationData(10000000, d), -22);
        EXPECT_FALSE(d.lut);
        EXPECT_EQ(log.count("Failed to load LUT calibration data from " +
                            (dir.path() / "a.bin").string() + ": Invalid argument"),
                  1u);
    }
}

TEST_F(PhaseErrorLUTProviderTest, MalformedIndexOnRequestIsMinus22) {
    writeTables();
    load();
    json good = entry(10000000, "10.bin", 4);
    json lacking = good;
    lacking.erase("lut_file");
    json mistyped = good;
    mistyped["lut_size"] = "four";
    const std::vector<json> indexes = {json({{"phaseErrorLUTData", {lacking}}}),
                                       json({{"phaseErrorLUTData", {mistyped}}}),
                                       json({{"phaseErrorLUTData", json::object()}}),
                                       json({{"phaseOffsetData", {good}}}),
                                       json::array({good}),
                                       json(nullptr)};
    expectBrokenIndexesRefused<PhaseErrorLUTData>(
        provider, dir, 10000000, json({{"phaseErrorLUTData", {good}}}), indexes,
        [](const PhaseErrorLUTData& d) { return !d.lut; });
}

TEST_F(PhaseErrorLUTProviderTest, LoadWithoutTheSectionIsMinus22) {
    dir.writeIndex(json({{"phaseOffsetData", json::array()}}).dump());
    LogCapture log;
    EXPECT_EQ(provider.loadCalibrationData(dir.str(), ""), -22);
    EXPECT_EQ(log.count("Invalid calibration file format: 'phaseErrorLUTData' array not found"),
              1u);
    EXPECT_EQ(log.count("Failed to parse available frequencies from calibration info"), 1u);
}

}  // namespace
