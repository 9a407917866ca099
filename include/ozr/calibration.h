// Calibration data of the camera: the records, the provider interface, the
// default and the four calibrated providers, the registry through which the
// processing stages find them, and two helpers for applications.
//
// An application that keeps its calibration in its own directory loads it
// before it constructs the camera, for example
//     ozr::registerCalibrationProviders("/opt/myapp/calibration", "");
// or registers a provider of its own with
//     CalibrationDataRegistry::getInstance().registerProvider<PhaseOffsetData>(myProvider);
// The camera keeps providers that are already loaded.
#pragma once

#include <cstdint>
#include <string>

#include "kyr/calibration/calibrationDataRegistry.h"
#include "ozr/calibrationData.h"
#include "ozr/calibrationProviderIF.h"
#include "ozr/defaultProvider.h"
#include "ozr/dsnuOffsetProvider.h"
#include "ozr/export.h"
#include "ozr/phaseErrorLUTProvider.h"
#include "ozr/phaseOffsetProvider.h"
#include "ozr/prnuGainProvider.h"

namespace ozr {

// For each calibrated provider in the order phase offset, phase error table,
// grayscale DSNU, grayscale PRNU: loads it if it is not loaded yet, searching
// `libraryPath`, `userPath` and then the default directories, and registers
// it; a provider that fails to load is replaced by the default provider of
// its record type, with a warning. Returns how many of the four providers are
// registered with calibration data.
OZR_API int registerCalibrationProviders(const std::string& libraryPath,
                                         const std::string& userPath);

// Fills `data` for `modFreq` (Hz) from the provider registered for its record
// type, as the processing stages do. Returns the provider's status.
OZR_API int getCalibrationData(uint32_t modFreq, PhaseOffsetData& data);
OZR_API int getCalibrationData(uint32_t modFreq, PhaseErrorLUTData& data);
OZR_API int getCalibrationData(uint32_t modFreq, DsnuOffsetData& data);
OZR_API int getCalibrationData(uint32_t modFreq, PrnuGainData& data);

}  // namespace ozr
