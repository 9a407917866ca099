#include "ozr/calibration.h"

#include "calibration/calibrationLookup.h"
#include "kyr/platform.h"
#include "lensCalibration.h"

namespace {

// Registers `provider` when it is loaded (loading it first if needed), and
// the default provider of its record type otherwise. Returns 1 when the
// calibrated provider was registered.
template <class DataT, class Provider>
int selectProvider(Provider& provider, const std::string& libraryPath, const std::string& userPath,
                   const char* fallbackMessage) {
    CalibrationDataRegistry& registry = CalibrationDataRegistry::getInstance();
    if (!provider.isInitialized() && provider.loadCalibrationData(libraryPath, userPath) != 0) {
        KYR_LOG_WARN("%s", fallbackMessage);
        registry.registerProvider<DataT>(DefaultProvider<DataT>::getInstance());
        return 0;
    }
    registry.registerProvider<DataT>(provider);
    return 1;
}

}  // namespace

namespace ozr {

int registerCalibrationProviders(const std::string& libraryPath, const std::string& userPath) {
    PhaseOffsetProvider& phaseOffset = PhaseOffsetProvider::getInstance();
    PhaseErrorLUTProvider& phaseError = PhaseErrorLUTProvider::getInstance();
    DsnuOffsetProvider& dsnu = DsnuOffsetProvider::getInstance();
    PrnuGainProvider& prnu = PrnuGainProvider::getInstance();
    int loaded = 0;
    loaded += selectProvider<PhaseOffsetData>(
        phaseOffset, libraryPath, userPath,
        "No phase offset calibration data available. Falling back to default provider with no "
        "calibration data");
    loaded += selectProvider<PhaseErrorLUTData>(
        phaseError, libraryPath, userPath,
        "No phase error LUT calibration data available. Falling back to default provider with "
        "no calibration data");
    loaded += selectProvider<DsnuOffsetData>(
        dsnu, libraryPath, userPath,
        "No grayscale DSNU data available. Falling back to default provider with no "
        "calibration data");
    loaded += selectProvider<PrnuGainData>(
        prnu, libraryPath, userPath,
        "No grayscale PRNU data available. Falling back to default provider with no "
        "calibration data");
    // The lens is optional: without one, nothing else changes.
    calibration::loadLensOnce(libraryPath, userPath);
    return loaded;
}

int getCalibrationData(uint32_t modFreq, PhaseOffsetData& data) {
    return lookUpCalibrationData(modFreq, data);
}
int getCalibrationData(uint32_t modFreq, PhaseErrorLUTData& data) {
    return lookUpCalibrationData(modFreq, data);
}
int getCalibrationData(uint32_t modFreq, DsnuOffsetData& data) {
    return lookUpCalibrationData(modFreq, data);
}
int getCalibrationData(uint32_t modFreq, PrnuGainData& data) {
    return lookUpCalibrationData(modFreq, data);
}

}  // namespace ozr
