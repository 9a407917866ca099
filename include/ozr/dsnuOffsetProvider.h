// Grayscale dark offset image from the "grayscale" section of the
// calibration index. Independent of the modulation frequency.
#pragma once

#include <cstdint>
#include <string>

#include "ozr/calibrationData.h"
#include "ozr/calibrationProviderIF.h"
#include "ozr/export.h"

class OZR_API DsnuOffsetProvider final : public CalibrationProviderIF<DsnuOffsetData> {
public:
    static DsnuOffsetProvider& getInstance();

    // Finds the calibration directory and makes a trial request. Returns 0 or
    // the failing code (kyr::status::NO_ENTRY, kyr::status::INVALID_ARGUMENT,
    // kyr::status::NO_DATA).
    int loadCalibrationData(const std::string& libraryPath, const std::string& userPath);

    // `modFreq` is ignored. Returns 0, kyr::status::NO_ENTRY,
    // kyr::status::INVALID_ARGUMENT or kyr::status::NO_DATA.
    int getCalibrationData(uint32_t modFreq, DsnuOffsetData& offsetData) override;

    // Always none: the grayscale calibration has no frequencies.
    void getCalibratedFrequencies(FrequencyList& freqList) override;

    bool isInitialized();

    DsnuOffsetProvider(const DsnuOffsetProvider&) = delete;
    DsnuOffsetProvider& operator=(const DsnuOffsetProvider&) = delete;

private:
    DsnuOffsetProvider();
    ~DsnuOffsetProvider() override;

    static bool initialized;
    std::string calibDataDir;
};
