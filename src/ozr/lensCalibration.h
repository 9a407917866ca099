// The lens model of the calibration: the optional "lens" object of the index,
// parsed and checked, kept once per process like the calibration providers.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "ozr/pointCloud.h"

namespace ozr::calibration {

// Reads the "lens" object of an index. Returns 0 with `lens` set,
// kyr::status::NO_ENTRY when the index has none (not logged), or
// kyr::status::INVALID_ARGUMENT with the reason in `why` when it is malformed.
int parseLens(const nlohmann::json& index, LensIntrinsics& lens, std::string& why);

// Checks intrinsics for use: sizes from 1 to 65535, focal lengths positive,
// every value finite. False with the reason in `why`.
bool usableLens(const LensIntrinsics& lens, std::string& why);

// Loads the lens from the first calibration directory whose index opens
// (`libraryPath`, `userPath`, then the default directories), unless a lens is
// already loaded. A malformed lens is logged and left out. Thread-safe.
void loadLensOnce(const std::string& libraryPath, const std::string& userPath);

}  // namespace ozr::calibration
