// Selecting and registering the calibration providers, and looking records
// up the way the processing stages do.
#include "ozr/calibration.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "calibrationFiles.h"
#include "ozr/calibrationTestDir.h"
#include "support/log_capture.h"

namespace {

using nlohmann::json;
using testsupport::CalibrationDir;
using testsupport::LogCapture;

void writeFullCalibration(const CalibrationDir& dir) {
    dir.writeWords("offset.bin", {10, 20});
    dir.writeWords("lut.bin", {1, 2, 3});
    dir.writeWords("dsnu.bin", {5, 6});
    dir.writeWords("prnu.bin", {1000, 900});
    const json offset = {{"modulation_frequency_hz", 20000000},
                         {"width", 2},
                         {"height", 1},
                         {"offset_file", "offset.bin"},
                         {"ozr_temperature_sensor0_c", 30},
                         {"ozr_temperature_sensor1_c", 30},
                         {"ozr_temperature_sensor2_c", 30},
                         {"ozr_temperature_sensor3_c", 30}};
    const json lut = {
        {"modulation_frequency_hz", 20000000}, {"lut_size", 3}, {"lut_file", "lut.bin"}};
    dir.writeIndex(json({{"phaseOffsetData", {offset}},
                         {"phaseErrorLUTData", {lut}},
                         {"grayscale",
                          {{"dsnu_file", "dsnu.bin"},
                           {"prnu_file", "prnu.bin"},
                           {"prnu_scale_factor", 1000},
                           {"width", 2},
                           {"height", 1}}}})
                       .dump());
}

void registerDefaults() {
    CalibrationDataRegistry& r = CalibrationDataRegistry::getInstance();
    r.registerProvider<PhaseOffsetData>(DefaultProvider<PhaseOffsetData>::getInstance());
    r.registerProvider<PhaseErrorLUTData>(DefaultProvider<PhaseErrorLUTData>::getInstance());
    r.registerProvider<DsnuOffsetData>(DefaultProvider<DsnuOffsetData>::getInstance());
    r.registerProvider<PrnuGainData>(DefaultProvider<PrnuGainData>::getInstance());
}

class RegisterCalibrationProvidersTest : public ::testing::Test {
protected:
    void TearDown() override { registerDefaults(); }
};

TEST_F(RegisterCalibrationProvidersTest, LoadedProvidersAreRegisteredAndServeTheStages) {
    CalibrationDir dir;
    writeFullCalibration(dir);
    // Loaded from the application's directory first; the registration keeps
    // providers that are already loaded.
    ASSERT_EQ(PhaseOffsetProvider::getInstance().loadCalibrationData(dir.str(), ""), 0);
    ASSERT_EQ(PhaseErrorLUTProvider::getInstance().loadCalibrationData(dir.str(), ""), 0);
    ASSERT_EQ(DsnuOffsetProvider::getInstance().loadCalibrationData(dir.str(), ""), 0);
    ASSERT_EQ(PrnuGainProvider::getInstance().loadCalibrationData(dir.str(), ""), 0);
    LogCapture log;
    EXPECT_EQ(ozr::registerCalibrationProviders("", ""), 4);
    EXPECT_EQ(log.countLevel(kyr::platform::LogLevel::LOG_LEVEL_WARN), 0u);

    CalibrationDataRegistry& r = CalibrationDataRegistry::getInstance();
    EXPECT_EQ(&r.getProvider<PhaseOffsetData>(), &PhaseOffsetProvider::getInstance());
    EXPECT_EQ(&r.getProvider<PhaseErrorLUTData>(), &PhaseErrorLUTProvider::getInstance());
    EXPECT_EQ(&r.getProvider<DsnuOffsetData>(), &DsnuOffsetProvider::getInstance());
    EXPECT_EQ(&r.getProvider<PrnuGainData>(), &PrnuGainProvider::getInstance());

    PhaseOffsetData offset;
    ASSERT_EQ(ozr::getCalibrationData(20000000, offset), 0);
    EXPECT_EQ(offset.offsetImage->getData()[1].getRaw(), 20);
    PhaseErrorLUTData lut;
    ASSERT_EQ(ozr::getCalibrationData(20000000, lut), 0);
    EXPECT_EQ(lut.lutSize, 3u);
    PrnuGainData gain;
    ASSERT_EQ(ozr::getCalibrationData(0, gain), 0);
    EXPECT_EQ(gain.gainImage->getData()[1], 900);
    DsnuOffsetData dark;
    ASSERT_EQ(ozr::getCalibrationData(0, dark), 0);
    EXPECT_EQ(dark.offsetImage->getData()[0], 5);
}

// A provider of the application's own that throws does not take the
// library down.
TEST_F(RegisterCalibrationProvidersTest, ThrowingProviderIsTreatedAsNoCalibration) {
    struct Throwing : CalibrationProviderIF<DsnuOffsetData> {
        int getCalibrationData(uint32_t, DsnuOffsetData&) override {
            throw std::runtime_error("x");
        }
        void getCalibratedFrequencies(FrequencyList&) override {}
    } throwing;
    CalibrationDataRegistry::getInstance().registerProvider<DsnuOffsetData>(throwing);
    LogCapture log;
    DsnuOffsetData dark;
    dark.offsetImage = Image<uint16_t>::createNewBuffer(1, 1);
    EXPECT_EQ(ozr::getCalibrationData(0, dark), -22);
    EXPECT_FALSE(dark.offsetImage);
    EXPECT_EQ(log.count("Calibration provider failed: x"), 1u);
}

bool defaultDirectoriesHoldAnIndex() {
    for (const std::string& dir : ozr::calibration::calibrationSearchPath("", "")) {
        if (std::filesystem::exists(ozr::calibration::indexPath(dir))) {
            return true;
        }
    }
    return false;
}

// Runs in a fresh process, where no provider is loaded yet.
TEST(RegisterCalibrationProvidersDeathTest, FailedLoadsFallBackToTheDefaultProviders) {
    if (defaultDirectoriesHoldAnIndex()) {
        GTEST_SKIP() << "a default calibration directory holds an index on this machine";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            int code = 1;
            {
                CalibrationDir empty;
                const int loaded = ozr::registerCalibrationProviders(empty.str(), "");
                CalibrationDataRegistry& r = CalibrationDataRegistry::getInstance();
                const bool defaults =
                    &r.getProvider<PhaseOffsetData>() ==
                        &DefaultProvider<PhaseOffsetData>::getInstance() &&
                    &r.getProvider<PhaseErrorLUTData>() ==
                        &DefaultProvider<PhaseErrorLUTData>::getInstance() &&
                    &r.getProvider<DsnuOffsetData>() ==
                        &DefaultProvider<DsnuOffsetData>::getInstance() &&
                    &r.getProvider<PrnuGainData>() == &DefaultProvider<PrnuGainData>::getInstance();
                code = loaded == 0 && defaults ? 0 : 1;
            }
            std::exit(code);
        },
        ::testing::ExitedWithCode(0),
        "No phase offset calibration data available. Falling back to default provider with no "
        "calibration data(.|\n)*"
        "No phase error LUT calibration data available. Falling back(.|\n)*"
        "No grayscale DSNU data available. Falling back(.|\n)*"
        "No grayscale PRNU data available. Falling back to default provider with no "
        "calibration data");
}

}  // namespace
