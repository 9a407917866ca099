// The provider without calibration.
#include "ozr/defaultProvider.h"

#include <gtest/gtest.h>

TEST(DefaultProvider, ResetsEveryRecordToItsDefaultsAndAnswersMinus2) {
    PhaseOffsetData offset;
    offset.offsetImage = Image<PhaseType<uint16_t>>::createNewBuffer(2, 2);
    offset.calibrationTemp_C = 40.0f;
    offset.sensorTempSlope_mm_K = 22.0f;
    offset.calibratedFrequency_Hz = 5;
    EXPECT_EQ(DefaultProvider<PhaseOffsetData>::getInstance().getCalibrationData(20000000, offset),
              -2);
    EXPECT_FALSE(offset.offsetImage);
    EXPECT_EQ(offset.calibrationTemp_C, 25.0f);
    EXPECT_EQ(offset.sensorTempSlope_mm_K, 0.0f);
    EXPECT_EQ(offset.calibratedFrequency_Hz, 0u);

    PhaseErrorLUTData lut;
    lut.lut = std::make_unique<PhaseType<uint16_t>[]>(4);
    lut.lutSize = 4;
    EXPECT_EQ(DefaultProvider<PhaseErrorLUTData>::getInstance().getCalibrationData(0, lut), -2);
    EXPECT_FALSE(lut.lut);
    EXPECT_EQ(lut.lutSize, 0u);

    DsnuOffsetData dsnu;
    dsnu.offsetImage = Image<uint16_t>::createNewBuffer(1, 1);
    EXPECT_EQ(DefaultProvider<DsnuOffsetData>::getInstance().getCalibrationData(0, dsnu), -2);
    EXPECT_FALSE(dsnu.offsetImage);

    PrnuGainData prnu;
    prnu.gainImage = Image<uint16_t>::createNewBuffer(1, 1);
    prnu.scaleFactor = 0;
    EXPECT_EQ(DefaultProvider<PrnuGainData>::getInstance().getCalibrationData(0, prnu), -2);
    EXPECT_FALSE(prnu.gainImage);
    EXPECT_EQ(prnu.scaleFactor, 1000);
}

TEST(DefaultProvider, HasNoFrequencies) {
    uint32_t dummy = 0;
    FrequencyList list{&dummy, 3};
    DefaultProvider<PhaseOffsetData>::getInstance().getCalibratedFrequencies(list);
    EXPECT_EQ(list.frequencies, nullptr);
    EXPECT_EQ(list.count, 0u);
}

TEST(DefaultProvider, OneInstancePerRecordType) {
    EXPECT_EQ(&DefaultProvider<PhaseOffsetData>::getInstance(),
              &DefaultProvider<PhaseOffsetData>::getInstance());
    EXPECT_NE(static_cast<void*>(&DefaultProvider<PhaseOffsetData>::getInstance()),
              static_cast<void*>(&DefaultProvider<PhaseErrorLUTData>::getInstance()));
}
