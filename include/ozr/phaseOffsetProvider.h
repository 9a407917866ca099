// Phase offset calibration: per-pixel phase offset images per modulation
// frequency from the "phaseOffsetData" section of the calibration index,
// interpolated between the two nearest calibrated frequencies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ozr/calibrationData.h"
#include "ozr/calibrationProviderIF.h"
#include "ozr/export.h"

class OZR_API PhaseOffsetProvider final : public CalibrationProviderIF<PhaseOffsetData> {
public:
    static PhaseOffsetProvider& getInstance();

    // Finds the calibration directory (libraryPath, userPath, then the system
    // and per-user defaults) and reads the calibrated frequencies. Returns 0,
    // kyr::status::NO_ENTRY (no directory, no frequency) or
    // kyr::status::INVALID_ARGUMENT (malformed index).
    int loadCalibrationData(const std::string& libraryPath, const std::string& userPath);

    // Reads the index and offset files again and builds a new offset image for
    // `modFreq`. Returns 0; kyr::status::NO_ENTRY outside the calibrated range
    // or for a missing file; kyr::status::INVALID_ARGUMENT for a malformed
    // index or file. On failure only the record's image is emptied.
    int getCalibrationData(uint32_t modFreq, PhaseOffsetData& offsetData) override;

    // The frequencies found by the last successful load (none before).
    void getCalibratedFrequencies(FrequencyList& freqList) override;

    bool isInitialized();

    PhaseOffsetProvider(const PhaseOffsetProvider&) = delete;
    PhaseOffsetProvider& operator=(const PhaseOffsetProvider&) = delete;

private:
    PhaseOffsetProvider();
    ~PhaseOffsetProvider() override;

    static bool initialized;
    std::string calibDataDir;
    std::vector<unsigned int> calibratedFrequencies;
};
