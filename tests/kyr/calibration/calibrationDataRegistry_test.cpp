// The process-wide choice of provider per record type.
#include "kyr/calibration/calibrationDataRegistry.h"

#include <gtest/gtest.h>

namespace {

class FixedOffsetProvider : public CalibrationProviderIF<PhaseOffsetData> {
public:
    int getCalibrationData(uint32_t modFreq, PhaseOffsetData& data) override {
        data.calibratedFrequency_Hz = modFreq + 1;
        return 0;
    }
    void getCalibratedFrequencies(FrequencyList& freqList) override {
        freqList.frequencies = &hz;
        freqList.count = 1;
    }
    uint32_t hz = 42;
};

// Leaves the defaults registered for the other tests.
class CalibrationDataRegistryTest : public ::testing::Test {
protected:
    void TearDown() override {
        registry.registerProvider<PhaseOffsetData>(DefaultProvider<PhaseOffsetData>::getInstance());
    }
    CalibrationDataRegistry& registry = CalibrationDataRegistry::getInstance();
};

TEST_F(CalibrationDataRegistryTest, OneInstance) {
    EXPECT_EQ(&registry, &CalibrationDataRegistry::getInstance());
}

TEST_F(CalibrationDataRegistryTest, UnregisteredTypesGetTheDefaultProvider) {
    // No test registers a provider for the grayscale gain.
    CalibrationProviderIF<PrnuGainData>& p = registry.getProvider<PrnuGainData>();
    EXPECT_EQ(&p, &DefaultProvider<PrnuGainData>::getInstance());
    PrnuGainData d;
    d.scaleFactor = 3;
    EXPECT_EQ(p.getCalibrationData(1, d), -2);
    EXPECT_EQ(d.scaleFactor, 1000);
}

TEST_F(CalibrationDataRegistryTest, RegistrationReplacesPerRecordType) {
    FixedOffsetProvider first;
    FixedOffsetProvider second;
    registry.registerProvider<PhaseOffsetData>(first);
    EXPECT_EQ(&registry.getProvider<PhaseOffsetData>(), &first);
    registry.registerProvider<PhaseOffsetData>(second);
    EXPECT_EQ(&registry.getProvider<PhaseOffsetData>(), &second);
    PhaseOffsetData d;
    EXPECT_EQ(registry.getProvider<PhaseOffsetData>().getCalibrationData(9, d), 0);
    EXPECT_EQ(d.calibratedFrequency_Hz, 10u);
    // Other record types are not affected.
    EXPECT_EQ(&registry.getProvider<PhaseErrorLUTData>(),
              static_cast<CalibrationProviderIF<PhaseErrorLUTData>*>(
                  &DefaultProvider<PhaseErrorLUTData>::getInstance()));
}

}  // namespace
