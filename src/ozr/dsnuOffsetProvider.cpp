#include "ozr/dsnuOffsetProvider.h"

#include <string>

#include "calibrationProvider.h"
#include "grayscaleCalibration.h"

bool DsnuOffsetProvider::initialized = false;

DsnuOffsetProvider& DsnuOffsetProvider::getInstance() {
    static DsnuOffsetProvider instance;
    return instance;
}

DsnuOffsetProvider::DsnuOffsetProvider() = default;
DsnuOffsetProvider::~DsnuOffsetProvider() = default;

bool DsnuOffsetProvider::isInitialized() {
    return initialized;
}

int DsnuOffsetProvider::loadCalibrationData(const std::string& libraryPath,
                                            const std::string& userPath) {
    DsnuOffsetData trial;
    const int rc = ozr::calibration::loadByTrialRequest(
        libraryPath, userPath, calibDataDir, [&] { return getCalibrationData(0, trial); },
        "DsnuOffsetProvider initialized", "Failed to load grayscale calibration data");
    if (rc == 0) {
        initialized = true;
    }
    return rc;
}

int DsnuOffsetProvider::getCalibrationData(uint32_t /*modFreq*/, DsnuOffsetData& offsetData) {
    return ozr::calibration::requestGrayscaleImage(calibDataDir, "dsnu_file", true,
                                                   offsetData.offsetImage);
}

void DsnuOffsetProvider::getCalibratedFrequencies(FrequencyList& freqList) {
    freqList.frequencies = nullptr;
    freqList.count = 0;
}
