#include "ozr/dsnuOffsetProvider.h"

#include <string>

#include "calibrationFiles.h"
#include "grayscaleCalibration.h"
#include "kyr/platform.h"

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
    std::string dir;
    int rc = ozr::calibration::findCalibrationDir(libraryPath, userPath, dir);
    if (rc != 0) {
        return rc;
    }
    calibDataDir = dir;
    nlohmann::json index;
    rc = ozr::calibration::loadCalibrationInfoFile(index, ozr::calibration::indexPath(dir));
    if (rc != 0) {
        KYR_LOG_ERROR("Failed to load calibration info file");
        return rc;
    }
    DsnuOffsetData trial;
    rc = getCalibrationData(0, trial);
    if (rc == 0) {
        KYR_LOG_DEBUG("DsnuOffsetProvider initialized");
        initialized = true;
    } else {
        KYR_LOG_ERROR("Failed to load grayscale calibration data");
    }
    return rc;
}

int DsnuOffsetProvider::getCalibrationData(uint32_t /*modFreq*/, DsnuOffsetData& offsetData) {
    nlohmann::json index;
    const int rc =
        ozr::calibration::loadCalibrationInfoFile(index, ozr::calibration::indexPath(calibDataDir));
    if (rc != 0) {
        KYR_LOG_ERROR("Failed to load calibration info: %s", ozr::calibration::errorText(rc));
        offsetData.offsetImage.reset();
        return rc;
    }
    if (!ozr::calibration::hasGrayscaleSection(index)) {
        KYR_LOG_ERROR("Calibration info does not contain grayscale data");
        offsetData.offsetImage.reset();
        return -61;
    }
    try {
        return ozr::calibration::readGrayscaleImage(index, calibDataDir, "dsnu_file", true,
                                                    offsetData.offsetImage);
    } catch (const std::exception& e) {
        KYR_LOG_ERROR("Failed to parse calibration info JSON file: %s", e.what());
        offsetData.offsetImage.reset();
        return -22;
    }
}

void DsnuOffsetProvider::getCalibratedFrequencies(FrequencyList& freqList) {
    freqList.frequencies = nullptr;
    freqList.count = 0;
}
