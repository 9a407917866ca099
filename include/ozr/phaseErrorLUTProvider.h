// Phase error tables per modulation frequency from the "phaseErrorLUTData"
// section of the calibration index, interpolated between the two nearest
// calibrated frequencies as signed corrections.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ozr/calibrationData.h"
#include "ozr/calibrationProviderIF.h"
#include "ozr/export.h"

class OZR_API PhaseErrorLUTProvider final : public CalibrationProviderIF<PhaseErrorLUTData> {
public:
    static PhaseErrorLUTProvider& getInstance();

    // Finds the calibration directory and reads the calibrated frequencies.
    // Returns 0, kyr::status::NO_ENTRY (no directory, no frequency) or
    // kyr::status::INVALID_ARGUMENT (malformed index).
    int loadCalibrationData(const std::string& libraryPath, const std::string& userPath);

    // Reads the index and table files again and builds a new table for
    // `modFreq`. Returns 0; kyr::status::NO_ENTRY outside the calibrated range
    // or for a missing file; kyr::status::INVALID_ARGUMENT for a malformed
    // index or file. On failure only the record's table is released.
    int getCalibrationData(uint32_t modFreq, PhaseErrorLUTData& lutData) override;

    void getCalibratedFrequencies(FrequencyList& freqList) override;

    bool isInitialized();

    PhaseErrorLUTProvider(const PhaseErrorLUTProvider&) = delete;
    PhaseErrorLUTProvider& operator=(const PhaseErrorLUTProvider&) = delete;

private:
    PhaseErrorLUTProvider();
    ~PhaseErrorLUTProvider() override;

    static bool initialized;
    std::string calibDataDir;
    std::vector<unsigned int> calibratedFrequencies;
};
