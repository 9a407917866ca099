#include "ozr/prnuGainProvider.h"

#include <string>

#include "calibrationFiles.h"
#include "calibrationProvider.h"
#include "grayscaleCalibration.h"

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
    PrnuGainData trial;
    trial.scaleFactor = 1000;
    const int rc = ozr::calibration::loadByTrialRequest(
        libraryPath, userPath, calibDataDir, [&] { return getCalibrationData(0, trial); },
        "PrnuGainProvider initialized", "Failed to load grayscale PRNU calibration data");
    if (rc == 0) {
        initialized = true;
    }
    return rc;
}

int PrnuGainProvider::getCalibrationData(uint32_t /*modFreq*/, PrnuGainData& gainData) {
    return ozr::calibration::requestGrayscaleImage(
        calibDataDir, "prnu_file", false, gainData.gainImage,
        [&gainData](const nlohmann::json& section) {
            gainData.scaleFactor =
                ozr::calibration::readUnsigned<uint16_t>(section.at("prnu_scale_factor"));
        });
}

void PrnuGainProvider::getCalibratedFrequencies(FrequencyList& freqList) {
    freqList.frequencies = nullptr;
    freqList.count = 0;
}
