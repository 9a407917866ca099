#include "ozr/prnuGainProvider.h"

#include <string>

#include "calibrationFiles.h"
#include "grayscaleCalibration.h"
#include "kyr/platform.h"

bool PrnuGainProvider::initialized = false;

PrnuGainProvider& PrnuGainProvider::getInstance() {
    static PrnuGainProvider instance;
    return instance;
}

PrnuGainProvider::PrnuGainProvider() = default;
PrnuGainProvider::~PrnuGainProvider() = default;

bool PrnuGainProvider::isInitialized() {
    return initialized;
}

int PrnuGainProvider::loadCalibrationData(const std::string& libraryPath,
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
    PrnuGainData trial;
    trial.scaleFactor = 1000;
    rc = getCalibrationData(0, trial);
    if (rc == 0) {
        KYR_LOG_DEBUG("PrnuGainProvider initialized");
        initialized = true;
    } else {
        KYR_LOG_ERROR("Failed to load grayscale PRNU calibration data");
    }
    return rc;
}

int PrnuGainProvider::getCalibrationData(uint32_t /*modFreq*/, PrnuGainData& gainData) {
    nlohmann::json index;
    const int rc =
        ozr::calibration::loadCalibrationInfoFile(index, ozr::calibration::indexPath(calibDataDir));
    if (rc != 0) {
        KYR_LOG_ERROR("Failed to load calibration info: %s", ozr::calibration::errorText(rc));
        gainData.gainImage.reset();
        return rc;
    }
    if (!ozr::calibration::hasGrayscaleSection(index)) {
        KYR_LOG_ERROR("Calibration info does not contain grayscale data");
        gainData.gainImage.reset();
        return -61;
    }
    try {
        const int read = ozr::calibration::readGrayscaleImage(index, calibDataDir, "prnu_file",
                                                              false, gainData.gainImage);
        if (read != 0) {
            return read;
        }
        gainData.scaleFactor =
            ozr::calibration::readUnsigned<uint16_t>(index.at("grayscale").at("prnu_scale_factor"));
        return 0;
    } catch (const std::exception& e) {
        KYR_LOG_ERROR("Failed to parse calibration info JSON file: %s", e.what());
        gainData.gainImage.reset();
        return -22;
    }
}

void PrnuGainProvider::getCalibratedFrequencies(FrequencyList& freqList) {
    freqList.frequencies = nullptr;
    freqList.count = 0;
}
